#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the checks that tests
# alone miss: the suite again under AddressSanitizer and UndefinedBehavior-
# Sanitizer, a minute of fuzzing the replay reader, the Windows program built
# with MinGW-w64 and tested from its ZIP under Wine, and the Linux install.
#   --quick   the plain build and test suite only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1
"$root/scripts/setup.sh" test
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

step() { printf '\n== %s\n' "$*"; }
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
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZARVIK_BUILD_BENCHMARKS=OFF -DCMAKE_CXX_FLAGS="$sanitizers" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
cmake --build "$root/build-asan"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
passed=$((passed + $(test_count "$root/build-asan")))

step "Fuzz the replay reader for 60 seconds"
"$root/fuzz/run.sh" 60

step "Build the Windows program and test it under Wine"
# The package players download, and the same program reporting to the local
# score service, for the tests that upload.
port=$(sed -n 's/^ZARVIK_LOCAL_PORT:[A-Z]*=//p' "$root/build/CMakeCache.txt")
"$root/scripts/windows.sh"
"$root/scripts/windows.sh" --build-dir "$root/build-win64-local" \
  -DZARVIK_UPLOAD_URL="https://localhost:$port/upload/th10"
wine_log=$(mktemp)
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tests/windows/wine_test.sh" "$root"/build-win64/zarvik-*-win64.zip \
  "$root"/build-win64-local/zarvik-*-win64.zip "$root/build" | tee "$wine_log"
passed=$((passed + $(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' "$wine_log")))
rm -f "$wine_log"

step "Install and pack the player's folder"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cmake --install "$root/build" --prefix "$staging" >/dev/null
for file in zarvik cacert.pem licenses/zarvik.txt licenses/qt.txt licenses/openssl.txt \
  licenses/curl.txt; do
  [ -s "$staging/zarvik/$file" ] || { echo "missing from the installed folder: $file" >&2; exit 1; }
done
(cd "$root/build" && cpack -G TGZ >/dev/null)
echo "ok: $(ls "$root"/build/zarvik-*.tar.gz)"

printf '\n'
echo "check: $passed passed, 0 failed"
