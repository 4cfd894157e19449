// The whole job through the real window: replays written to a throw-away game
// folder, the scan, and the local score service over HTTPS on loopback, with
// the test CA as the cacert.pem beside this program.

#include "app/fingerprint.h"
#include "testkit/dialogs.h"
#include "testkit/game_folder.h"
#include "testkit/held_file.h"
#include "testkit/main_window_test.h"
#include "testkit/replay_writer.h"
#include "testkit/score_service.h"
#include "upload/path_text.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <utility>

namespace fs = std::filesystem;
using replay_writer::ReplayPlan;

namespace {

const fs::path cert_dir = ZARVIK_TEST_CERT_DIR;
const fs::path program_dir = ZARVIK_SCAN_TEST_BIN_DIR;

// The replay folder as the scan names it on its standard error, quoted:
// Windows joins the name with a backslash, which comes out escaped.
#ifdef _WIN32
const std::string named_replay_folder = "../replay\\\\";
#else
const std::string named_replay_folder = "../replay/";
#endif

// The reports the service must receive, byte for byte, for replays written
// from these sample plans: with one, three and six stages (made for the
// first test below), and sample plans 1, 2 and 3.
const std::string report_1_stage =
    R"({"token":"tok-1","replay_hash":")"
    "dca76fcd004a6256004d2e7b14deaa2553bc8400b6ad41127e94e8cf76b43a0d"
    R"(","character":2,"ctype":1,"rank":1,"clear":1,"score":[16843530,0,0,0,0,0],)"
    R"("player":"oz","date":"11/09/27 10:06"})";
const std::string report_3_stages =
    R"({"token":"tok-1","replay_hash":")"
    "30695839129ff2123b02b3ffa2674e207f6f83323b7301a2f18aae7af809fd84"
    R"(","character":2,"ctype":1,"rank":1,"clear":8,)"
    R"("score":[7001450,22958810,116893800,0,0,0],"player":"zeynep_k","date":"15/06/13 04:47"})";
const std::string report_6_stages =
    R"({"token":"tok-1","replay_hash":")"
    "d04b3659e5f9a2b2303cf97792cb36e534feb11be93034a10c2b8ed19d132d3b"
    R"(","character":0,"ctype":2,"rank":4,"clear":1,)"
    R"("score":[1234560,1234560,1234560,1234560,1234560,2605810],)"
    R"("player":"AYSEGUL","date":"22/07/25 03:37"})";
const std::string report_1 =
    R"({"token":"tok-1","replay_hash":")"
    "8e36320a8cc212fe5bbea2036eb9f0fb9c9da8ff918cdd1299a492247ddcd2af"
    R"(","character":0,"ctype":0,"rank":4,"clear":1,"score":[19136850,0,0,0,0,0],)"
    R"("player":"oz","date":"18/02/07 02:17"})";
const std::string report_2 =
    R"({"token":"tok-1","replay_hash":")"
    "d3d6a0b029eeb83295b314f8fca1bb63e6d7dd15a0bb347c9a3a765a723f7af3"
    R"(","character":0,"ctype":0,"rank":4,"clear":1,"score":[20104730,0,0,0,0,0],)"
    R"("player":"Mert","date":"22/01/26 11:45"})";
const std::string report_3 =
    R"({"token":"tok-1","replay_hash":")"
    "488bb6bf4eb1c7ce7e7d81f1b3d66a3ab2e3985a9ce766b558caab908c0b325e"
    R"(","character":0,"ctype":1,"rank":4,"clear":1,"score":[19480750,0,0,0,0,0],)"
    R"("player":"Elif","date":"18/04/17 18:24"})";

std::vector<std::string> sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

