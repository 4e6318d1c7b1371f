#!/usr/bin/env bash
# The test suite as the board runs it: cross-built for 32-bit ARM (armhf)
# and run under qemu-arm user-mode emulation, once with the board's 32-bit
# time_t and once with a 64-bit time_t (-D_TIME_BITS=64, what newer armhf
# distributions use). Arguments are passed to ctest.
#
# Nothing of the host changes version: the armhf libraries go into a root
# file system of their own (mmdebstrap, no maintainer scripts run), clang
# and lld cross-compile against it, and qemu-arm 10 is unpacked from
# bookworm-backports into the same cache rather than installed (Debian 12's
# qemu 7.2 cannot run Fast DDS over UDP). Missing host tools (mmdebstrap,
# clang, lld, cmake, the ARM objdump that dpkg-shlibdeps reads the armhf
# programs with) are installed only if apt would neither remove nor upgrade
# a package for them. Needs root: the tree, binfmt_misc, namespaces.
#
# The tests Packages.* make the armhf Debian packages of each build and
# install them on the tree (tests/packaging/packages.sh).
#
# The suite runs in private IPC, network and mount namespaces: its NTP
# segments, DDS traffic and /dev/shm are its own. Programs that the tests
# start run under qemu too, through a binfmt_misc entry that lives as long
# as this script. With a 32-bit time_t the tests' chronyd is the tree's
# armhf one, since the host's reads the 96-byte NTP record, not the board's
# 80-byte one; with a 64-bit time_t the host's (unpacked privately by
# fetch-chronyd.sh) is the right reader, as the 96-byte layouts of ARM and
# x86-64 are the same.
#
#   ARMHF_CACHE  tree and qemu (default /var/cache/chronavel)
#   QEMU_ARM     a qemu-arm of your own; before 8.0 the tests it cannot run
#                are left out, by name
#   BUILD_DIR    the 32-bit time_t build (default build-armhf); the 64-bit
#                one is $BUILD_DIR-t64
#   TIME_BITS    the builds to make and test (default "32 64")
#   CMAKE_ARGS   extra arguments for cmake
#
# With --prepare as the first argument it only makes the tree and fetches
# qemu (what comes from the network), so that CI can do that while it builds;
# with --build it also builds, without testing, so that CI can build while
# other stages test. A build is configured again only when its settings
# change: configuring restamps the build time, and every program relinks.
#
# Exit status: 0 all passed, 1 a build or test failed, 3 this machine cannot
# host the run (no Debian mirror, no binfmt_misc, no namespaces), said why.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${ARMHF_CACHE:-/var/cache/chronavel}"
build32="${BUILD_DIR:-$root/build-armhf}"
time_bits="${TIME_BITS:-32 64}"
jobs="$(nproc 2>/dev/null || echo 2)"
suite=bookworm
mirror=http://deb.debian.org/debian
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "test-armhf: needs root" >&2; exit 1; }
  exec sudo --preserve-env=ARMHF_CACHE,QEMU_ARM,BUILD_DIR,TIME_BITS,CMAKE_ARGS "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive LC_ALL=C
