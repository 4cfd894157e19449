// The body format on its own: block unscrambling, the bit reader and the
// LZSS decompressor, against hand-worked streams and through round trips with
// the test writer.

#include "replay/common.h"
#include "testkit/replay_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes counting(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    return bytes;
}

Bytes decoded(Bytes bytes, std::int32_t block_size, std::uint8_t mask = 0, std::uint8_t step = 0) {
    replay::decode(bytes.data(), static_cast<std::int32_t>(bytes.size()), block_size, mask, step);
    return bytes;
}

// Hand-assembled bit streams, most significant bit first.
struct Bits {
    Bytes bytes;
    int used = 0;
    Bits& put(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i, ++used) {
            if (used % 8 == 0) {
                bytes.push_back(0);
            }
            bytes.back() |= static_cast<unsigned char>(((value >> i) & 1u) << (7 - used % 8));
        }
        return *this;
    }
    Bits& literal(unsigned char v) { return put(1, 1).put(v, 8); }
    Bits& copy(std::uint32_t field, std::uint32_t length_field) {
        return put(0, 1).put(field, 13).put(length_field, 4);
    }
};

Bytes decompressed(const Bytes& input, std::uint32_t capacity = 1 << 16) {
    Bytes out(capacity);
    out.resize(replay::decompress(input.data(), out.data(),
                                  static_cast<std::uint32_t>(input.size()), capacity));
    return out;
}

