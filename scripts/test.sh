#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Arguments are passed to ctest (for example: -R QV_Config or -L concurrency).
#   BUILD_DIR, CMAKE_ARGS as for build.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build_dir="${BUILD_DIR:-$root/build}"
cd "$build_dir"
ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" "$@"
