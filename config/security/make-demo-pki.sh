#!/usr/bin/env bash
# Makes a throw-away demonstration PKI for DDS Security in DIR: one CA that
# is both identity and permissions CA, an identity (certificate and key)
# for the server, the command console, the time source and the monitor,
# and the governance and permissions documents of this folder signed by the
# CA as S/MIME. The keys are made on the spot and lie unprotected in DIR:
# never put them on a board (see the README on installing a real PKI).
#
#   make-demo-pki.sh [--expired] DIR
#
# --expired also writes server-expired.pem: the server's key certified for
# a period long past, to show the server's refusal.
set -euo pipefail

usage() { echo "usage: $0 [--expired] DIR" >&2; exit 2; }
expired=false
if [ "${1:-}" = "--expired" ]; then
  expired=true
  shift
fi
[ $# -eq 1 ] || usage
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
subject="/C=XX/O=Chronavel-demo"
days=3650

newkey() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$out/$1.key" 2>/dev/null; }

(umask 077 && newkey ca)
openssl req -x509 -new -key "$out/ca.key" -sha256 -days "$days" \
  -subj "$subject/CN=Chronavel demo CA" -out "$out/ca.pem"

serial=1
for id in server console source monitor; do
  (umask 077 && newkey "$id")
  openssl req -new -key "$out/$id.key" -subj "$subject/CN=$id" -out "$out/$id.csr"
  openssl x509 -req -in "$out/$id.csr" -CA "$out/ca.pem" -CAkey "$out/ca.key" -set_serial "$serial" \
    -days "$days" -sha256 -out "$out/$id.pem" 2>/dev/null
  serial=$((serial + 1))
done

# The start date of a certificate can only be chosen through "openssl ca".
if $expired; then
  printf '%s\n' "[ca]" "default_ca = demo" "[demo]" "database = $out/index.txt" \
    "new_certs_dir = $out" "serial = $out/serial" "default_md = sha256" "policy = any" "[any]" "commonName = supplied" \
    > "$out/ca.cnf"
  : > "$out/index.txt"
  echo 1000 > "$out/serial"
  openssl ca -batch -config "$out/ca.cnf" -cert "$out/ca.pem" -keyfile "$out/ca.key" \
    -in "$out/server.csr" -preserveDN -notext \
    -startdate 20200101000000Z -enddate 20210101000000Z -out "$out/server-expired.pem" 2>/dev/null
  rm -f "$out"/ca.cnf "$out"/index.txt* "$out"/serial* "$out"/1000.pem
fi
rm -f "$out"/*.csr

for doc in governance governance-rollout permissions; do
  openssl smime -sign -text -in "$here/$doc.xml" -signer "$out/ca.pem" -inkey "$out/ca.key" \
    -out "$out/$doc.p7s"
done
