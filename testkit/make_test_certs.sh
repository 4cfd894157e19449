#!/usr/bin/env bash
# make_test_certs.sh OUTDIR: throw-away TLS material for the local score
# service: the test CA as ca.pem (tests install it as cacert.pem beside their
# programs), and NAME.pem and NAME.key for each server certificate below.
# The authorities' keys are discarded, so nothing else can ever be signed.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
mkdir -p "$out"
work=$(mktemp -d)
remove_work() { rm -rf "$work"; }
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "$0")/../scripts/lib/on_exit.sh"
on_exit remove_work

# run_openssl ARGS...: openssl, its chatter shown only when it fails.
run_openssl() {
  if ! openssl "$@" 2>"$work/openssl.err"; then
    echo "make_test_certs: openssl $1 failed:" >&2
    cat "$work/openssl.err" >&2
    exit 1
  fi
}

new_key() { run_openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }

# new_ca NAME COMMON_NAME: certificate in $work/NAME.pem
new_ca() {
  new_key "$work/$1.key"
  run_openssl req -x509 -new -key "$work/$1.key" -subj "/CN=$2" -days 3650 -sha256 \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" -out "$work/$1.pem"
}

# new_server NAME CA SUBJECT_ALT_NAMES: OUTDIR/NAME.pem and OUTDIR/NAME.key
new_server() {
  new_key "$work/$1.key"
  run_openssl req -new -key "$work/$1.key" -subj "/CN=$1" -out "$work/$1.csr"
  cat >"$work/$1.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$3
EXT
  local serial
  serial=$(run_openssl rand -hex 8)
  run_openssl x509 -req -in "$work/$1.csr" -CA "$work/$2.pem" -CAkey "$work/$2.key" \
    -set_serial "0x$serial" -days 3650 -sha256 -extfile "$work/$1.ext" -out "$work/$1.pem"
  mv "$work/$1.key" "$work/$1.pem" "$out/"
}

new_ca test-ca "Zarvik test CA"
new_ca stranger-ca "Zarvik untrusted CA"
new_server server test-ca "DNS:localhost,IP:127.0.0.1,IP:::1"
new_server wrong-host test-ca "DNS:wrong.invalid"
new_server stranger stranger-ca "DNS:localhost,IP:127.0.0.1,IP:::1"
# Last, as the build takes its presence to mean the set is complete.
cp "$work/test-ca.pem" "$out/ca.pem"
