#include "testkit/replay_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>

namespace replay_writer {

namespace {

// Processed length for a given region, by the same rule as the reader: whole
// blocks, a final partial block only if it is at least a quarter block, and
// one byte less for an odd length.
std::int32_t processed_length(std::int32_t length, std::int32_t block_size) {
    std::int32_t left = length;
    if (left % block_size < block_size / 4) {
        left -= left % block_size;
    }
    return left - (length & 1);
}

struct Rng {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::uint32_t below(std::uint32_t bound) { return next() % bound; }
};

Rng make_rng(std::uint32_t seed) {
    return Rng{(seed * 2654435761u + 0x9E3779B9u) | 1u};
}

class BitWriter {
  public:
    void put(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (used_ % 8 == 0) {
                bytes_.push_back(0);
            }
            if ((value >> i) & 1u) {
                bytes_.back() |= static_cast<unsigned char>(0x80u >> (used_ % 8));
            }
            ++used_;
        }
    }
    std::size_t bits() const { return used_; }
    std::vector<unsigned char> take() { return std::move(bytes_); }

  private:
    std::vector<unsigned char> bytes_;
    std::size_t used_ = 0;
};

constexpr std::uint32_t window_span = 0x2000;
constexpr std::size_t min_match = 3;
constexpr std::size_t max_match = 18;
constexpr int hash_bits = 15;
constexpr int max_chain = 24;

// What the decoder reads at unmasked window index `index` once `written`
// bytes have come out: the latest output byte stored there, 0 if none was, and
// 0 for indices 0x2000 and above, which are never stored to.
unsigned char window_value(const unsigned char* data, std::uint64_t index, std::uint64_t written) {
    if (index >= window_span || written <= index) {
        return 0;
    }
    const std::uint64_t latest = written - 1 - ((written - 1 - index) & (window_span - 1));
    return data[latest];
}

std::uint32_t hash3(const unsigned char* at) {
    const std::uint32_t v = at[0] | at[1] << 8 | at[2] << 16;
    return (v * 2654435761u) >> (32 - hash_bits);
}

// Bytes that look like recorded play: an input state held for a while, then
// changed, two bytes per frame.
void fill_play(std::vector<unsigned char>& bytes, std::size_t from, std::size_t to, Rng& rng) {
    std::uint32_t input = 0;
    for (std::size_t at = from; at < to; ++at) {
        if ((at - from) % 2 == 0 && rng.below(12) == 0) {
            input = rng.below(0x200) & 0x1F3;
        }
        bytes[at] = static_cast<unsigned char>((at - from) % 2 == 0 ? input : input >> 8);
    }
}

// The fixed part of a stage record: mostly zero, some small counters.
void fill_state(std::vector<unsigned char>& bytes, std::size_t from, std::size_t to, Rng& rng) {
    for (std::size_t at = from; at < to; ++at) {
        bytes[at] = rng.below(4) == 0 ? static_cast<unsigned char>(rng.next()) : 0;
    }
}

constexpr std::size_t max_date_text = 150;

} // namespace

void scramble(unsigned char* buffer, std::int32_t length, std::int32_t block_size,
              std::uint8_t mask, std::uint8_t step) {
    if (block_size < 1 || length <= 0) {
        return;
    }
    std::int32_t left = processed_length(length, block_size);
    if (left <= 0) {
        return;
    }
    const std::vector<unsigned char> plain(buffer, buffer + left);
    std::int32_t p = 0;
    while (left > 0) {
        const std::int32_t start = p;
        if (left < block_size) {
            block_size = left;
        }
        for (std::int32_t i = 0; i < (block_size + 1) / 2; ++i) {
            buffer[p++] = plain[start + block_size - 1 - 2 * i] ^ mask;
            mask = static_cast<std::uint8_t>(mask + step);
        }
        for (std::int32_t i = 0; i < block_size / 2; ++i) {
            buffer[p++] = plain[start + block_size - 2 - 2 * i] ^ mask;
            mask = static_cast<std::uint8_t>(mask + step);
        }
        left -= block_size;
    }
}

void scramble_body(unsigned char* buffer, std::int32_t length) {
    scramble(buffer, length, 0x80, 0x3D, 0x7A);
    scramble(buffer, length, 0x400, 0xAA, 0xE1);
}

