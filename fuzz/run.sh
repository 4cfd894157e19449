#!/usr/bin/env bash
# Builds the replay fuzzer with clang in build-fuzz, writes the seed corpus and
# fuzzes for SECONDS (default 60). Exits non-zero on any finding; the input
# that caused it is left in build-fuzz/fuzz-artifacts.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_BUILD_FUZZERS=ON -DZARVIK_BUILD_TESTS=ON \
  -DZARVIK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target zarvik_fuzz_replay zarvik-make-replays

seeds="$build/fuzz-seeds"
corpus="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
"$build/tools/zarvik-make-replays" --corpus "$seeds" >/dev/null
mkdir -p "$corpus" "$artifacts"

# -close_fd_mask=1 silences the reader's "Decompression done." on stdout.
"$build/fuzz/zarvik_fuzz_replay" -max_total_time="$seconds" -close_fd_mask=1 \
  -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" "$seeds"
