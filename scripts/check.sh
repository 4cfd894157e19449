#!/usr/bin/env bash
# Builds everything and runs every test, as the list of steps below, each a
# command that can also be run alone from this folder. Once the first step
# has installed what the others need, a step that fails does not stop the
# check: every step's result is listed at its end, however it ends, so that
# an early failure does not hide whether the later steps pass.
#   check.sh          every step
#   check.sh --quick  the build and the test suite only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
quick=0
[ "${1:-}" != --quick ] || quick=1

# The steps, as titles and commands (shell words), run in order by run.
titles=()
commands=()
results=()
add() {
  titles+=("$1 ($2)")
  commands+=("$2")
}
at_exit() {
  local status=$1 i
  # The system step's fixture removes its test CA; ctest stopped halfway
  # does not run it.
  [ "$quick" -eq 1 ] || tests/package/local_ca.sh unplant
  printf '\ncheck: the steps\n'
  for i in "${!titles[@]}"; do
    printf '  %-8s %s\n' "${results[i]:-not run}" "${titles[i]}"
  done
  exit "$status"
}
source "$root/scripts/lib/on_exit.sh"
on_exit at_exit

# The first step sets up what every other needs: none runs after it failed.
run() {
  local i started failed=0
  for i in "${!titles[@]}"; do
    [ "$i" -eq 0 ] || [ "${results[0]}" = passed ] || break
    printf '\n== %s\n' "${titles[i]}"
    started=$SECONDS
    results[i]=stopped
    if bash -c "${commands[i]}"; then
      results[i]=passed
    else
      results[i]=FAILED
      failed=1
    fi
    titles[i]+=", $((SECONDS - started)) s"
  done
  exit "$failed"
}

# Every build below is configured afresh: a CMake cache keeps every option
# an earlier configure of its folder was given.

# Every tracked script and C++ file, as the project's .shellcheckrc and
# .clang-format have them.
lint="git ls-files -z '*.sh' .ci/run | xargs -0 shellcheck &&
  git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror"

if [ "$quick" -eq 1 ]; then
  add "Install what the build and the test suite need" "scripts/setup.sh quick"
  add "Lint" "$lint"
  add "Build and test" "cmake --workflow --fresh --preset default"
  run
fi

# The check installs Debian packages and plants a test CA in the system's
# trust store, which only root may: said before any step, not halfway.
if [ "$(id -u)" -ne 0 ]; then
  echo "check: needs root, as it installs Debian packages and plants a test CA in the system's" >&2
  echo "check: trust store; run it as root, or check.sh --quick, which plants no CA" >&2
  exit 1
fi
# The system step rebuilds each package from its commit and must get the
# same bytes, which no commit can promise for a tree with changes not
# committed, or one outside git: said now, not after the steps before it.
if ! git rev-parse --verify -q HEAD >/dev/null 2>&1; then
  echo "check: $root is no git checkout, and the system step rebuilds each package from its commit;" >&2
  echo "check: use a git clone, or check.sh --quick" >&2
  exit 1
fi
if [ -n "$(git status --porcelain)" ]; then
  git status --short >&2
  echo "check: the tree has the changes not committed listed above, and the system step rebuilds" >&2
  echo "check: each package from its commit; commit them first, or run check.sh --quick" >&2
  exit 1
fi

add "Install what every step needs" "scripts/setup.sh test"
add "Lint" "$lint"
add "Build and test" "cmake --workflow --fresh --preset default"
add "Test under AddressSanitizer and UndefinedBehaviorSanitizer, with coverage" \
  "cmake --workflow --fresh --preset asan && scripts/coverage.sh build-asan"
add "Fuzz the replay reader for 60 seconds" "fuzz/run.sh 60"
add "Build the packages, rebuild and read them; the Windows program under Wine" \
  "cmake --workflow --fresh --preset system"
add "Build the test suites for Windows and run them under Wine" "cmake --workflow --fresh --preset windows-tests"
run
