#!/usr/bin/env bash
# Installs the Debian packages Chronavel needs to build, test and benchmark.
# Idempotent: packages already present are left alone and apt is not touched.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config git
  libfastrtps-dev libfastcdr-dev libtinyxml2-dev
  # DDS Security: the server checks its artifacts with libssl; the demo PKI is made with openssl.
  libssl-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  pps-tools iproute2
  cyclonedds-dev cyclonedds-tools
  clang libclang-rt-dev
  # Making the packages and checking them and the scripts: dpkg-shlibdeps,
  # lintian, shellcheck, systemd-analyze.
  dpkg-dev lintian shellcheck systemd
  # What chronyd links; chrony itself is unpacked privately (fetch-chronyd.sh).
  libcap2 libedit2 libgnutls30 libnettle8 libseccomp2
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

if [ ${#missing[@]} -gt 0 ]; then
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
  "${SUDO[@]}" apt-get update -qq
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests' NTP reader, never installed.
"$(dirname "$0")/fetch-chronyd.sh" >/dev/null
