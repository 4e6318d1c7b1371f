#!/usr/bin/env bash
# chronavel-check on broken configurations: each row breaks a copy of the
# example set and names the message (file:line: text) that must come, with
# exit status 2; the unbroken set passes with 0.
#   check_table.sh CHRONAVEL-CHECK SOURCE-DIR
set -euo pipefail
check=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0

# A fresh copy of config/ in $tmp/config, checked from $tmp as the relative names
# of the example want.
fresh() { rm -rf "$tmp/config"; cp -r "$src/config" "$tmp/config"; }
# The line of the first match of a pattern in a file of the copy.
line_of() { grep -n -m1 -- "$2" "$tmp/config/$1" | cut -d: -f1; }

# name | file to break | sed script ("rm": delete the file) | line marker | message
while IFS='|' read -r name file edit marker message; do
  [ -n "$name" ] || continue
  fresh
  line=""
  [ -z "$marker" ] || line=":$(line_of "$file" "$marker")"
  if [ "$edit" = rm ]; then
    rm "$tmp/config/$file"
  elif [ -n "$edit" ]; then
    sed -i "$edit" "$tmp/config/$file"
  fi
  status=0
  out=$(cd "$tmp" && "$check" config/Chronavel.xml 2>&1) || status=$?
  want_status=2
  [ "$name" != good ] || want_status=0
  expected="$message"
  [ "$name" = good ] || expected="config/$file$line: $message"
  if [ "$status" -ne "$want_status" ] || ! grep -qF -- "$expected" <<<"$out"; then
    echo "FAIL $name: status $status (want $want_status), no line \"$expected\" in:"
    echo "${out//$'\n'/$'\n'    }"
    fails=$((fails + 1))
  else
    echo "ok   $name"
  fi
done <<'TABLE'
good|Chronavel.xml|||chronavel-check: the configuration is fine
missing file|Connections.xml|rm||cannot be read: No such file or directory
malformed XML|IODevices.xml|0,/<\/Size>/s//<\/Sise>/|</Size>|malformed XML: XML_ERROR_MISMATCHED_ELEMENT (XMLElement name=Size)
missing parameter|Chronavel.xml|/<PRI>/d|<Server>|Chronavel (86) GetConfigParameters : error or could not find setting, PRI (process priority) in configuration file!
number out of range|Connections.xml|s/<DomainId>0</<DomainId>233</|<DomainId>|WARNING - Parameter DomainId has the invalid value "233"
number out of range (unbounded in the server)|Chronavel.xml|s/<PRI>0</<PRI>300</|<PRI>|PRI "300" is not a number from 0 to 99
unknown transport|Connections.xml|s/<UseTransport>UDP</<UseTransport>UDPv6</|<UseTransport>|unknown transport "UDPv6" (SHM, UDP, TCP_Client or TCP_Server)
unknown type|Connections.xml|s/>UTCTimePubSubType</>UtcTimePubSubType</|>UTCTimePubSubType<|unknown PubSubType "UtcTimePubSubType"
security file missing|Connections.xml|s#</DDS>#</DDS><Security><Name>Security</Name><Parameters><IdentityCA>pki/ca.pem</IdentityCA><IdentityCertificate>pki/server.pem</IdentityCertificate><PrivateKey>pki/server.key</PrivateKey><PermissionsCA>pki/ca.pem</PermissionsCA><Governance>pki/governance.p7s</Governance><Permissions>pki/permissions.p7s</Permissions></Parameters></Security>#|</DDS>|DDS security: pki/ca.pem: cannot be read (No such file or directory)
missing set|IODevices.xml|s/>PtpClock_Interface</>PtpClockInterface</|^<QV_Configurations|no configuration set named PtpClock_Interface
TABLE

# A missing top-level file, and the version with the server's build time.
status=0
out=$("$check" "$tmp/none.xml" 2>&1) || status=$?
if [ "$status" -ne 2 ] || ! grep -qF "$tmp/none.xml: cannot be read" <<<"$out"; then
  echo "FAIL missing top-level file: status $status: $out"; fails=$((fails + 1))
fi
if ! "$check" --version | grep -qE '^server //aspn://Zelmar/Chronavel:[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z/ '; then
  echo "FAIL --version: $("$check" --version)"; fails=$((fails + 1))
fi
[ "$fails" -eq 0 ]
