#!/usr/bin/env bash
# Unpacks Debian's chrony into a private cache and prints the path of its
# chronyd. chrony is a test peer only: installing the package would replace
# the machine's own time daemon, so it is never installed. The libraries
# chronyd links are ordinary packages (scripts/install-deps.sh).
#   CHRONAVEL_CACHE  where to unpack (default /var/cache/chronavel as root,
#                    ~/.cache/chronavel otherwise)
set -euo pipefail
if [ "$(id -u)" -eq 0 ]; then
  cache="${CHRONAVEL_CACHE:-/var/cache/chronavel}"
else
  cache="${CHRONAVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/chronavel}"
fi
dir="$cache/chrony-$(dpkg --print-architecture)"
chronyd="$dir/usr/sbin/chronyd"
if [ ! -x "$chronyd" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  if ! (cd "$work" && apt-get download chrony >/dev/null 2>&1); then
    # The package lists may be missing on a fresh machine.
    if [ "$(id -u)" -eq 0 ]; then apt-get update -qq; elif command -v sudo >/dev/null; then sudo apt-get update -qq; fi
    (cd "$work" && apt-get download chrony >/dev/null)
  fi
  mkdir -p "$cache"
  rm -rf "$dir.new"
  dpkg-deb -x "$work"/chrony_*.deb "$dir.new"
  rm -rf "$dir"
  mv "$dir.new" "$dir"
fi
"$chronyd" -v >/dev/null 2>&1 || { echo "fetch-chronyd: $chronyd does not run" >&2; exit 1; }
echo "$chronyd"
