// The summary of whole replay files, built by the test writer, and the date
// lookup on real files on disk.

#include "replay/common.h"
#include "replay/th10replaydecoder.h"
#include "testkit/record_checks.h"
#include "testkit/replay_writer.h"
#include "testkit/temporary_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using replay_writer::ReplayPlan;
using replay_writer::Stage;
using replay_writer::store_u32;

struct Outcome {
    bool ok;
    th10replay record;
    std::string printed;
};

Outcome run_decode(Bytes file) {
    Outcome outcome{false, marked_record(), {}};
    testing::internal::CaptureStdout();
    outcome.ok = replay::th10decode(file.data(), file.size(), outcome.record);
    outcome.printed = testing::internal::GetCapturedStdout();
    return outcome;
}

// Expects a malformed verdict with the record left exactly as it was.
void expect_malformed(const Bytes& file, bool decompressed) {
    const Outcome outcome = run_decode(file);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(same_record(outcome.record, marked_record()));
    EXPECT_EQ(outcome.printed, decompressed ? "Decompression done." : "");
}

ReplayPlan plan_with_stages(std::uint8_t count, std::size_t records) {
    ReplayPlan plan;
    plan.stage_count = count;
    plan.stages.clear();
    for (std::size_t i = 0; i < records; ++i) {
        plan.stages.push_back(Stage{static_cast<std::uint32_t>(1000 * i + 7),
                                    static_cast<std::uint32_t>(16 + 37 * i)});
    }
    plan.final_score = 123456;
    return plan;
}

TEST(Summary, StageScoresFollowTheWalk) {
    struct Case {
        std::uint8_t count;
        std::size_t records;
        std::uint32_t score[6];
    };
    // Record i's stored score goes to entry i - 1, the final score to entry
    // S - 1, everything times 10; S above 6 counts as 6.
    const Case cases[] = {
        {0, 0, {0, 0, 0, 0, 0, 0}},
        {0, 2, {0, 0, 0, 0, 0, 0}},
        {1, 1, {1234560, 0, 0, 0, 0, 0}},
        {3, 3, {10070, 20070, 1234560, 0, 0, 0}},
        {6, 6, {10070, 20070, 30070, 40070, 50070, 1234560}},
        {7, 7, {10070, 20070, 30070, 40070, 50070, 1234560}},
        {200, 7, {10070, 20070, 30070, 40070, 50070, 1234560}},
    };
    for (const Case& c : cases) {
        const ReplayPlan plan = plan_with_stages(c.count, c.records);
        const Outcome outcome = run_decode(replay_writer::build_replay(plan));
        ASSERT_TRUE(outcome.ok) << int{c.count};
        EXPECT_EQ(std::vector<std::uint32_t>(outcome.record.score, outcome.record.score + 6),
                  std::vector<std::uint32_t>(c.score, c.score + 6))
            << int{c.count};
        th10replay expected = replay_writer::expected_summary(plan);
        expected.date = "keep date";
        expected.replay_hash = "keep hash";
        EXPECT_TRUE(same_record(outcome.record, expected)) << int{c.count};
        EXPECT_EQ(outcome.printed, "Decompression done.");
    }
}

TEST(Summary, FieldsNamesAndWrappingScores) {
    ReplayPlan plan = plan_with_stages(2, 2);
    plan.character = 2;
    plan.ctype = 1;
    plan.rank = 3;
    plan.clear = 8;
    plan.stages[1].stored_score = 0x20000000; // tenfold is 0x1'4000'0000
    plan.final_score = 0xFFFFFFFF;
    struct Name {
        std::string stored;
        std::string player;
    };
    const Name names[] = {{"ABCDEFGH", "ABCDEFGH"},
                          {"ABCDEFGHIJ", "ABCDEFGH"},
                          {"zq", "zq"},
                          {std::string("ab\0cdefg", 8), "ab"},
                          {std::string("\0bc", 3), ""},
                          {"\xC3\xA7\xC4\x9F", "\xC3\xA7\xC4\x9F"}};
    for (const Name& name : names) {
        plan.player = name.stored;
        const Outcome outcome = run_decode(replay_writer::build_replay(plan));
        ASSERT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.record.player, name.player);
        EXPECT_EQ(outcome.record.character, 2);
        EXPECT_EQ(outcome.record.ctype, 1);
        EXPECT_EQ(outcome.record.rank, 3);
        EXPECT_EQ(outcome.record.clear, 8);
        EXPECT_EQ(outcome.record.score[0], 0x40000000u);
        EXPECT_EQ(outcome.record.score[1], 0xFFFFFFF6u);
        EXPECT_EQ(outcome.record.date, "keep date");
        EXPECT_EQ(outcome.record.replay_hash, "keep hash");
    }
}

