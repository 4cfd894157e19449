// Arbitrary bytes as a replay file: the summary extraction, the date lookup on
// the same bytes written to disk, and the three body operations on their own
// with parameters taken from the input. Besides the sanitizers' checks, it
// aborts when a promise of the reader is broken.

#include "replay/common.h"
#include "replay/th10replaydecoder.h"
#include "testkit/record_checks.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

std::string scratch_path;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The input is rewritten to this file on every run. On a disk file system
    // each rewrite (truncate, write, close) starts a write-back that later
    // runs wait for, which took most of the fuzzer's time; a file in memory
    // costs none of that. /tmp is the fallback where /dev/shm is missing.
    for (const char* directory : {"/dev/shm", "/tmp"}) {
        std::string name = std::string(directory) + "/zarvik-fuzz-XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd >= 0) {
            close(fd);
            scratch_path = name;
            break;
        }
    }
    if (scratch_path.empty()) {
        std::perror("mkstemp");
        std::abort();
    }
    std::atexit([] { std::remove(scratch_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly `size` bytes on the heap, so that AddressSanitizer sees any read
    // past the file's end.
    std::vector<unsigned char> file(data, data + size);
    th10replay record = marked_record();
    if (replay::th10decode(file.data(), file.size(), record)) {
        require(record.player.size() <= 8);
        const th10replay marked = marked_record();
        require(record.date == marked.date && record.replay_hash == marked.replay_hash);
    } else {
        require(same_record(record, marked_record()));
    }

    if (std::FILE* out = std::fopen(scratch_path.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
        require(replay::getReplayDate(scratch_path).size() <= 14);
    }

    if (size >= 6) {
        // Block size (any sign), mask and step from the first bytes; the rest
        // is the region.
        std::int32_t block_size;
        std::memcpy(&block_size, data, 4);
        block_size = block_size % 0x1000; // keep large blocks from dominating
        std::vector<unsigned char> region(data + 6, data + size);
        replay::decode(region.data(), static_cast<std::int32_t>(region.size()), block_size, data[4],
                       data[5]);

        // Decompression into a small, exactly sized buffer.
        const std::uint32_t capacity = data[0] * 8u;
        std::vector<unsigned char> output(capacity);
        const std::uint32_t written = replay::decompress(
            data + 6, output.data(), static_cast<std::uint32_t>(size - 6), capacity);
        require(written <= capacity);

        std::uint32_t position = 0;
        std::uint8_t mask = static_cast<std::uint8_t>(1u << (data[1] % 8));
        replay::get_bit(data + 6, static_cast<std::uint32_t>(size - 6), position, mask,
                        data[2] % 33);
    }
    return 0;
}
