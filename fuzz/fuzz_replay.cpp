// Arbitrary bytes as a replay file: the summary extraction, the date lookup on
// the same bytes written to disk, the report built from what they yield, and
// the three body operations on their own with parameters taken from the
// input. Besides the sanitizers' checks, it aborts when a promise of the
// reader or of the report is broken.

#include "replay/common.h"
#include "replay/th10replaydecoder.h"
#include "testkit/record_checks.h"
#include "upload/report.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
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

// The report passes names and dates on byte for byte, UTF-8 or not, while the
// parser takes UTF-8 only. So the report goes to it with each byte above 0x7f
// as the character of that number in UTF-8, and each parsed string comes back
// the same way; a character above 0xFF could only come from a wrong escape.
std::string bytes_as_utf8(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string bytes_of(const nlohmann::ordered_json& value) {
    require(value.is_string());
    const std::string& text = value.get_ref<const std::string&>();
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            bytes += text[i];
            continue;
        }
        require((lead == 0xC2 || lead == 0xC3) && i + 1 < text.size());
        bytes += static_cast<char>((lead & 0x03) << 6 | (text[++i] & 0x3F));
    }
    return bytes;
}

bool is_number(const nlohmann::ordered_json& value, std::uint32_t expected) {
    return value.is_number_unsigned() && value.get<std::uint64_t>() == expected;
}

// The report for `record` is one JSON object with the report's keys in their
// order, and each value is the record's.
void check_report(const std::string& token, const th10replay& record) {
    const auto report =
        nlohmann::ordered_json::parse(bytes_as_utf8(make_json(token, record)), nullptr, false);
    require(report.is_object());
    std::vector<std::string> keys;
    for (const auto& item : report.items()) {
        keys.push_back(item.key());
    }
    require(keys == std::vector<std::string>{"token", "replay_hash", "character", "ctype", "rank",
                                             "clear", "score", "player", "date"});
    require(bytes_of(report["token"]) == token);
    require(bytes_of(report["replay_hash"]) == record.replay_hash);
    require(is_number(report["character"], record.character));
    require(is_number(report["ctype"], record.ctype));
    require(is_number(report["rank"], record.rank));
    require(is_number(report["clear"], record.clear));
    const auto& score = report["score"];
    require(score.is_array() && score.size() == th10_stage_scores);
    for (std::size_t stage = 0; stage < th10_stage_scores; ++stage) {
        require(is_number(score[stage], record.score[stage]));
    }
    require(bytes_of(report["player"]) == record.player);
    require(bytes_of(report["date"]) == record.date);
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
    std::FILE* out = std::fopen(scratch_path.c_str(), "wb");
    require(out != nullptr);
    require(std::fwrite(data, 1, size, out) == size);
    require(std::fclose(out) == 0);
    const std::string date = replay::getReplayDate(scratch_path);
    require(date.size() <= 14);

    // Exactly `size` bytes on the heap, so that AddressSanitizer sees any read
    // past the file's end.
    std::vector<unsigned char> file(data, data + size);
    th10replay record = marked_record();
    if (replay::th10decode(file.data(), file.size(), record)) {
        require(record.player.size() <= 8);
        const th10replay marked = marked_record();
        require(record.date == marked.date && record.replay_hash == marked.replay_hash);
        // As the scan fills them, but the hash from the file's own bytes, so
        // that it too holds bytes the report must escape.
        record.date = date;
        record.replay_hash.assign(reinterpret_cast<const char*>(data),
                                  std::min<std::size_t>(size, 64));
        check_report("t\"o\\k\x01\x7f\xff", record);
    } else {
        require(same_record(record, marked_record()));
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