TEST(Summary, SampleReplaysMatchTheirPlans) {
    const temporary_folder dir;
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        const ReplayPlan plan = replay_writer::sample_plan(seed, 0x800 + seed * 0x301);
        Bytes file = replay_writer::build_replay(plan);
        const auto path = dir.path() / ("sample" + std::to_string(seed) + ".rpy");
        ASSERT_TRUE(replay_writer::write_file(path.string(), file));
        th10replay record;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(replay::th10decode(file.data(), file.size(), record));
        testing::internal::GetCapturedStdout();
        record.date = replay::getReplayDate(path);
        EXPECT_TRUE(same_record(record, replay_writer::expected_summary(plan))) << seed;
        EXPECT_EQ(record.date.size(), 14u);
    }
}

TEST(Summary, DeclaredSizeFarBeyondTheBody) {
    // Long runs compress close to the format's limit of 8 output bytes per
    // body byte, so the last score read sits near the end of what the body
    // can produce. However much more D declares, the summary stays the same.
    Bytes body(0x8000, 0);
    body[0x4C] = 2;
    store_u32(body, 0x10, 4321);
    const std::size_t second = body.size() - 0x10;
    store_u32(body, 0x64 + 0x08, static_cast<std::uint32_t>(second - 0x64 - 0x1C4));
    store_u32(body, second + 0x0C, 1234);
    th10replay expected = marked_record();
    expected.character = expected.ctype = expected.rank = expected.clear = 0;
    const std::uint32_t score[6] = {12340, 43210, 0, 0, 0, 0};
    std::copy(score, score + 6, expected.score);
    expected.player = "";
    Bytes file = replay_writer::pack_replay(body, "");
    for (std::uint32_t declared :
         {static_cast<std::uint32_t>(body.size()), replay::th10_size_cap}) {
        store_u32(file, 0x20, declared);
        const Outcome outcome = run_decode(file);
        EXPECT_TRUE(outcome.ok) << declared;
        EXPECT_TRUE(same_record(outcome.record, expected)) << declared;
    }
}

TEST(Malformed, HeaderAndSizeLimits) {
    const Bytes good = replay_writer::build_replay(plan_with_stages(3, 3));
    expect_malformed({}, false);
    expect_malformed(Bytes(good.begin(), good.begin() + 0x23), false);

    // The body must lie inside the file: L = size - 0x24 is the limit.
    const std::size_t trailer = replay_writer::build_trailer(plan_with_stages(3, 3)).size();
    Bytes bad = good;
    store_u32(bad, 0x1C, static_cast<std::uint32_t>(good.size() - 0x24 + 1));
    expect_malformed(bad, false);
    bad = Bytes(good.begin(), good.end() - static_cast<std::ptrdiff_t>(trailer));
    EXPECT_TRUE(run_decode(bad).ok);
    bad.pop_back();
    expect_malformed(bad, false);
    bad = good;
    store_u32(bad, 0x1C, 0xFFFFFFFF);
    expect_malformed(bad, false);

    // D over the cap is refused before anything is allocated; the cap itself
    // is allowed (the body just fills the front of it).
    bad = good;
    store_u32(bad, 0x20, replay::th10_size_cap + 1);
    expect_malformed(bad, false);
    store_u32(bad, 0x20, 0xFFFFFFFF);
    expect_malformed(bad, false);
    store_u32(bad, 0x20, replay::th10_size_cap);
    EXPECT_TRUE(run_decode(bad).ok);

    // D too small for the fixed fields.
    store_u32(bad, 0x20, 0x5F);
    expect_malformed(bad, false);
}

