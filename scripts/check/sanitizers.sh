#!/usr/bin/env bash
# The whole test suite again under AddressSanitizer and UndefinedBehavior-
# Sanitizer, in build-asan, and the line and branch coverage it reaches per
# folder (the same build counts them with gcov; scripts/coverage.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=testkit/score_service.sh
source "$root/testkit/score_service.sh"
build="$root/build-asan"
# The loopback port of the Linux build in build (the suite step), so that a
# port chosen there holds here too.
port=$(score_service_port_of "$root/build")
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer --coverage"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZARVIK_BUILD_BENCHMARKS=OFF -DZARVIK_LOCAL_PORT="$port" -DCMAKE_CXX_FLAGS="$sanitizers" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
cmake --build "$build"
find "$build" -name '*.gcda' -delete # counts of this run only
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"
"$root/scripts/coverage.sh" "$build"
