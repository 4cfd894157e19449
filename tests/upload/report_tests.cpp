// make_json: the report's bytes, and that a JSON parser reads them back.

#include "upload/report.h"

#include <QString>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <ostream>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

TEST(MakeJsonTest, WritesTheReferenceReport) {
    th10replay record;
    record.character = 2;
    record.ctype = 0;
    record.rank = 3;
    record.clear = 8;
    for (std::uint32_t stage = 0; stage < 6; ++stage)
        record.score[stage] = stage + 1;
    EXPECT_EQ(make_json("", record),
              "{\"token\":\"\",\"replay_hash\":\"\",\"character\":2,\"ctype\":0,\"rank\":3,"
              "\"clear\":8,\"score\":[1,2,3,4,5,6],\"player\":\"\",\"date\":\"\"}");
}

TEST(MakeJsonTest, WritesBytesAndScoresAsPlainDecimals) {
    th10replay record;
    record.character = 255;
    record.ctype = 'A';
    record.rank = 0;
    record.clear = 10;
    const std::uint32_t scores[6] = {0, 4294967295u, 10, 100, 7, 1000000000};
    std::copy(scores, scores + 6, record.score);
    record.replay_hash = std::string(64, 'f');
    EXPECT_EQ(make_json("tok", record),
              "{\"token\":\"tok\",\"replay_hash\":\"" + std::string(64, 'f') +
                  "\",\"character\":255,\"ctype\":65,\"rank\":0,\"clear\":10,"
                  "\"score\":[0,4294967295,10,100,7,1000000000],\"player\":\"\",\"date\":\"\"}");
}

// Each string field in turn holds quotes, backslashes, every kind of control
// byte and bytes that must pass unchanged (blank, DEL, UTF-8).
enum class field { token, replay_hash, player, date };

class EscapingTest : public ::testing::TestWithParam<field> {};

TEST_P(EscapingTest, EscapesQuotesBackslashesAndControlBytes) {
    const std::string raw =
        std::string("q\"b\\s/", 6) + std::string("\x00\x01\t\n\r\x1f", 6) + " \x7f\xc3\xa9\xff";
    const std::string escaped =
        "q\\\"b\\\\s/\\u0000\\u0001\\u0009\\u000a\\u000d\\u001f \x7f\xc3\xa9\xff";

    th10replay record;
    std::string token = "T";
    record.replay_hash = "H";
    record.player = "P";
    record.date = "D";
    std::string expected_token = "T", expected_hash = "H", expected_player = "P",
                expected_date = "D";
    switch (GetParam()) {
    case field::token:
        token = raw, expected_token = escaped;
        break;
    case field::replay_hash:
        record.replay_hash = raw, expected_hash = escaped;
        break;
    case field::player:
        record.player = raw, expected_player = escaped;
        break;
    case field::date:
        record.date = raw, expected_date = escaped;
        break;
    }
    EXPECT_EQ(make_json(token, record),
              "{\"token\":\"" + expected_token + "\",\"replay_hash\":\"" + expected_hash +
                  "\",\"character\":0,\"ctype\":0,\"rank\":0,\"clear\":0,\"score\":[0,0,0,0,0,0],"
                  "\"player\":\"" +
                  expected_player + "\",\"date\":\"" + expected_date + "\"}");
}

INSTANTIATE_TEST_SUITE_P(Fields, EscapingTest,
                         ::testing::Values(field::token, field::replay_hash, field::player,
                                           field::date));

TEST(MakeJsonTest, EscapedFieldsStayWellFormed) {
    th10replay record;
    record.replay_hash = std::string(64, '0');
    record.player = std::string("\"\\\x00\x1f", 4);
    record.date = "\n\"";
    const auto parsed = nlohmann::json::parse(make_json("\\\"\x01", record));
    EXPECT_EQ(parsed.at("token"), "\\\"\x01");
    EXPECT_EQ(parsed.at("replay_hash"), std::string(64, '0'));
    EXPECT_EQ(parsed.at("player"), std::string("\"\\\x00\x1f", 4));
    EXPECT_EQ(parsed.at("date"), "\n\"");
}

} // namespace
