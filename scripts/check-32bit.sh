#!/usr/bin/env bash
# Compiles every source file of the server for a 32-bit target (-m32), with
# warnings as errors, to catch code that assumes a 64-bit long, time_t or
# pointer. Only the compiler runs; nothing is linked. The target board is
# 32-bit ARM; i386 has the same type sizes for these purposes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if ! echo 'int main(){}' | g++ -m32 -x c++ -fsyntax-only - 2>/dev/null; then
  echo "check-32bit: no 32-bit C++ toolchain (g++-multilib) here; skipped"
  exit 0
fi

# The DDS libraries and OpenSSL keep their configuration headers in the host's multiarch
# directory; expose only those, so the C library headers are the 32-bit ones.
multiarch="$(g++ -print-multiarch)"
inc="$(mktemp -d)"
trap 'rm -rf "$inc"' EXIT
for lib in fastcdr fastrtps openssl; do
  ln -s "/usr/include/$multiarch/$lib" "$inc/$lib"
done
# What the build provides: the header with the build time, and the paths
# the board kit is configured with.
mkdir -p "$inc/Chronavel"
echo '#define CHRONAVEL_BUILD_TIME "2000-01-01T00:00:00Z"' > "$inc/Chronavel/BuildTime.h"

# One compiler per core; any file that does not compile fails the check.
failed=0
git ls-files 'src/*.cpp' |
  xargs -P "$(nproc 2>/dev/null || echo 2)" -I{} \
    g++ -m32 -std=c++17 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -Isrc -I"$inc" \
      -DCHRONAVEL_EXAMPLE_IO_DEVICES='"config/IODevices.xml"' -DCHRONAVEL_CHRONYD_PATH='"/usr/sbin/chronyd"' \
      {} || failed=1
[ "$failed" -eq 0 ] && echo "check-32bit: every source file compiles for a 32-bit target"
exit "$failed"
