#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the checks that tests
# alone miss: the suite again under AddressSanitizer and UndefinedBehavior-
# Sanitizer, a minute of fuzzing the replay reader, the Windows program built
# with MinGW-w64 and tested from its ZIP under Wine, the test suites built
# for Windows and run under Wine, and both packages built twice and read as
# they ship.
#   --quick   the plain build and test suite only
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
# At exit, however the check ends: the local CA planted for the package
# builds (below) goes, and the device is checked once more.
planted=/usr/local/share/ca-certificates/zarvik-check-planted.crt
unplant() {
  if [ "$(id -u)" -eq 0 ] && [ -f "$planted" ]; then
    rm -f "$planted"
    update-ca-certificates >/dev/null 2>&1 || true
  fi
}
at_exit() {
  local status=$?
  unplant
  null_device_intact "a step of this check replaced it, most likely a tool given /dev/null as
its output file; recreate it as root with: rm /dev/null && mknod -m 666 /dev/null c 1 3" || status=1
  exit "$status"
}
trap at_exit EXIT
if [ "$quick" -eq 1 ]; then
  "$root/scripts/setup.sh" quick
else
  "$root/scripts/setup.sh" test
fi
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

step() { printf '\n== %s\n' "$*"; }
# bounded SECONDS WHAT COMMAND...: a test script that must not hang the check.
bounded() {
  local seconds=$1 what=$2 status=0
  shift 2
  timeout --kill-after=60 "$seconds" "$@" || status=$?
  case "$status" in
  0) ;;
  124 | 137) echo "check: $what did not finish within $seconds s" >&2 ;;
  *) echo "check: $what failed with status $status" >&2 ;;
  esac
  return "$status"
}
test_count() { ctest --test-dir "$1" -N | sed -n 's/^Total Tests: //p'; }

step "Build and test"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARVIK_BUILD_TESTS=ON -DZARVIK_BUILD_DEMO=ON -DZARVIK_BUILD_BENCHMARKS=ON
cmake --build "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
passed=$(test_count "$root/build")
if [ "$quick" -eq 1 ]; then
  echo "check: $passed passed, 0 failed"
  exit 0
fi

step "Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
# The same build counts which lines and branches the suite runs (gcov).
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer --coverage"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZARVIK_BUILD_BENCHMARKS=OFF -DCMAKE_CXX_FLAGS="$sanitizers" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
cmake --build "$root/build-asan"
find "$root/build-asan" -name '*.gcda' -delete # counts of this run only
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
passed=$((passed + $(test_count "$root/build-asan")))
"$root/scripts/coverage.sh" "$root/build-asan"

step "Fuzz the replay reader for 60 seconds"
"$root/fuzz/run.sh" 60

step "Build the packages and rebuild them from their commit, with a local CA planted, and read them"
# A local authority that an administrator added to this machine must not
# reach the packages: one is planted for the build and removed afterwards.
if [ "$(id -u)" -eq 0 ]; then
  plant_log=$(mktemp)
  # The key is thrown away: nothing is ever signed with this CA.
  plant_key=$(mktemp)
  if ! openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$plant_key" \
    -subj "/CN=Zarvik check: a planted local CA" -days 1 -out "$planted" 2>"$plant_log" ||
    ! update-ca-certificates >>"$plant_log" 2>&1; then
    cat "$plant_log" >&2
    echo "check: could not plant a local CA" >&2
    exit 1
  fi
  rm -f "$plant_log" "$plant_key"
  grep -q -F "$(sed -n 2p "$planted")" /etc/ssl/certs/ca-certificates.crt ||
    { echo "check: the planted CA did not reach the system's trust store" >&2; exit 1; }
  echo "planted a local CA in the system's trust store"
else
  echo "check: not root, so the packages are built without a planted local CA"
fi
"$root/scripts/windows.sh"
"$root/scripts/linux.sh"
zip=$(ls "$root"/build-win64/zarvik-*-win64.zip)
tgz=$(ls "$root"/build-linux/zarvik-*-Linux.tar.gz)
# Each package rebuilt from the commit its record names, in a folder of its
# own, must give the same bytes: what anyone checking a download runs. A
# tree with changes not committed cannot pass: commit them first.
for package in "$zip" "$tgz"; do
  "$root/scripts/rebuild_check.sh" "$package"
done
unplant
package_log=$(mktemp)
bounded 900 "the package test" bash "$root/tests/package/package_test.sh" "$root" "$zip" "$tgz" |
  tee "$package_log"
passed=$((passed + 2 + $(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' "$package_log")))
rm -f "$package_log"

step "Test the Windows program under Wine"
# The same program reporting to the local score service, for the tests
# that upload.
port=$(sed -n 's/^ZARVIK_LOCAL_PORT:[A-Z]*=//p' "$root/build/CMakeCache.txt")
"$root/scripts/windows.sh" --build-dir "$root/build-win64-local" \
  -DZARVIK_UPLOAD_URL="https://localhost:$port/upload/th10" -DZARVIK_BUILD_WINDOWS_TEST_HELPERS=ON
# Test-only Windows programs, built beside the local one and never packed.
cmake --build "$root/build-win64-local" --target zarvik_windows_test_helpers
wine_log=$(mktemp)
bounded 1800 "the Wine test" "$root/tests/windows/wine_test.sh" "$zip" \
  "$root"/build-win64-local/zarvik-*-win64.zip "$root/build" "$root/build-win64-local/tests/windows" |
  tee "$wine_log"
passed=$((passed + $(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' "$wine_log")))
rm -f "$wine_log"

step "Run the test suites built for Windows under Wine"
"$root/scripts/windows_tests.sh" -DZARVIK_LOCAL_PORT="$port"
passed=$((passed + $(test_count "$root/build-win64-tests")))

printf '\n'
echo "check: $passed passed, 0 failed"
