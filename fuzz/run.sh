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
# libFuzzer's progress, hundreds of lines, goes to the log; shown are its
# final figures, or on a finding the log's end and the input that caused it.
log="$build/fuzz.log"
status=0
"$build/fuzz/zarvik_fuzz_replay" -max_total_time="$seconds" -close_fd_mask=1 \
  -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log" >&2
  echo "fuzz: failed with status $status; full log in $log" >&2
  sed -n 's/.*Test unit written to //p' "$log" | sed 's/^/fuzz: input that caused it: /' >&2
  exit "$status"
fi
grep -E '^(Done [0-9]+ runs|stat::)' "$log"
echo "fuzz: no findings; full log in $log"
