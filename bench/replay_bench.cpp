// Throughput of the two per-replay steps of a scan on one realistic replay
// whose body decompresses to about 1 MiB: the summary extraction (reported in
// bytes of decompressed output per second) and the SHA-256 fingerprint of the
// file's bytes (bytes of file per second).

#include "replay/th10replaydecoder.h"
#include "testkit/replay_writer.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <iostream>
#include <streambuf>
#include <vector>

namespace {

const replay_writer::ReplayPlan& bench_plan() {
    static const replay_writer::ReplayPlan plan = replay_writer::sample_plan(2024, 1 << 20);
    return plan;
}

const std::vector<unsigned char>& bench_file() {
    static const std::vector<unsigned char> file = replay_writer::build_replay(bench_plan());
    return file;
}

// Swallows the reader's "Decompression done." while the loop runs.
struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
};

void BM_th10decode(benchmark::State& state) {
    const std::vector<unsigned char>& file = bench_file();
    const std::size_t output_size = replay_writer::build_body(bench_plan()).size();
    std::vector<unsigned char> work(file.size());
    th10replay record;
    NullBuffer null;
    std::streambuf* const saved = std::cout.rdbuf(&null);
    for (auto _ : state) {
        // Unscrambling works in place, so each round starts from the file.
        std::memcpy(work.data(), file.data(), file.size());
        if (!replay::th10decode(work.data(), work.size(), record)) {
            state.SkipWithError("the replay did not decode");
            break;
        }
        benchmark::DoNotOptimize(record.score);
    }
    std::cout.rdbuf(saved);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * output_size));
    state.counters["file_bytes"] = static_cast<double>(file.size());
    state.counters["output_bytes"] = static_cast<double>(output_size);
}
BENCHMARK(BM_th10decode)->Unit(benchmark::kMicrosecond);

void BM_sha256(benchmark::State& state) {
    const std::vector<unsigned char>& file = bench_file();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    for (auto _ : state) {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
        EVP_DigestUpdate(context, file.data(), file.size());
        EVP_DigestFinal_ex(context, digest, &digest_size);
        EVP_MD_CTX_free(context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
    state.counters["file_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_sha256)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
