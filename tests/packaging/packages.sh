#!/usr/bin/env bash
# The Debian packages of a build: made with CPack, their control fields and
# contents as the README describes them, lintian without an error (each
# warning it gives is explained in the README), then installed into a
# throw-away root, where chronavel-check passes on the installed example
# configuration and names the installed server's build, systemd accepts the
# unit, and the simulator's demo runs from the installed files.
#   packages.sh BUILD-DIR SOURCE-DIR [PREFIX [SYSROOT]]
# The build's architecture; prefix /usr unless given (/opt/quorvane: the
# board's layout). Installed into a private view of / (overlays in a mount
# namespace of its own).
# SYSROOT: the armhf tree of scripts/test-armhf.sh, for a cross build. Its
# dpkg database names the packages of the libraries the programs link, for
# dpkg-shlibdeps; in a mount namespace of this script's own, the tree's
# libraries sit at their real path, where that database has them. The
# installed programs run under qemu (test-armhf.sh's binfmt_misc entry) on
# the tree with the packages unpacked over it.
set -euo pipefail
build=$1 src=$2 prefix=${3:-/usr} sysroot=${4:-}
if [ -n "$sysroot" ] && [ "${PACKAGES_NAMESPACE:-}" != "$$" ]; then
  PACKAGES_NAMESPACE=$$ exec unshare --mount --propagation private bash "$0" "$@"
