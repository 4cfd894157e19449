# shellcheck shell=bash
# What the shell tests say: ok WHAT for a check that held; fail WHAT ends the
# test on one that did not.
ok() { echo "ok: $*"; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
