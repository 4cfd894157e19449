# shellcheck shell=bash
# The count of a test script's checks. A check that fails stops the script
# (with `set -e` and its kit's fail function), so the count is of checks
# passed, and the script's last line says how many ran:
#   ok WHAT          "ok: WHAT", after a check passed
#   tally_summary    "N passed, 0 failed"

tally_passed=0

ok() {
  echo "ok: $*"
  tally_passed=$((tally_passed + 1))
}

tally_summary() { echo "$tally_passed passed, 0 failed"; }
