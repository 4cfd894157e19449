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

# Each step's result (passed, FAILED, not run) is listed once the check
# ends, however it ends: a step that fails does not hide whether the ones
# after it pass. A step that needs what a failed step makes is not run.
titles=()
results=()
summary() {
  local i
  printf '\ncheck: the steps\n'
  for i in "${!titles[@]}"; do
    printf '  %-8s %s (%s)\n' "${results[i]%%|*}" "${titles[i]}" "${results[i]#*|}"
  done
}
at_exit() {
  local status=$1
  results=("${results[@]/#running|*/stopped|while it ran}")
  summary
  null_device_intact "a step of this check replaced it, most likely a tool given /dev/null as
its output file; recreate it as root with: rm /dev/null && mknod -m 666 /dev/null c 1 3" || status=1
  exit "$status"
}
source "$root/scripts/lib/on_exit.sh"
on_exit at_exit

# plan TITLE...: the steps to come, in order, none run yet.
plan() {
  titles=("$@")
  results=("${titles[@]/*/not run|not reached}")
}
failed=0
# step NUMBER [--needs NUMBER] COMMAND...: runs step NUMBER of the plan
# (from 1), unless the step it needs did not pass.
step() {
  local number=$1 started=$SECONDS status=0
  shift
  if [ "$1" = --needs ]; then
    if [ "${results[$2 - 1]%%|*}" != passed ]; then
      results[number - 1]="not run|needs step $2"
      return
    fi
    shift 2
  fi
  printf '\n== %s\n' "${titles[number - 1]}"
  results[number - 1]="running|"
  "$@" || status=$?
  if [ "$status" -eq 0 ]; then
    results[number - 1]="passed|$((SECONDS - started)) s"
  else
    results[number - 1]="FAILED|status $status after $((SECONDS - started)) s"
    failed=1
  fi
}
steps="$root/scripts/check"

if [ "$quick" -eq 1 ]; then
  plan "Install what the build and the test suite need" "Build and test"
  step 1 "$root/scripts/setup.sh" quick
  step 2 --needs 1 "$steps/suite.sh"
  exit "$failed"
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

plan "Install what every step needs" \
  "Build and test" \
  "Build and test with AddressSanitizer and UndefinedBehaviorSanitizer, with coverage" \
  "Fuzz the replay reader for 60 seconds" \
  "Build both packages with a local CA planted, rebuild them from their commit, and read them" \
  "Test the Windows program from its ZIP under Wine" \
  "Build the test suites for Windows and run them under Wine"
step 1 "$root/scripts/setup.sh" test
step 2 --needs 1 "$steps/suite.sh"
step 3 --needs 2 "$steps/sanitizers.sh"
step 4 --needs 1 "$root/fuzz/run.sh" 60
step 5 --needs 1 "$steps/packages.sh"
# The Windows program, built with MinGW-w64 and tested under Wine, a step
# for each way of testing it.
step 6 --needs 5 "$steps/wine.sh"
step 7 --needs 2 "$steps/windows_suites.sh"
exit "$failed"