class ScanTest : public MainWindowTest {
  protected:
    void SetUp() override {
        // Removed first: MinGW-w64's copy_file takes any two files on one
        // drive for the same file, and so overwrites none.
        fs::remove(program_dir / "cacert.pem");
        fs::copy_file(cert_dir / "ca.pem", program_dir / "cacert.pem");
        ASSERT_TRUE(service.start(ZARVIK_LOCAL_PORT, (cert_dir / "server.pem").string(),
                                  (cert_dir / "server.key").string()))
            << service.start_error();
    }

    // Writes a replay made from `plan` as replay/<name> (UTF-8).
    void add_replay(const std::string& name, const ReplayPlan& plan) {
        const std::vector<unsigned char> bytes = replay_writer::build_replay(plan);
        folder.write_file(folder.replays() / fs::u8path(name),
                          std::string(bytes.begin(), bytes.end()));
    }

    std::vector<std::string> bodies_received() const {
        std::vector<std::string> bodies;
        for (const auto& request : service.requests())
            bodies.push_back(request.body);
        return bodies;
    }

    score_service::server service;
};

} // namespace

TEST_F(ScanTest, SavingATokenSendsEveryReplayOnceAndSendingAgainIsQuiet) {
    const std::uint8_t stage_counts[] = {1, 3, 6};
    for (std::uint32_t i = 0; i < 3; ++i) {
        ReplayPlan plan = replay_writer::sample_plan(40 + i, 0x6000);
        plan.stage_count = stage_counts[i];
        plan.stages.resize(stage_counts[i], replay_writer::Stage{123456, 0x200});
        add_replay("th10_0" + std::to_string(i + 1) + ".rpy", plan);
    }
    const std::vector<std::string> expected = {report_1_stage, report_3_stages, report_6_stages};

    testing::internal::CaptureStdout();
    auto seen =
        run_answering([&] { click_button(window, utf8("Token Girin")); }, {type_text("tok-1")});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Decompression done.Decompression done.Decompression done.");
    ASSERT_EQ(seen.size(), 2u); // the dialog and the confirmation, nothing else
    EXPECT_EQ(seen[1].title, "Kaydedildi");
    EXPECT_EQ(sorted(service.accepted_reports()), sorted(expected));
    for (const auto& request : service.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/upload/th10");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
    }

    // Every press sends everything again; the service already has them all.
    seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 6u);
    for (std::size_t i = 3; i < 6; ++i)
        EXPECT_EQ(requests[i].status, 409);
    EXPECT_EQ(sorted(bodies_received()), sorted({expected[0], expected[0], expected[1], expected[1],
                                                 expected[2], expected[2]}));
}

TEST_F(ScanTest, TokenThatCannotBeSavedIsStillSent) {
    fs::create_directory("token.txt");
    add_replay("a.rpy", replay_writer::sample_plan(1));
    const auto seen =
        run_answering([&] { click_button(window, utf8("Token Girin")); }, {type_text("fresh")});
    EXPECT_EQ(error_texts(seen), QStringList{utf8("Pim Tokeninizi Kaydedemedi!")});
    EXPECT_EQ(service.accepted_reports(),
              std::vector<std::string>{
                  R"({"token":"fresh","replay_hash":")"
                  "8e36320a8cc212fe5bbea2036eb9f0fb9c9da8ff918cdd1299a492247ddcd2af"
                  R"(","character":0,"ctype":0,"rank":4,"clear":1,"score":[19136850,0,0,0,0,0],)"
                  R"("player":"oz","date":"18/02/07 02:17"})"});
}

