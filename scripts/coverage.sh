#!/usr/bin/env bash
# coverage.sh BUILD_DIR: how much of each of the program's folders the runs
# in BUILD_DIR executed, lines and branches. BUILD_DIR is a build made with
# --coverage whose tests have run (as check.sh makes its sanitizer build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
remove_scratch() { rm -rf "$scratch"; }
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "$0")/lib/on_exit.sh"
on_exit remove_scratch
counts="$scratch/counts.json"

# Branches that exist only for thrown exceptions, or that the compiler knows
# are never taken, are left out: the figure is about the program's own choices.
# The upload code is counted in its build for the local score service, which
# the tests drive; the shipped build of the same code is only started in them.
gcovr --root "$root" --object-directory "$build" --exclude-throw-branches \
  --exclude-unreachable-branches --json "$counts" \
  "$build/app" "$build/replay" "$build/ui" "$build/upload/CMakeFiles/zarvik_upload_local.dir"
echo "Coverage by the test suite:"
for folder in app replay upload ui; do
  # gcovr writes its report to a new file that it then renames over the one
  # named, so the report goes to a scratch file: named as /dev/null, run by
  # root, it would replace the device with a regular file.
  summary=$(gcovr --root "$root" --add-tracefile "$counts" --filter "$root/$folder/" \
    --print-summary --output "$scratch/report.txt")
  printf '  %-8s lines %s, branches %s\n' "$folder/" "$(sed -n 's/^lines: //p' <<<"$summary")" \
    "$(sed -n 's/^branches: //p' <<<"$summary")"
done
