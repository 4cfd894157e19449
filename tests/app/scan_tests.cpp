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
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sstream>
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

std::string sha256_hex(const std::vector<unsigned char>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    std::ostringstream hex;
    for (unsigned int i = 0; i < size; ++i)
        hex << "0123456789abcdef"[digest[i] >> 4] << "0123456789abcdef"[digest[i] & 15];
    return hex.str();
}

// The report the service should receive for a replay, from the writer's own
// inputs (names and dates here need no escaping).
std::string expected_report(const std::string& token, const ReplayPlan& plan,
                            const std::vector<unsigned char>& bytes) {
    const th10replay summary = replay_writer::expected_summary(plan);
    std::ostringstream json;
    json << R"({"token":")" << token << R"(","replay_hash":")" << sha256_hex(bytes)
         << R"(","character":)" << int(summary.character) << R"(,"ctype":)" << int(summary.ctype)
         << R"(,"rank":)" << int(summary.rank) << R"(,"clear":)" << int(summary.clear)
         << R"(,"score":[)";
    for (int i = 0; i < 6; ++i)
        json << (i ? "," : "") << summary.score[i];
    json << R"(],"player":")" << summary.player << R"(","date":")" << summary.date << R"("})";
    return json.str();
}

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

    // Writes a replay made from `plan` as replay/<name> (UTF-8); returns the
    // report the service should receive for it with `token_sent`.
    std::string add_replay(const std::string& name, const ReplayPlan& plan,
                           const std::string& token_sent = "tok-1") {
        const std::vector<unsigned char> bytes = replay_writer::build_replay(plan);
        folder.write_file(folder.replays() / fs::u8path(name),
                          std::string(bytes.begin(), bytes.end()));
        return expected_report(token_sent, plan, bytes);
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
    std::vector<std::string> expected;
    const std::uint8_t stage_counts[] = {1, 3, 6};
    for (std::uint32_t i = 0; i < 3; ++i) {
        ReplayPlan plan = replay_writer::sample_plan(40 + i, 0x6000);
        plan.stage_count = stage_counts[i];
        plan.stages.resize(stage_counts[i], replay_writer::Stage{123456, 0x200});
        expected.push_back(add_replay("th10_0" + std::to_string(i + 1) + ".rpy", plan));
    }

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
    const std::string report = add_replay("a.rpy", replay_writer::sample_plan(7), "fresh");
    const auto seen =
        run_answering([&] { click_button(window, utf8("Token Girin")); }, {type_text("fresh")});
    EXPECT_EQ(error_texts(seen), QStringList{utf8("Pim Tokeninizi Kaydedemedi!")});
    EXPECT_EQ(service.accepted_reports(), std::vector<std::string>{report});
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
    const std::string a = add_replay("a.rpy", replay_writer::sample_plan(1));
    const std::string ab = add_replay("a.b.rpy", replay_writer::sample_plan(2));
    add_replay("b.txt", replay_writer::sample_plan(3));
    add_replay(".rpy", replay_writer::sample_plan(4));
    // Not A.RPY: on Windows that is a.rpy itself.
    add_replay("CAPS.RPY", replay_writer::sample_plan(5));
    add_replay("upper.Rpy", replay_writer::sample_plan(6));
    fs::create_directory(folder.replays() / "c.rpy");
    add_replay("c.rpy/inner.rpy", replay_writer::sample_plan(7));

    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sorted(service.accepted_reports()), sorted({a, ab}));
}

TEST_F(ScanTest, LinksAreFollowedToWhatTheyName) {
    token = "tok-1";
    const std::string linked = add_replay("target.dat", replay_writer::sample_plan(8));
    if (const std::string why = cannot_link("target.dat", folder.replays() / "link.rpy");
        !why.empty())
        GTEST_SKIP() << why;
    // One that names nothing is passed over.
    ASSERT_EQ(cannot_link("nowhere.dat", folder.replays() / "dangling.rpy"), "");

    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(service.accepted_reports(), std::vector<std::string>{linked});
}

TEST_F(ScanTest, EmptyFolderSendsAndShowsNothing) {
    token = "tok-1";
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(ScanTest, MalformedReplaysAreNamedAndNeverSent) {
    token = "tok-1";
    const std::string good = add_replay("good.rpy", replay_writer::sample_plan(3));
    std::vector<unsigned char> cut = replay_writer::build_replay(replay_writer::sample_plan(4));
    cut.resize(cut.size() / 2);
    ASSERT_TRUE(replay_writer::write_file((folder.replays() / "cut.rpy").string(), cut));
#ifndef _WIN32
    // Quotes and backslashes in names (Windows allows neither in a name).
    folder.write_file(folder.replays() / "we\"ird\\name.rpy", "too short");
#endif
    // Larger than any replay: refused before it is read whole (sparse here).
    folder.write_file(folder.replays() / "huge.rpy", "");
    fs::resize_file(folder.replays() / "huge.rpy", std::uintmax_t{64} * 1024 * 1024 + 1);

    testing::internal::CaptureStderr();
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(service.accepted_reports(), std::vector<std::string>{good});
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
    const std::string first = add_replay("a.rpy", replay_writer::sample_plan(1));
    const std::string held_name = "\xE3\x83\xAA\xE3\x83\x97\xE3\x83\xAC\xE3\x82\xA4_01.rpy";
    add_replay(held_name, replay_writer::sample_plan(2));
    const std::string last = add_replay("z.rpy", replay_writer::sample_plan(3));
    held_file holder(folder.replays() / fs::u8path(held_name), held_file::sharing::none);
    if (!holder.holds())
        GTEST_SKIP() << holder.why_not();

    testing::internal::CaptureStderr();
    const auto seen = run_answering([&] { click_button(window, utf8("Replay Gönderin")); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Could not open file \"" + named_replay_folder + held_name + "\"\n");
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sorted(service.accepted_reports()), sorted({first, last}));
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

TEST(Fingerprint, IsTheSha256OfTheWholeFile) {
    GameFolder folder;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096},
                             std::size_t{4097}, std::size_t{3 * 4096}}) {
        std::vector<unsigned char> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<unsigned char>(i * 7 + size);
        ASSERT_TRUE(replay_writer::write_file("file.bin", bytes));
        EXPECT_EQ(sha256_file("file.bin"), sha256_hex(bytes)) << size << " bytes";
    }
    EXPECT_EQ(sha256_file("file.bin").size(), 64u);
    EXPECT_EQ(sha256_hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_file("missing.bin"), "");
}
