#!/usr/bin/env bash
# The build and the whole test suite, in build (with the demo and the
# benchmarks). A folder configured before keeps its settings, such as
# ZARVIK_LOCAL_PORT.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARVIK_BUILD_TESTS=ON -DZARVIK_BUILD_DEMO=ON -DZARVIK_BUILD_BENCHMARKS=ON
cmake --build "$root/build"
ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j "$(nproc)"
