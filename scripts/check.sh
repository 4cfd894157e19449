#!/usr/bin/env bash
# Builds everything and runs every test, as the list of steps below. Each
# step is a script of its own that can also be run alone; a later step uses
# what the earlier ones built.
#   check.sh          every step
#   check.sh --quick  the build and the test suite only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1
# A tool that writes its output to a new file and renames it over the one it
# was given replaces a device named as that output with a regular file (gcovr
# did that to /dev/null, run by root). Such a machine breaks other programs
# in odd ways, so the check refuses to start on one and fails if it leaves one.
null_device_intact() {
  [ -c /dev/null ] && return 0
  echo "check: /dev/null is not the null device but $(stat -c %F /dev/null 2>/dev/null || echo 'missing');" >&2
  echo "check: $1" >&2
  return 1
}
null_device_intact "something replaced it before this check started; recreate it as root with
  rm /dev/null && mknod -m 666 /dev/null c 1 3
and run the check again" || exit 1
at_exit() {
  local status=$?
  null_device_intact "a step of this check replaced it, most likely a tool given /dev/null as
its output file; recreate it as root with: rm /dev/null && mknod -m 666 /dev/null c 1 3" || status=1
  exit "$status"
}
trap at_exit EXIT

# step TITLE COMMAND...
step() {
  printf '\n== %s\n' "$1"
  shift
  "$@"
}
steps="$root/scripts/check"

if [ "$quick" -eq 1 ]; then
  step "Install what the build and the test suite need" "$root/scripts/setup.sh" quick
  step "Build and test" "$steps/suite.sh"
  printf '\ncheck: the build and the test suite passed\n'
  exit 0
fi

# The packages step rebuilds each package from its commit and must get the
# same bytes, which no commit can promise for a tree with changes not
# committed (or one outside git). Said now, not after the steps before it.
if ! git -C "$root" rev-parse --verify -q HEAD >/dev/null 2>&1; then
  echo "check: the packages step rebuilds each package from its git commit, and $root" >&2
  echo "check: names none (git missing, or not a checkout); use a git clone, or check.sh --quick" >&2
  exit 1
fi
if [ -n "$(git -C "$root" status --porcelain)" ]; then
  git -C "$root" status --short >&2
  echo "check: the tree has the changes not committed listed above, and the packages step" >&2
  echo "check: rebuilds each package from its commit; commit them first, or run" >&2
  echo "check: check.sh --quick, or a step alone (scripts/check/)" >&2
  exit 1
fi

step "Install what every step needs" "$root/scripts/setup.sh" test
step "Build and test" "$steps/suite.sh"
step "Build and test with AddressSanitizer and UndefinedBehaviorSanitizer, with coverage" \
  "$steps/sanitizers.sh"
step "Fuzz the replay reader for 60 seconds" "$root/fuzz/run.sh" 60
step "Build both packages with a local CA planted, rebuild them from their commit, and read them" \
  "$steps/packages.sh"

# The Windows program, built with MinGW-w64 and tested under Wine, a step
# for each way of testing it.
step "Test the Windows program from its ZIP under Wine" "$steps/wine.sh"
step "Build the test suites for Windows and run them under Wine" "$steps/windows_suites.sh"

printf '\ncheck: every step passed\n'
