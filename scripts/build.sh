#!/usr/bin/env bash
# Configures (once) and builds Chronavel.
#   BUILD_DIR   build directory (default: build)
#   CMAKE_ARGS  extra arguments for cmake
#   TARGETS     targets to build (default: all)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
jobs="$(nproc 2>/dev/null || echo 2)"

# shellcheck disable=SC2086
cmake -S "$root" -B "$build_dir" ${CMAKE_ARGS:-} >/dev/null
# shellcheck disable=SC2086
cmake --build "$build_dir" -j "$jobs" ${TARGETS:+--target $TARGETS}
