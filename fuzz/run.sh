#!/usr/bin/env bash
# run.sh [--merge] [SECONDS]: builds the replay fuzzer (the "fuzz" preset)
# and fuzzes for SECONDS (60 unless given) from fuzz/corpus and fresh seed
# replays, failing on any finding; then prints the lines of replay/ and
# upload/report.cpp that the corpus and seeds reach. --merge then merges what
# the run found into fuzz/corpus (for a long run, then commit it).
set -euo pipefail
merge=0
if [ "${1:-}" = "--merge" ]; then
  merge=1
  shift
fi
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
stored="$root/fuzz/corpus"
# Kept files are cut to this size, to keep the repository small.
stored_max_len=4096
# -close_fd_mask=1 silences "Decompression done.".
limits=(-close_fd_mask=1 -timeout=10 -rss_limit_mb=2048)

(cd "$root" && cmake --fresh --preset fuzz >/dev/null && cmake --build --preset fuzz)

seeds="$build/fuzz-seeds"
corpus="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
"$build/tools/zarvik-make-replays" --corpus "$seeds" >/dev/null
# libFuzzer writes new inputs into the first folder named only.
rm -rf "$corpus"
mkdir -p "$corpus" "$artifacts" "$stored"

log="$build/fuzz.log"
status=0
"$build/fuzz/zarvik_fuzz_replay" "${limits[@]}" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$corpus" "$stored" "$seeds" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log" >&2
  echo "fuzz: failed with status $status; full log in $log" >&2
  sed -n 's/.*Test unit written to //p' "$log" | sed 's/^/fuzz: input that caused it: /' >&2
  exit "$status"
fi
grep -E '^(Done [0-9]+ runs|stat::)' "$log"
echo "fuzz: no findings; full log in $log"

# Counted with the llvm tools of the clang that built the coverage build.
llvm_bin=$(dirname "$(readlink -f "$(command -v clang++)")")
profile="$build/fuzz-coverage"
rm -rf "$profile"
mkdir -p "$profile"
LLVM_PROFILE_FILE="$profile/corpus.profraw" "$build/fuzz/zarvik_fuzz_replay_coverage" \
  -close_fd_mask=1 "$stored"/* "$seeds"/* >>"$log" 2>&1
"$llvm_bin/llvm-profdata" merge -sparse "$profile/corpus.profraw" -o "$profile/corpus.profdata"
echo "fuzz: lines reached by fuzz/corpus and the seeds:"
"$llvm_bin/llvm-cov" report "$build/fuzz/zarvik_fuzz_replay_coverage" \
  -instr-profile="$profile/corpus.profdata" "$root/replay" "$root/upload/report.cpp" |
  awk -v root="$root/" 'NR > 2 && $1 != "" && $1 !~ /^-/ {
    file = $1; sub(root, "", file)
    printf "  %-30s lines %s of %s (%s)\n", file, $8 - $9, $8, $10 }'

if [ "$merge" -eq 1 ]; then
  # The smallest set covering what the old corpus, the run and the seeds reach.
  merged="$build/fuzz-merged"
  rm -rf "$merged"
  mkdir -p "$merged"
  "$build/fuzz/zarvik_fuzz_replay" -merge=1 -max_len="$stored_max_len" "${limits[@]}" \
    "$merged" "$stored" "$corpus" "$seeds" >>"$log" 2>&1
  find "$stored" -maxdepth 1 -type f -delete
  cp "$merged"/* "$stored"/
  echo "fuzz/corpus: $(find "$stored" -type f | wc -l) files, $(cat "$stored"/* | wc -c) bytes"
fi