Bytes random_bytes(std::size_t n, std::mt19937& rng) {
    Bytes bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

// Random data with runs and repeats, the shapes the encoder's copies cover.
Bytes mixed_bytes(std::size_t n, std::mt19937& rng) {
    Bytes bytes;
    while (bytes.size() < n) {
        const std::size_t run = 1 + rng() % 40;
        switch (rng() % 3) {
        case 0:
            bytes.insert(bytes.end(), run, static_cast<unsigned char>(rng() % 4));
            break;
        case 1:
            if (bytes.size() > 50) {
                const std::size_t from =
                    bytes.size() - 1 - rng() % std::min<std::size_t>(bytes.size() - 1, 0x2100);
                for (std::size_t i = 0; i < run; ++i) {
                    bytes.push_back(bytes[from + i]);
                }
            }
            break;
        default:
            for (std::size_t i = 0; i < run; ++i) {
                bytes.push_back(static_cast<unsigned char>(rng()));
            }
        }
    }
    bytes.resize(n);
    return bytes;
}

TEST(Decode, ReordersWithinBlocks) {
    EXPECT_EQ(decoded({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}, 4),
              (Bytes{0x13, 0x11, 0x12, 0x10, 0x17, 0x15, 0x16, 0x14}));
    EXPECT_EQ(decoded(counting(10), 8), (Bytes{7, 3, 6, 2, 5, 1, 4, 0, 9, 8}));
}

TEST(Decode, RemainderAndParityRules) {
    // Shorter than a quarter block: untouched.
    EXPECT_EQ(decoded(counting(8), 0x80), counting(8));
    // Remainder 1 of 9 is kept (1 is not below 4/4) but the odd length
    // drops it again: two blocks of 4, last byte as stored.
    EXPECT_EQ(decoded(counting(9), 4), (Bytes{3, 1, 2, 0, 7, 5, 6, 4, 8}));
    // Remainder dropped and odd length: one block of 7.
    EXPECT_EQ(decoded(counting(9), 8), (Bytes{3, 6, 2, 5, 1, 4, 0, 7, 8}));
    // Odd and below a quarter block: nothing at all.
    EXPECT_EQ(decoded(counting(3), 16, 0xFF, 1), counting(3));
}

TEST(Decode, MaskRunsOnAcrossBlocks) {
    // Stored byte k (in reading order) is XORed with mask + k * step.
    const Bytes out = decoded(Bytes(8, 0), 4, 0x10, 0x03);
    const Bytes expected{0x19, 0x13, 0x16, 0x10, 0x25, 0x1F, 0x22, 0x1C};
    EXPECT_EQ(out, expected);
}

TEST(Decode, RefusesMeaninglessSizes) {
    EXPECT_EQ(decoded(counting(16), 0, 0x55, 1), counting(16));
    EXPECT_EQ(decoded(counting(16), -4, 0x55, 1), counting(16));
    Bytes bytes = counting(4);
    replay::decode(bytes.data(), -1, 4, 0x55, 1);
    EXPECT_EQ(bytes, counting(4));
}

TEST(Decode, ScrambleIsItsInverse) {
    std::mt19937 rng(7);
    for (std::int32_t length : {1, 2, 7, 8, 9, 31, 0x7F, 0x80, 0x81, 0x3FF, 0x400, 0x401, 0x4321}) {
        for (std::int32_t block : {1, 2, 3, 4, 8, 0x80, 0x400}) {
            const Bytes plain = random_bytes(static_cast<std::size_t>(length), rng);
            Bytes bytes = plain;
            replay_writer::scramble(bytes.data(), length, block, 0xAA, 0xE1);
            replay::decode(bytes.data(), length, block, 0xAA, 0xE1);
            EXPECT_EQ(bytes, plain) << length << " in blocks of " << block;
        }
    }
}

TEST(GetBit, ReadsMostSignificantFirstAndMovesOnEagerly) {
    const Bytes in{0xB4, 0x5A, 0xFF};
    std::uint32_t position = 0;
    std::uint8_t mask = 0x80;
    EXPECT_EQ(replay::get_bit(in.data(), 3, position, mask, 3), 0x5u);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(mask, 0x10);
    // Using up the byte exactly moves to the next one at once.
    EXPECT_EQ(replay::get_bit(in.data(), 3, position, mask, 5), 0x14u);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(mask, 0x80);
    EXPECT_EQ(replay::get_bit(in.data(), 3, position, mask, 0), 0u);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(replay::get_bit(in.data(), 3, position, mask, 13), 0xB5Fu);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(mask, 0x04);
    // Past the end the reader yields zeros.
    EXPECT_EQ(replay::get_bit(in.data(), 3, position, mask, 13), 0x1C00u);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(mask, 0x20);

    // 32 bits from the middle of a byte take parts of five bytes.
    const Bytes wide{0xB4, 0x5A, 0xFF, 0x01, 0x80, 0x7E};
    position = 0;
    mask = 0x08;
    EXPECT_EQ(replay::get_bit(wide.data(), 6, position, mask, 32), 0x45AFF018u);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(mask, 0x08);
}

TEST(Decompress, LiteralsAndACopy) {
    const Bytes in{0xA0, 0xD0, 0x80, 0x01, 0x10};
    EXPECT_EQ(decompressed(in), (Bytes{0x41, 0x42, 0x41, 0x42, 0x41, 0x42}));
    EXPECT_EQ(in, Bits().literal(0x41).literal(0x42).copy(1, 1).bytes);
}

TEST(Decompress, ItemEndingOnTheLastBitIsDropped) {
    // 8 literals of 9 bits fill 9 bytes exactly.
    Bits bits;
    for (int i = 0; i < 8; ++i) {
        bits.literal(static_cast<unsigned char>('a' + i));
    }
    EXPECT_EQ(decompressed(bits.bytes), (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g'}));
    bits.put(0, 1);
    EXPECT_EQ(decompressed(bits.bytes).size(), 8u);
}

TEST(Decompress, CopyQuirks) {
    // Source just behind the output: a run.
    EXPECT_EQ(decompressed(Bits().literal('a').literal('b').copy(2, 2).put(0, 8).bytes),
              (Bytes{'a', 'b', 'b', 'b', 'b', 'b', 'b'}));
    // Field 0: the first byte has no source and reads 0, the rest follow
    // from index 0, including the byte the copy itself just stored at 2.
    EXPECT_EQ(decompressed(Bits().literal('a').literal('b').copy(0, 2).put(0, 8).bytes),
              (Bytes{'a', 'b', 0, 'a', 'b', 0, 'a'}));

    // Field 0x1FFF, length 18, reads indices 0x1FFE to 0x200F; the last 16
    // are never stored to and read 0.
    Bits bits;
    for (int i = 0; i < 0x2000; ++i) {
        bits.literal(static_cast<unsigned char>(i % 251 + 1));
    }
    bits.copy(0x1FFF, 15).put(0, 8);
    const Bytes out = decompressed(bits.bytes);
    ASSERT_EQ(out.size(), 0x2000u + 18);
    EXPECT_EQ(out[0x2000], out[0x1FFE]);
    EXPECT_EQ(out[0x2001], out[0x1FFF]);
    EXPECT_EQ(Bytes(out.begin() + 0x2002, out.end()), Bytes(16, 0));
}

TEST(Decompress, NeverWritesPastItsCapacity) {
    const Bytes in{0xA0, 0xD0, 0x80, 0x01, 0x10};
    Bytes out(8, 0xEE);
    EXPECT_EQ(replay::decompress(in.data(), out.data(), 5, 4), 4u);
    EXPECT_EQ(out, (Bytes{0x41, 0x42, 0x41, 0x42, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(replay::decompress(in.data(), out.data(), 5, 1), 1u);
    EXPECT_EQ(replay::decompress(in.data(), nullptr, 5, 0), 0u);
    EXPECT_EQ(replay::decompress(in.data(), out.data(), 0, 8), 0u);

    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const Bytes noise = random_bytes(1 + rng() % 300, rng);
        const std::uint32_t capacity = rng() % 600;
        Bytes guarded(capacity + 16, 0x5C);
        const std::uint32_t n = replay::decompress(
            noise.data(), guarded.data(), static_cast<std::uint32_t>(noise.size()), capacity);
        ASSERT_LE(n, capacity);
        ASSERT_EQ(Bytes(guarded.begin() + capacity, guarded.end()), Bytes(16, 0x5C));
    }
}

TEST(RoundTrip, CompressThenDecompress) {
    std::mt19937 rng(5);
    for (std::size_t size : {0u, 1u, 2u, 3u, 17u, 0x7Fu, 0x80u, 0x81u, 0x3FFu, 0x400u, 0x401u,
                             1001u, 0x1FFFu, 0x2000u, 0x2001u, 0x2011u, 0x6543u}) {
        for (const Bytes& plain :
             {random_bytes(size, rng), mixed_bytes(size, rng), Bytes(size, 0)}) {
            const Bytes packed = replay_writer::compress(plain);
            ASSERT_EQ(decompressed(packed, static_cast<std::uint32_t>(size)), plain) << size;
        }
    }
}

TEST(RoundTrip, ScrambledBodyOfSeveralMegabytes) {
    std::mt19937 rng(9);
    const Bytes plain = mixed_bytes(3 * 1024 * 1024 + 77, rng);
    Bytes stored = replay_writer::compress(plain);
    EXPECT_LT(stored.size(), plain.size());
    const auto length = static_cast<std::int32_t>(stored.size());
    replay_writer::scramble_body(stored.data(), length);
    replay::decode(stored.data(), length, 0x400, 0xAA, 0xE1);
    replay::decode(stored.data(), length, 0x80, 0x3D, 0x7A);
    Bytes out(plain.size());
    ASSERT_EQ(replay::decompress(stored.data(), out.data(), static_cast<std::uint32_t>(length),
                                 static_cast<std::uint32_t>(out.size())),
              plain.size());
    EXPECT_EQ(out, plain);
}

} // namespace