std::vector<unsigned char> compress(const unsigned char* data, std::size_t size) {
    BitWriter out;
    if (size == 0) {
        return out.take();
    }
    std::vector<std::int64_t> head(std::size_t{1} << hash_bits, -1);
    std::vector<std::int64_t> chain(window_span, -1);
    auto insert = [&](std::size_t at) {
        if (at + min_match <= size) {
            const std::uint32_t h = hash3(data + at);
            chain[at & (window_span - 1)] = head[h];
            head[h] = static_cast<std::int64_t>(at);
        }
    };

    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t limit = std::min(max_match, size - pos);
        std::size_t best_length = 0;
        std::uint32_t best_source = 0;
        auto try_source = [&](std::uint32_t source) {
            // Field = source + 1 must fit in 13 bits.
            if (source >= window_span - 1) {
                return;
            }
            std::size_t n = 0;
            while (n < limit &&
                   window_value(data, std::uint64_t{source} + n, pos + n) == data[pos + n]) {
                ++n;
            }
            if (n > best_length) {
                best_length = n;
                best_source = source;
            }
        };
        if (pos + min_match <= size) {
            std::int64_t candidate = head[hash3(data + pos)];
            for (int tries = 0; tries < max_chain && candidate >= 0 && best_length < limit;
                 ++tries) {
                const std::size_t q = static_cast<std::size_t>(candidate);
                if (pos - q > window_span) {
                    break;
                }
                try_source(static_cast<std::uint32_t>(q & (window_span - 1)));
                const std::int64_t next = chain[q & (window_span - 1)];
                if (next >= candidate) {
                    break; // the ring slot was reused by a newer position
                }
                candidate = next;
            }
            // Indices 0x1FFE onward read 0 past their first two bytes, and
            // unwritten slots read 0: cheap sources for runs of zeros.
            if (data[pos] == 0 && best_length < limit) {
                try_source(window_span - 2);
            }
        }

        if (best_length >= min_match) {
            out.put(0, 1);
            out.put(best_source + 1, 13);
            out.put(static_cast<std::uint32_t>(best_length - min_match), 4);
        } else {
            best_length = 1;
            out.put(1, 1);
            out.put(data[pos], 8);
        }
        for (std::size_t i = 0; i < best_length; ++i) {
            insert(pos + i);
        }
        pos += best_length;
    }

    // The decoder drops an item whose last bit is the last bit of the input,
    // so when the items end on a byte boundary one zero byte follows. Zero
    // padding reads as the start of a copy that runs out of input, which ends
    // decoding without output.
    if (out.bits() % 8 == 0) {
        out.put(0, 8);
    }
    return out.take();
}

std::vector<unsigned char> build_body(const ReplayPlan& plan) {
    std::size_t size = 0x64;
    for (const Stage& stage : plan.stages) {
        size += 0x1C4 + std::size_t{stage.extra_length};
    }
    size += plan.extra_body_bytes;

    std::vector<unsigned char> body(size, 0);
    Rng rng = make_rng(plan.seed);
    fill_state(body, 0x08, 0x64, rng);
    std::size_t at = 0x64;
    for (const Stage& stage : plan.stages) {
        fill_state(body, at, at + 0x1C4, rng);
        store_u32(body, at + 0x08, stage.extra_length);
        store_u32(body, at + 0x0C, stage.stored_score);
        fill_play(body, at + 0x1C4, at + 0x1C4 + stage.extra_length, rng);
        at += 0x1C4 + std::size_t{stage.extra_length};
    }
    fill_play(body, at, size, rng);

    for (std::size_t i = 0; i < 8; ++i) {
        body[i] = i < plan.player.size() ? static_cast<unsigned char>(plan.player[i]) : 0;
    }
    store_u32(body, 0x10, plan.final_score);
    body[0x4C] = plan.stage_count;
    body[0x50] = plan.character;
    body[0x54] = plan.ctype;
    body[0x58] = plan.rank;
    body[0x5C] = plan.clear;
    return body;
}

namespace {

const char* const trailer_head = "Replay information\r\n"
                                 "Version 1.00\r\n"
                                 "Mode Normal\r\n";
const char* const trailer_tail = "Slow Rate 0.00\r\n"
                                 "Stage All Clear\r\n";

} // namespace

