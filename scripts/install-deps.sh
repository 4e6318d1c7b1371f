#!/usr/bin/env bash
# Installs the Debian packages Chronavel needs to build, test and benchmark.
# Idempotent: packages already present are left alone and apt is not touched.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config git
  libfastrtps-dev libfastcdr-dev libtinyxml2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pps-tools
  cyclonedds-dev cyclonedds-tools
  chrony
  clang libclang-rt-dev
)
# A 32-bit compiler for the check that the code suits the 32-bit target.
if [ "$(dpkg --print-architecture)" = "amd64" ]; then
  PACKAGES+=(g++-multilib)
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "error: missing packages (${missing[*]}) and not root; install them as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

# chrony is only a test peer: its tests start their own private chronyd, and
# the package's service must never run here. A policy-rc.d answering 101
# forbids service starts to invoke-rc.d and deb-systemd-invoke alike; one the
# host already has is left as it is. (chrony conflicts with the other time
# daemons' packages, so apt replaces e.g. systemd-timesyncd.)
policy=/usr/sbin/policy-rc.d
installing_chrony=false
if [[ " ${missing[*]} " == *" chrony "* ]]; then
  installing_chrony=true
  if [ ! -e "$policy" ]; then
    trap '"${SUDO[@]}" rm -f "$policy"' EXIT
    printf '#!/bin/sh\n# Temporary, from Chronavel scripts/install-deps.sh: no service starts.\nexit 101\n' |
      "${SUDO[@]}" tee "$policy" >/dev/null
    "${SUDO[@]}" chmod 755 "$policy"
  fi
fi

"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

if $installing_chrony && pgrep -a -x chronyd >&2; then
  echo "error: installing chrony left a chronyd running (listed above)" >&2
  exit 1
fi
