#!/usr/bin/env bash
# A local certificate authority in this machine's trust store, as an
# administrator may add one, so that the package builds show that none
# reaches a package (a fixture of tests/system). Only as root: otherwise
# plant says so and exits with 77, which ctest reports as skipped.
#   local_ca.sh plant     plants it and checks that it reached the system's
#                         bundle, /etc/ssl/certs/ca-certificates.crt
#   local_ca.sh unplant   removes it if planted; safe to run at any time
# The key is thrown away: nothing is ever signed with this CA.
set -euo pipefail
planted=/usr/local/share/ca-certificates/zarvik-check-planted.crt
bundle=/etc/ssl/certs/ca-certificates.crt
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "$0")/../../scripts/lib/on_exit.sh"
remove_temporaries() { rm -f "$log" "$key"; }

plant() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: not root, so no local CA is planted and the packages are built without one:"
    echo "that none reaches a package is not tested"
    exit 77
  fi
  log=$(mktemp)
  key=$(mktemp)
  on_exit remove_temporaries
  if ! openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$key" \
    -subj "/CN=Zarvik check: a planted local CA" -days 1 -out "$planted" 2>"$log" ||
    ! update-ca-certificates >>"$log" 2>&1; then
    cat "$log" >&2
    echo "check: could not plant a local CA" >&2
    exit 1
  fi
  grep -q -F "$(sed -n 2p "$planted")" "$bundle" || {
    echo "check: the planted CA did not reach the system's trust store" >&2
    exit 1
  }
  echo "planted a local CA in the system's trust store"
}

unplant() {
  if [ "$(id -u)" -eq 0 ] && [ -f "$planted" ]; then
    rm -f "$planted"
    update-ca-certificates >/dev/null 2>&1 || true
  fi
}

case "${1:-}" in
  plant) plant ;;
  unplant) unplant ;;
  *)
    echo "usage: $0 plant|unplant" >&2
    exit 2
    ;;
esac