std::string build_trailer(const ReplayPlan& plan) {
    std::string tail;
    if (plan.with_date) {
        tail += "Date " + plan.date.substr(0, max_date_text) + "\r\n";
    }
    tail += trailer_tail;
    std::string text = trailer_head;
    // A comment line long enough that the block fills the last 200 bytes.
    const std::size_t wanted = 220;
    if (text.size() + tail.size() + 2 < wanted) {
        text += std::string(wanted - text.size() - tail.size() - 2, '-') + "\r\n";
    }
    return text + tail;
}

std::vector<unsigned char> pack_replay(const std::vector<unsigned char>& body,
                                       const std::string& trailer) {
    std::vector<unsigned char> stored = compress(body);
    scramble_body(stored.data(), static_cast<std::int32_t>(stored.size()));

    std::vector<unsigned char> file(0x24 + stored.size() + trailer.size(), 0);
    store_u32(file, 0x1C, static_cast<std::uint32_t>(stored.size()));
    store_u32(file, 0x20, static_cast<std::uint32_t>(body.size()));
    const auto body_start = file.begin() + 0x24;
    std::copy(stored.begin(), stored.end(), body_start);
    std::copy(trailer.begin(), trailer.end(),
              body_start + static_cast<std::ptrdiff_t>(stored.size()));
    return file;
}

std::vector<unsigned char> build_replay(const ReplayPlan& plan) {
    return pack_replay(build_body(plan), build_trailer(plan));
}

th10replay expected_summary(const ReplayPlan& plan) {
    th10replay summary;
    summary.character = plan.character;
    summary.ctype = plan.ctype;
    summary.rank = plan.rank;
    summary.clear = plan.clear;

    const std::size_t stages = std::min<std::size_t>(plan.stage_count, 6);
    for (std::size_t k = 0; k + 1 < stages; ++k) {
        summary.score[k] = plan.stages.at(k + 1).stored_score * 10u;
    }
    if (stages >= 1) {
        summary.score[stages - 1] = plan.final_score * 10u;
    }

    const std::string name = plan.player.substr(0, 8);
    summary.player = name.substr(0, name.find('\0'));
    if (plan.with_date) {
        const std::string after = plan.date.substr(0, max_date_text) + "\r\n" + trailer_tail;
        summary.date = after.substr(0, 14);
    }
    return summary;
}

ReplayPlan sample_plan(std::uint32_t seed, std::size_t body_bytes) {
    static const char* const names[] = {"Deniz", "AYSEGUL", "kerem", "A",        "zeynep_k",
                                        "Mert",  "oz",      "Elif",  "burak_07", "selin"};
    Rng rng = make_rng(seed);
    ReplayPlan plan;
    plan.seed = seed;
    plan.player = names[rng.below(sizeof names / sizeof names[0])];
    plan.character = static_cast<std::uint8_t>(rng.below(3));
    plan.ctype = static_cast<std::uint8_t>(rng.below(3));
    plan.rank = static_cast<std::uint8_t>(rng.below(5));
    // Extra-stage replays have one stage; others one to six.
    plan.stage_count = static_cast<std::uint8_t>(plan.rank == 4 ? 1 : 1 + rng.below(6));
    plan.clear = static_cast<std::uint8_t>(plan.stage_count == 6 ? 8 : plan.stage_count);

    const std::size_t per_stage = body_bytes / plan.stage_count;
    plan.stages.clear();
    std::uint32_t score = 0;
    for (std::uint8_t i = 0; i < plan.stage_count; ++i) {
        plan.stages.push_back(
            Stage{score, static_cast<std::uint32_t>(per_stage > 0x1C4 ? per_stage - 0x1C4 : 16)});
        score += 200000 + rng.below(3000000);
    }
    plan.final_score = score;
    plan.extra_body_bytes = rng.below(64);

    char date[32];
    std::snprintf(date, sizeof date, "%02u/%02u/%02u %02u:%02u", 10 + rng.below(15),
                  1 + rng.below(12), 1 + rng.below(28), rng.below(24), rng.below(60));
    plan.date = date;
    return plan;
}

void store_u32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

} // namespace replay_writer
