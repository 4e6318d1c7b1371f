#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Arguments are passed to ctest (for example: -L unit, -R QV_Config or
# -L concurrency).
#   BUILD_DIR, CMAKE_ARGS, TARGETS as for build.sh
#
# As root the suite runs in network, IPC and mount namespaces of its own:
# loopback with multicast, System V segments and /dev/shm that no other run
# on the machine sees, so that two checkouts can test side by side (their
# DDS domains and NTP segments would otherwise meet).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build_dir="${BUILD_DIR:-$root/build}"
cd "$build_dir"
# Twice as many tests at once as there are processors: they wait on DDS
# discovery, daemons and the simulated board's clock as much as they compute.
jobs=$(( 2 * $(nproc 2>/dev/null || echo 1) ))
if [ "$(id -u)" -eq 0 ] && unshare --net --ipc --mount true 2>/dev/null; then
  exec unshare --net --ipc --mount --propagation private -- bash -c '
    set -e
    ip link set lo up multicast on
    ip route add 224.0.0.0/4 dev lo
    mount -t tmpfs -o mode=1777 tmpfs /dev/shm
    exec ctest --output-on-failure "$@"' bash -j "$jobs" "$@"
fi
exec ctest --output-on-failure -j "$jobs" "$@"
