#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then the checks that tests
# alone miss: the suite again under AddressSanitizer and UndefinedBehavior-
# Sanitizer, a minute of fuzzing the replay reader, and a compile of the
# Windows-only code with MinGW-w64.
#   --quick   the plain build and test suite only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1
"$root/scripts/setup.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

step() { printf '\n== %s\n' "$*"; }
test_count() { ctest --test-dir "$1" -N | sed -n 's/^Total Tests: //p'; }

step "Build and test"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
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

step "Compile the Windows-only code with MinGW-w64"
mapfile -t windows_sources < <(cd "$root" && grep -l -r --include='*.cpp' '_WIN32' app replay upload)
for source in "${windows_sources[@]}"; do
  x86_64-w64-mingw32-g++-posix -std=c++17 -fsyntax-only -Wall -Wextra -Werror -I"$root" \
    "$root/$source"
  echo "ok: $source"
done

step "Install and pack the player's folder"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cmake --install "$root/build" --prefix "$staging" >/dev/null
for file in zarvik cacert.pem; do
  [ -s "$staging/zarvik/$file" ] || { echo "missing from the installed folder: $file" >&2; exit 1; }
done
(cd "$root/build" && cpack -G TGZ >/dev/null)
echo "ok: $(ls "$root"/build/zarvik-*.tar.gz)"

printf '\n'
echo "check: $passed passed, 0 failed"