mode=suite
if [ "${1:-}" = "--prepare" ] || [ "${1:-}" = "--build" ]; then
  mode=${1#--}
  shift
fi
cannot() { echo "test-armhf: cannot run on this machine: $*" >&2; exit 3; }
now() { date +%s; }
took() { echo "$(( $(now) - $1 )) s"; }
t_start=$(now)

# ---- host tools ----
need=()
for tool in mmdebstrap:mmdebstrap clang:clang ld.lld:lld cmake:cmake make:make \
            pkg-config:pkg-config unshare:util-linux ip:iproute2 \
            arm-linux-gnueabihf-objdump:binutils-arm-linux-gnueabihf; do
  command -v "${tool%%:*}" >/dev/null || need+=("${tool#*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq || true
  plan=$(apt-get -s install --no-install-recommends "${need[@]}")
  if grep -q '^Remv' <<<"$plan" || grep -q '^Inst [^ ]* \[' <<<"$plan"; then
    echo "test-armhf: installing ${need[*]} would change the host's packages:" >&2
    grep -E '^Remv|^Inst [^ ]* \[' <<<"$plan" >&2
    exit 3
  fi
  apt-get install -y -qq --no-install-recommends --no-remove "${need[@]}"
fi

# ---- qemu-arm ----
t0=$(now)
if [ -n "${QEMU_ARM:-}" ]; then
  qemu="$QEMU_ARM"
else
  qemu="$cache/qemu-backports/usr/bin/qemu-arm"
  if [ ! -x "$qemu" ]; then
    # A private apt state: the host's sources and lists stay as they are.
    apt_dir=$(mktemp -d)
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    echo "deb [signed-by=$keyring] $mirror $suite-backports main" >"$apt_dir/sources.list"
    apt_private=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
                 -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
                 -o APT::Sandbox::User=root)
    apt-get "${apt_private[@]}" update -qq || cannot "no index of $suite-backports from $mirror"
    (cd "$apt_dir" && apt-get "${apt_private[@]}" download -qq "qemu-user/$suite-backports") ||
      cannot "qemu-user could not be downloaded from $suite-backports"
    mkdir -p "$cache/qemu-backports"
    dpkg-deb --fsys-tarfile "$apt_dir"/qemu-user_*.deb | tar -x -C "$cache/qemu-backports" ./usr/bin/qemu-arm
    rm -rf "$apt_dir"
  fi
fi
qemu_version=$("$qemu" --version | sed -n '1s/.*version \([0-9.]*\).*/\1/p')
echo "test-armhf: $qemu, qemu $qemu_version ($(took "$t0"))"

# ---- the armhf tree ----
# The tree's dpkg database, for dpkg-shlibdeps (the packages' Depends): it
# asks dpkg-query which package holds a library, then reads that package's
# shlibs and symbols files. The merged-usr hook's dpkg starts it; the
# packages mmdebstrap unpacked join it from their .deb files, "unpacked" as
# no maintainer script ran.
dpkg_database() {  # tree
  local db="$1/var/lib/dpkg" deb ctl name
  ctl=$(mktemp -d)
  for deb in "$1"/var/cache/apt/archives/*.deb; do
    rm -rf "$ctl" && mkdir "$ctl" && dpkg-deb -e "$deb" "$ctl"
    name=$(sed -n 's/^Package: //p' "$ctl/control")
    ! grep -qx 'Multi-Arch: same' "$ctl/control" || name+=":$(sed -n 's/^Architecture: //p' "$ctl/control")"
    { sed '/^Package:/a Status: install ok unpacked' "$ctl/control"; echo; } >>"$db/status"
    dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); sub(/\/$/, "", $6); print ($6 == "" ? "/." : $6) }' \
      >"$db/info/$name.list"
    for f in shlibs symbols; do [ ! -f "$ctl/$f" ] || cp "$ctl/$f" "$db/info/$name.$f"; done
  done
  rm -rf "$ctl" "$1"/var/cache/apt/archives/*.deb
}

# Merged /usr as on a real bookworm system; chrony for its chronyd; libc-bin
# for the loader cache, without which the host's cache is read instead.
packages=libc-bin,libc6-dev,libstdc++-12-dev,libgcc-12-dev,libfastrtps-dev,libfastcdr-dev
packages+=,libtinyxml2-dev,libgtest-dev,libgmock-dev,pps-tools,chrony,libssl-dev
tree="$cache/armhf-$suite"
stamp="$suite $packages, dpkg database"
t0=$(now)
if [ "$(cat "$tree/.chronavel-tree" 2>/dev/null)" != "$stamp" ]; then
  rm -rf "$tree" "$tree.new"
  mkdir -p "$cache"
  mmdebstrap --quiet --variant=extract --arch=armhf --include="$packages" --skip=cleanup/apt/cache \
    --setup-hook=/usr/share/mmdebstrap/hooks/merged-usr/setup00.sh \
    "$suite" "$tree.new" "$mirror" || cannot "mmdebstrap could not make the armhf tree from $mirror"
  "$qemu" "$tree.new/sbin/ldconfig" -r "$tree.new"
  dpkg_database "$tree.new"
  # Debian's Fast CDR and Fast DDS name their libraries by absolute path;
  # in the tree they sit under its root.
  sed -i "s|\"/usr|\"$tree/usr|g" \
    "$tree.new"/usr/lib/arm-linux-gnueabihf/cmake/fastcdr/*targets*.cmake \
    "$tree.new"/usr/lib/arm-linux-gnueabihf/cmake/fastrtps/*targets*.cmake
  echo "$stamp" >"$tree.new/.chronavel-tree"
  mv "$tree.new" "$tree"
  echo "test-armhf: armhf tree $tree made ($(took "$t0"))"
fi

if [ "$mode" = prepare ]; then
  echo "test-armhf: tree and qemu ready ($(took "$t_start"))"
  exit 0
fi

# ---- binfmt_misc: the programs the tests start run under qemu too ----
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
  cannot "binfmt_misc is not available"
unshare --ipc --net --mount true 2>/dev/null || cannot "no IPC, network and mount namespaces (unshare)"
entry="chronavel-arm-$$"
arm_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
arm_mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# Newest first: this entry wins over one the host may have. F: the
# interpreter is opened now, so the namespaces below do not hide it.
echo ":$entry:M::$arm_magic:$arm_mask:$(readlink -f "$qemu"):PF" >"$binfmt/register" ||
  cannot "binfmt_misc refuses a new entry"
trap 'echo -1 >"$binfmt/$entry" 2>/dev/null || true' EXIT
export QEMU_LD_PREFIX="$tree"

# ---- what cannot run here ----
# qemu-user has no PPS ioctls: PPS_FETCH answers ENOTTY before it looks at
# the descriptor.
exclude='^PpsSource\.LinuxHostRefusesMissingAndNonPpsDevices$'
if [ "${qemu_version%%.*}" -lt 8 ]; then
  # Before 8.0 qemu lacks IP_MULTICAST_IF, so Fast DDS over UDP never
  # matches; and it catches every signal from the start, so a test cannot
  # tell from /proc when the program's own handler is in place.
  exclude+='|^TSSBadInput\.|^Transports/TSSExchange\..*/UDP$|^TSSConcurrency\.|^ServerStorm\.'
  exclude+='|^Sim/SimDemo\.|^ProcessDriver\.(TermDuringWait|ExitLineReports|InProgressIsRetried)'
  echo "test-armhf: qemu $qemu_version is older than 8.0; left out: $exclude"
fi

# ---- build and test ----
status=0
for bits in $time_bits; do
  build="$build32"
  [ "$bits" = 32 ] || build="$build32-t$bits"
  echo "== armhf, $bits-bit time_t: $build =="
  t0=$(now)
  settings=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/arm-linux-gnueabihf.cmake" -DCHRONAVEL_ARMHF_SYSROOT="$tree"
            -DCHRONAVEL_QEMU_ARM="$(readlink -f "$qemu")" -DCHRONAVEL_ARMHF_TIME_BITS="$bits"
            -DCHRONAVEL_WERROR=ON -DCHRONAVEL_BUILD_BENCH=OFF)
  # shellcheck disable=SC2206
  settings+=(${CMAKE_ARGS:-})
  if [ ! -f "$build/CMakeCache.txt" ] || [ "$(cat "$build/.chronavel-settings" 2>/dev/null)" != "${settings[*]}" ]; then
    cmake -S "$root" -B "$build" "${settings[@]}" >/dev/null
    echo "${settings[*]}" >"$build/.chronavel-settings"
  fi
  cmake --build "$build" -j "$jobs"
  echo "test-armhf: built in $(took "$t0")"
  [ "$mode" = suite ] || continue
  t0=$(now)
  if [ "$bits" = 32 ]; then
    export CHRONAVEL_CHRONYD="$tree/usr/sbin/chronyd"
  else
    CHRONAVEL_CHRONYD=$("$root/scripts/fetch-chronyd.sh")
    export CHRONAVEL_CHRONYD
  fi
  # A private /dev/shm, loopback with multicast. Twice as many tests at once
  # as processors: they wait on discovery, daemons and the clock as much as
  # they compute, under emulation too.
  # shellcheck disable=SC2016  # expanded by the inner shell
  unshare --ipc --net --mount --propagation private -- bash -c '
    set -e
    ip link set lo up multicast on
    ip route add 224.0.0.0/4 dev lo
    mount -t tmpfs -o mode=1777 tmpfs /dev/shm
    cd "$1"; shift
    exec ctest --output-on-failure -j "$@"' \
    bash "$build" $((2 * jobs)) -E "$exclude" "$@" || status=1
  echo "test-armhf: $bits-bit time_t tested in $(took "$t0")"
done
echo "test-armhf: $(took "$t_start") in all"
exit "$status"