TEST(Malformed, ReadsOutsideWhatTheBodyHolds) {
    // A body that decompresses to fewer bytes than the fixed fields need,
    // although D claims enough.
    const ReplayPlan plan = plan_with_stages(1, 1);
    Bytes body = replay_writer::build_body(plan);
    Bytes file = replay_writer::pack_replay(Bytes(body.begin(), body.begin() + 0x5F), "");
    store_u32(file, 0x20, 0x400);
    expect_malformed(file, true);
    // Exactly the fixed fields, no stage record needed: sound.
    body.resize(0x60);
    body[0x4C] = 1;
    file = replay_writer::pack_replay(body, "");
    EXPECT_TRUE(run_decode(file).ok);
    store_u32(file, 0x20, 0x1000);
    EXPECT_TRUE(run_decode(file).ok);

    // A stage count promising records that are not there.
    expect_malformed(replay_writer::build_replay(plan_with_stages(3, 1)), true);
    expect_malformed(replay_writer::build_replay(plan_with_stages(2, 0)), true);

    // The same with D large enough: the missing bytes were never written.
    ReplayPlan two = plan_with_stages(2, 1);
    file = replay_writer::pack_replay(replay_writer::build_body(two), "");
    store_u32(file, 0x20, 0x10000);
    expect_malformed(file, true);

    // A stage length stepping off the body, and one that would wrap around to
    // a small offset in 32-bit arithmetic.
    ReplayPlan walk = plan_with_stages(2, 2);
    for (std::uint32_t length : {0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFE3Cu - 0x64u + 0x20u}) {
        body = replay_writer::build_body(walk);
        store_u32(body, 0x64 + 0x08, length);
        expect_malformed(replay_writer::pack_replay(body, ""), true);
    }
    // The last record's score is the last thing read: four bytes short fails.
    body = replay_writer::build_body(walk);
    const std::size_t second = 0x64 + 0x1C4 + walk.stages[0].extra_length;
    body.resize(second + 0x10);
    EXPECT_TRUE(run_decode(replay_writer::pack_replay(body, "")).ok);
    body.resize(second + 0x0F);
    expect_malformed(replay_writer::pack_replay(body, ""), true);
}

TEST(Malformed, RandomBytesNeverFillTheRecord) {
    std::mt19937 rng(21);
    for (int round = 0; round < 400; ++round) {
        Bytes file(rng() % 700);
        for (auto& b : file) {
            b = static_cast<unsigned char>(rng());
        }
        // Half the time a header that fits, so the body gets decompressed.
        if (file.size() >= 0x24 && round % 2 == 0) {
            store_u32(file, 0x1C, static_cast<std::uint32_t>(rng() % (file.size() - 0x23)));
            store_u32(file, 0x20, 0x60 + rng() % 0x400);
        }
        const Outcome outcome = run_decode(file);
        if (!outcome.ok) {
            EXPECT_TRUE(same_record(outcome.record, marked_record()));
        } else {
            EXPECT_LE(outcome.record.player.size(), 8u);
        }
    }
}

class ReplayDate : public testing::Test {
  protected:
    std::filesystem::path file(const std::string& bytes) {
        const auto path = folder_.path() / ("f" + std::to_string(count_++) + ".rpy");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    temporary_folder folder_;
    int count_ = 0;
};

TEST_F(ReplayDate, TakesTheFourteenBytesAfterTheMarker) {
    const std::string body(500, 'x');
    EXPECT_EQ(replay::getReplayDate(file(body + "Date 08/09/14 18:32\r\nmore text\r\n")),
              "08/09/14 18:32");
    // The first marker wins; line breaks and NUL bytes are taken as they are.
    EXPECT_EQ(replay::getReplayDate(file(body + "Date 1\r\n" + std::string(4, '\0') + "Date 2" +
                                         std::string(20, 'y'))),
              std::string("1\r\n\0\0\0\0Date 2y", 14));
    // NUL bytes before the marker do not stop the search.
    EXPECT_EQ(replay::getReplayDate(file(std::string(300, '\0') + "Date 99/12/31 23:59")),
              "99/12/31 23:59");
    // Cut short by the end of the file.
    EXPECT_EQ(replay::getReplayDate(file(body + "Date 12/3")), "12/3");
    EXPECT_EQ(replay::getReplayDate(file(body + "Date ")), "");
}

TEST_F(ReplayDate, OnlyTheLastTwoHundredBytesCount) {
    // Exactly 200 bytes: the marker at offset 0 is inside.
    EXPECT_EQ(replay::getReplayDate(file("Date 01/02/03 04:05" + std::string(181, ' '))),
              "01/02/03 04:05");
    // One byte further from the end, it is cut and not found.
    EXPECT_EQ(replay::getReplayDate(file("Date 01/02/03 04:05" + std::string(182, ' '))), "");
    // A file under 200 bytes is not searched at all.
    EXPECT_EQ(replay::getReplayDate(file("Date 01/02/03 04:05" + std::string(180, ' '))), "");
    EXPECT_EQ(replay::getReplayDate(file("")), "");
}

TEST_F(ReplayDate, MissingMarkerOrFile) {
    EXPECT_EQ(replay::getReplayDate(file(std::string(400, 'D'))), "");
    EXPECT_EQ(replay::getReplayDate(file(std::string(400, '\0'))), "");
    EXPECT_EQ(replay::getReplayDate(folder_.path() / "absent.rpy"), "");
    EXPECT_EQ(replay::getReplayDate(folder_.path()), "");

    ReplayPlan plan;
    plan.with_date = false;
    const Bytes built = replay_writer::build_replay(plan);
    EXPECT_EQ(replay::getReplayDate(file(std::string(built.begin(), built.end()))), "");
}

} // namespace