TEST_F(ScanTest, EveryRefusedReplayGetsOneBoxWithTheStatus) {
    token = "tok-1";
    add_replay("a.rpy", replay_writer::sample_plan(1));
    add_replay("b.rpy", replay_writer::sample_plan(2));
    service.force_status(401);
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_EQ(error_texts(seen), (QStringList{"401", "401"}));
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(ScanTest, OnlyRegularFilesEndingInRpyAreSent) {
    token = "tok-1";
    add_replay("a.rpy", replay_writer::sample_plan(1));
    add_replay("a.b.rpy", replay_writer::sample_plan(2));
    add_replay("b.txt", replay_writer::sample_plan(3));
    add_replay(".rpy", replay_writer::sample_plan(4));
    // Not A.RPY: on Windows that is a.rpy itself.
    add_replay("CAPS.RPY", replay_writer::sample_plan(5));
    add_replay("upper.Rpy", replay_writer::sample_plan(6));
    fs::create_directory(folder.replays() / "c.rpy");
    add_replay("c.rpy/inner.rpy", replay_writer::sample_plan(7));

    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sorted(service.accepted_reports()), sorted({report_1, report_2}));
}

TEST_F(ScanTest, LinksAreFollowedToWhatTheyName) {
    token = "tok-1";
    add_replay("target.dat", replay_writer::sample_plan(3));
    if (const std::string why = cannot_link("target.dat", folder.replays() / "link.rpy");
        !why.empty())
        GTEST_SKIP() << why;
    // One that names nothing is passed over.
    ASSERT_EQ(cannot_link("nowhere.dat", folder.replays() / "dangling.rpy"), "");

    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(service.accepted_reports(), std::vector<std::string>{report_3});
}

TEST_F(ScanTest, EmptyFolderSendsAndShowsNothing) {
    token = "tok-1";
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(ScanTest, MalformedReplaysAreNamedAndNeverSent) {
    token = "tok-1";
    add_replay("good.rpy", replay_writer::sample_plan(3));
    std::vector<unsigned char> cut = replay_writer::build_replay(replay_writer::sample_plan(4));
    cut.resize(cut.size() / 2);
    ASSERT_TRUE(replay_writer::write_file((folder.replays() / "cut.rpy").string(), cut));
#ifndef _WIN32
    // Quotes and backslashes in names (Windows allows neither in a name).
    folder.write_file(folder.replays() / "we\"ird\\name.rpy", "too short");
#endif
    // Larger than any replay: refused before it is read whole. Sparse: one
    // byte written past the end. Not fs::resize_file: MinGW-w64's
    // ftruncate64 first checks the free space of the volumes it can find,
    // and under Wine that check once failed here with "File too large".
    std::ofstream(folder.replays() / "huge.rpy", std::ios::binary).seekp(64 * 1024 * 1024).put('x');

    testing::internal::CaptureStderr();
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(service.accepted_reports(), std::vector<std::string>{report_3});
    for (const char* name : {"cut.rpy", "huge.rpy"})
        EXPECT_NE(
            errors.find("Error: Malformed replay file \"" + named_replay_folder + name + "\"\n"),
            std::string::npos)
            << name;
#ifndef _WIN32
    EXPECT_NE(errors.find("Error: Malformed replay file \"../replay/we\\\"ird\\\\name.rpy\"\n"),
              std::string::npos);
#endif
}

// Another program may hold a replay open and let nobody else read it (on
// Windows): that one is named, in UTF-8, and every other is still sent.
TEST_F(ScanTest, ReplayThatCannotBeOpenedIsNamedAndTheOthersAreSent) {
    token = "tok-1";
    add_replay("a.rpy", replay_writer::sample_plan(1));
    const std::string held_name = "\xE3\x83\xAA\xE3\x83\x97\xE3\x83\xAC\xE3\x82\xA4_01.rpy";
    add_replay(held_name, replay_writer::sample_plan(2));
    add_replay("z.rpy", replay_writer::sample_plan(3));
    held_file holder(folder.replays() / fs::u8path(held_name), held_file::sharing::none);
    if (!holder.holds())
        GTEST_SKIP() << holder.why_not();

    testing::internal::CaptureStderr();
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Could not open file \"" + named_replay_folder + held_name + "\"\n");
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sorted(service.accepted_reports()), sorted({report_1, report_3}));
}

