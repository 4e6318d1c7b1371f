#!/usr/bin/env bash
# The libFuzzer targets of fuzz/: installs what is missing, builds them with
# clang (ASan + UBSan, warnings as errors) in their own build directory, and
#   scripts/fuzz.sh --ci                 runs each briefly on its corpus (ctest -L fuzz), as CI does
#   scripts/fuzz.sh --build              only builds them (CI builds while other stages run)
#   scripts/fuzz.sh [SECONDS] [TARGET..] runs each for SECONDS (default 600), one after another
# A long run grows a working corpus in $BUILD_DIR/fuzz-corpus/<target>
# (seeded from fuzz/corpus/<target>) and puts any crash input in
# $BUILD_DIR/fuzz-crashes/<target>; the log of each run is
# $BUILD_DIR/fuzz-logs/<target>.log. It ends with the executions and
# findings of each target, and fails if any target found something.
#   BUILD_DIR   build directory (default: build-fuzz)
#   CMAKE_ARGS  more cmake arguments, for the first configure
#   FUZZ_FLAGS  more libFuzzer flags for a long run, e.g. -runs=10000000
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build-fuzz}"
targets_all=(fuzz_cdr fuzz_config fuzz_command fuzz_utctime)

ci=false build_only=false
seconds=600
if [ "${1:-}" = "--ci" ]; then
  ci=true
  shift
elif [ "${1:-}" = "--build" ]; then
  build_only=true
  shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
elif [ -n "${1:-}" ] && [[ " ${targets_all[*]} " != *" $1 "* ]]; then
  echo "usage: scripts/fuzz.sh --ci | --build | [SECONDS] [TARGET...]" >&2
  exit 1
fi
targets=("${targets_all[@]}")
[ $# -eq 0 ] || targets=("$@")

"$root/scripts/install-deps.sh"
# Configured once: CC and CXX only count then, and configuring again would
# restamp the build time and relink.
cmake_args=""
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake_args="-DCHRONAVEL_BUILD_FUZZ=ON -DCHRONAVEL_BUILD_TESTS=OFF -DCHRONAVEL_BUILD_BENCH=OFF -DCHRONAVEL_WERROR=ON ${CMAKE_ARGS:-}"
fi
CC=clang CXX=clang++ BUILD_DIR="$build_dir" CMAKE_ARGS="$cmake_args" TARGETS=fuzz_targets \
  "$root/scripts/build.sh"
! $build_only || exit 0

if $ci; then
  cd "$build_dir"
  exec ctest --output-on-failure -L fuzz --no-tests=error
fi

summary=()
found=0
for t in "${targets[@]}"; do
  corpus="$build_dir/fuzz-corpus/$t" crashes="$build_dir/fuzz-crashes/$t" log="$build_dir/fuzz-logs/$t.log"
  mkdir -p "$corpus" "$crashes" "$(dirname "$log")"
  echo "== $t: $seconds s (log: $log)"
  status=0
  # shellcheck disable=SC2086
  "$build_dir/fuzz/$t" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$crashes/" ${FUZZ_FLAGS:-} "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  inputs=$(find "$crashes" -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$inputs" -ne 0 ]; then
    found=1
    grep -m1 -E '^(SUMMARY|==[0-9]+==ERROR)' "$log" >&2 || tail -n 5 "$log" >&2
  fi
  summary+=("$(printf '%-13s %12s executions  %6s/s  exit %d  crash inputs %d' "$t" "${runs:-?}" "${rate:-?}" "$status" "$inputs")")
done
echo
printf '%s\n' "${summary[@]}"
exit "$found"