fi
export LC_ALL=C
arch=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$arch" ] || arch=$(dpkg --print-architecture)
conf=/etc/chronavel
[[ "$prefix" != /opt/* ]] || conf=$prefix/config/chronavel
out="$build/packages/${prefix//\//_}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }

if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  # dpkg-shlibdeps then reads the binaries with arm-linux-gnueabihf-objdump.
  export DEB_HOST_ARCH=$arch
fi
if [ -n "$sysroot" ]; then
  export DPKG_ADMINDIR="$sysroot/var/lib/dpkg"
  multiarch=$(dpkg-architecture -a "$arch" -q DEB_HOST_MULTIARCH 2>/dev/null)
  mkdir -p "$tmp/lib/$multiarch"
  mount -t overlay overlay -o "lowerdir=$tmp/lib:/usr/lib" /usr/lib
  mount --bind "$sysroot/usr/lib/$multiarch" "/usr/lib/$multiarch"
fi
rm -rf "$out"
# CPack builds the project's preinstall target and stages in the build
# directory: one package run at a time there; the checks below run side by side.
(cd "$build" && flock packaging/cpack.lock \
  cpack -G DEB -B "$out" -D CPACK_PACKAGING_INSTALL_PREFIX="$prefix" >"$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log"; echo "FAIL cpack"; exit 1; }
server=$(echo "$out"/chronavel_*_"$arch".deb) tools=$(echo "$out"/chronavel-tools_*_"$arch".deb)
if [ ! -f "$server" ] || [ ! -f "$tools" ]; then ls "$out"; echo "FAIL no $arch packages"; exit 1; fi

# ---- control fields: package | field | a text the field has ----
while IFS='|' read -r package field want; do
  deb=$server; [ "$package" = chronavel ] || deb=$tools
  have=$(dpkg-deb -f "$deb" "$field")
  [[ "$have" == *"$want"* ]] || fail "$package $field: \"$have\" has no \"$want\""
done <<TABLE
chronavel|Package|chronavel
chronavel|Architecture|$arch
chronavel|Section|net
chronavel|Description|time server of the Quorvane navigation platform
chronavel|Depends|libc6 (>=
chronavel|Depends|libfastrtps
chronavel|Depends|libtinyxml2
chronavel-tools|Package|chronavel-tools
chronavel-tools|Architecture|$arch
chronavel-tools|Depends|libfastrtps
TABLE
# Computed, so nothing the programs do not link: no Fast DDS tools, no chrony.
for deb in "$server" "$tools"; do
  ! dpkg-deb -f "$deb" Depends | grep -qE 'chrony|ntp|fastdds-tools' || fail "$deb depends on a daemon"
done

# ---- contents ----
docs=/usr/share/doc
expected_server="/etc/init.d/chronavel
/lib/systemd/system/chronavel.service
$conf/Chronavel.xml
$conf/Connections.xml
$conf/IODevices.xml
$prefix/bin/chronavel-check
$prefix/sbin/chronavel
$prefix/share/chronavel/idl/aspn2_msgs.idl
$prefix/share/man/man1/chronavel-check.1.gz
$prefix/share/man/man8/chronavel.8.gz
$docs/chronavel/changelog.Debian.gz
$docs/chronavel/copyright
$docs/chronavel/events.md"
expected_tools="$prefix/bin/chronavel-cmd
$prefix/bin/chronavel-sim
$prefix/bin/eventlog-monitor
$prefix/bin/utctime-source
$prefix/share/man/man1/chronavel-cmd.1.gz
$prefix/share/man/man1/chronavel-sim.1.gz
$prefix/share/man/man1/eventlog-monitor.1.gz
$prefix/share/man/man1/utctime-source.1.gz
$docs/chronavel-tools/changelog.Debian.gz
$docs/chronavel-tools/copyright"
if [[ "$prefix" == /opt/* ]]; then
  expected_server+=$'\n/usr/share/lintian/overrides/chronavel'
  expected_tools+=$'\n/usr/share/lintian/overrides/chronavel-tools'
fi
for deb in "$server" "$tools"; do
  want=$expected_server; [ "$deb" = "$server" ] || want=$expected_tools
  have=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort)
  diff <(sort <<<"$want") <(echo "$have") >"$tmp/diff" || { fail "contents of $(basename "$deb"):"; cat "$tmp/diff"; }
done
# The operator's configuration and init script survive upgrades.
want_conffiles=$(printf '/etc/init.d/chronavel\n%s/Chronavel.xml\n%s/Connections.xml\n%s/IODevices.xml' "$conf" "$conf" "$conf")
dpkg-deb --ctrl-tarfile "$server" | tar -x -C "$tmp" ./conffiles ./postinst ./prerm ./postrm ||
  fail "the server package lacks conffiles or maintainer scripts"
[ "$(cat "$tmp/conffiles" 2>/dev/null)" = "$want_conffiles" ] || fail "conffiles: $(cat "$tmp/conffiles")"

# ---- lintian: no error; every warning explained in the README ----
if ! command -v lintian >/dev/null; then
  fail "lintian is not installed (scripts/install-deps.sh installs it)"
else
  lintian --tag-display-limit 0 "$server" "$tools" >"$tmp/lintian" 2>&1 || true
  grep -v '^running with root' "$tmp/lintian" || true
  ! grep -q '^E:' "$tmp/lintian" || fail "lintian reports errors"
  while read -r tag; do
    grep -q "\`$tag\`" "$src/README.md" || fail "lintian warning $tag is not explained in README.md"
  done < <(awk '/^W:/ { print $3 }' "$tmp/lintian" | sort -u)
fi

# ---- installed into a throw-away root ----
root="$tmp/root"
mkdir -p "$root"
dpkg-deb -x "$server" "$root"
dpkg-deb -x "$tools" "$root"
# What the installed programs are run with, then the demo on the installed files.
installed_checks() {  # bin-dir (as seen from here)
  local status=0 out
  out=$("$1/chronavel-check" "$conf/Chronavel.xml" 2>&1) || status=$?
  if [ "$status" -ne 0 ] || ! grep -q "the configuration is fine" <<<"$out"; then
    fail "chronavel-check on the installed configuration ($status):"; echo "$out"
  fi
  grep -q "connections file $conf/Connections.xml" <<<"$out" || fail "the installed configuration names other files"
  local built
  built=$("$1/chronavel-check" --version | sed -n 's|^server //aspn://Zelmar/Chronavel:\([^/]*\)/.*|\1|p')
  if [ -z "$built" ] || ! grep -qaF "$built" "$2"; then fail "--version names no build of the installed server"; fi
  CHRONAVEL_BIN="$1" CHRONAVEL_CONFIG_DIR="$3" BUILD_DIR="$tmp/demo" "$src/scripts/run.sh" >"$tmp/demo.log" 2>&1 ||
    { fail "the demo on the installed files:"; tail -30 "$tmp/demo.log"; }
  grep -F "all stopped" "$tmp/demo.log" || fail "the demo did not end its run"
}

# Merged /usr: dpkg would put /lib's files under /usr/lib.
if [ -L /lib ] && [ -d "$root/lib" ]; then cp -a "$root/lib/." "$root/usr/lib/"; rm -rf "${root:?}/lib"; fi
top=${prefix#/}; top=${top%%/*}
export -f installed_checks fail
export conf src tmp prefix top sysroot
# shellcheck disable=SC2016  # expanded by the inner shell
# Networks, System V segments and /dev/shm of its own too: the demo's DDS
# domain and NTP segments meet no other test's.
unshare --mount --net --ipc --propagation private bash -c '
  set -uo pipefail
  fails=0
  ip link set lo up multicast on && ip route add 224.0.0.0/4 dev lo && mount -t tmpfs -o mode=1777 tmpfs /dev/shm ||
    exit 1
  for d in etc usr $top; do
    [ -d "/$d" ] || mount -t tmpfs tmpfs "/$d"
    mount -t overlay overlay -o "lowerdir=$tmp/root/$d:/$d" "/$d" || exit 1
  done
  if [ -n "$sysroot" ]; then
    mkdir "$tmp/armroot"
    mount -t overlay overlay -o "lowerdir=$tmp/root:$sysroot" "$tmp/armroot" || exit 1
    export QEMU_LD_PREFIX="$tmp/armroot"
  fi
  if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no /lib/systemd/system/chronavel.service || fail "systemd-analyze verify"
  else
    fail "systemd-analyze is not installed"
  fi
  installed_checks "$prefix/bin" "$prefix/sbin/chronavel" "$conf"
  exit "$fails"' || fails=$((fails + $?))
[ "$fails" -eq 0 ] && echo "packages $(basename "$server") $(basename "$tools"): fine"
[ "$fails" -eq 0 ]