TEST_F(ScanTest, ReplayFolderThatCannotBeListedIsReported) {
    token = "tok-1";
    fs::remove(folder.replays());
    folder.write_file(folder.replays(), "a file, not a folder");
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_EQ(error_texts(seen), QStringList{utf8("Pim replay klasörünü bulamıyor!!!")});
    EXPECT_TRUE(service.requests().empty());
}

// Windows names are UTF-16, where NTFS allows unpaired surrogates; the
// problem lines name such files with U+FFFD instead of throwing.
TEST(FileNameText, PairsConvertAndUnpairedSurrogatesBecomeReplacementCharacters) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"\u30B2\u30FC\u30E0_01.rpy", "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0_01.rpy"},
        {u"a\xD83D\xDE00.rpy", "a\xF0\x9F\x98\x80.rpy"},
        {u"bad_\xD800.rpy", "bad_\xEF\xBF\xBD.rpy"},
        {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {u"end_\xDBFF", "end_\xEF\xBF\xBD"},
        // Leading byte order marks are characters of the name like any other.
        {u"\xFEFF\xFFFE.rpy", "\xEF\xBB\xBF\xEF\xBF\xBE.rpy"},
    };
    for (const auto& [utf16, utf8] : cases)
        EXPECT_EQ(utf8_from_utf16(utf16), utf8);
}

// A path as the system names it: on Windows its UTF-16, converted whole,
// where the library's own conversion throws for an unpaired surrogate;
// elsewhere its bytes, unchanged.
TEST(FileNameText, PathsAreGivenAsTheSystemNamesThem) {
#ifdef _WIN32
    const std::pair<std::wstring, std::string> cases[] = {
        {L"..\\\x30B2\x30FC\x30E0\\th10", "..\\\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\\th10"},
        {L"..\\replay\\bad_\xD800.rpy", "..\\replay\\bad_\xEF\xBF\xBD.rpy"},
        {L"bad_\xDC00", "bad_\xEF\xBF\xBD"},
    };
    for (const auto& [name, utf8] : cases)
        EXPECT_EQ(utf8_path(fs::path(name)), utf8);
    EXPECT_ANY_THROW((void)fs::path(L"bad_\xD800").u8string());
#else
    EXPECT_EQ(utf8_path(fs::path("../replay/bad_\xFF\xC3.rpy")), "../replay/bad_\xFF\xC3.rpy");
#endif
}

// Chunks of 4096 bytes: files that end inside, at and past a chunk's end.
TEST(Fingerprint, IsTheSha256OfTheWholeFile) {
    GameFolder folder;
    ASSERT_TRUE(replay_writer::write_file("abc.bin", {'a', 'b', 'c'}));
    EXPECT_EQ(sha256_file("abc.bin"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Byte i of a file of n bytes is i * 7 + n (mod 256).
    const std::pair<std::size_t, std::string> files[] = {
        {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {1, "4bf5122f344554c53bde2ebb8cd2b7e3d1600ad631c385a5d7cce23c7785459a"},
        {4095, "2a37c9cecea9397e269f15d981dfee1856c524402a5a9c2e5c363f0fdc164bce"},
        {4096, "d010f6d76d0eb4dce5d5b5b34014a8a157ec4380a66c24d7d455a9bf652db14a"},
        {4097, "4ef3d8e05f2e1e9b2da79d218f7a74e538198d77bbb81c6c8c4464b4d4db2f4b"},
        {3 * 4096, "b9fb93208c04f9c22a6dac3b1416b5c0d5dcd292b8e99ae0146a40b63f96f610"},
    };
    for (const auto& [size, digest] : files) {
        std::vector<unsigned char> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<unsigned char>(i * 7 + size);
        ASSERT_TRUE(replay_writer::write_file("file.bin", bytes));
        EXPECT_EQ(sha256_file("file.bin"), digest) << size << " bytes";
    }
    EXPECT_EQ(sha256_file("missing.bin"), "");
}
