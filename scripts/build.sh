#!/usr/bin/env bash
# Configures (once) and builds Chronavel.
#   BUILD_DIR   build directory (default: build)
#   CMAKE_ARGS  extra arguments for cmake
#   TARGETS     targets to build (default: all)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
jobs="$(nproc 2>/dev/null || echo 2)"

# Configured again only when asked for settings: the build itself notices
# changed CMake files, and a needless configure would restamp the build time
# and relink every program.
if [ ! -f "$build_dir/CMakeCache.txt" ] || [ -n "${CMAKE_ARGS:-}" ]; then
  # shellcheck disable=SC2086
  cmake -S "$root" -B "$build_dir" ${CMAKE_ARGS:-} >/dev/null
fi
# shellcheck disable=SC2086
cmake --build "$build_dir" -j "$jobs" ${TARGETS:+--target $TARGETS}
