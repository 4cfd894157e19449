// send_to_api against the local score service over loopback, with real TLS
// and the test CA installed as cacert.pem beside this program.

#include "testkit/dialogs.h"
#include "testkit/game_folder.h"
#include "testkit/loopback_listener.h"
#include "testkit/score_service.h"
#include "testkit/temporary_folder.h"
#include "ui/texts.h"
#include "upload/executable_directory.h"
#include "upload/report.h"
#include "upload/send.h"

#include <QMessageBox>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path cert_dir = ZARVIK_TEST_CERT_DIR;
const fs::path program_dir = fs::u8path(ZARVIK_UPLOAD_TEST_BIN_DIR);
const fs::path bundle = program_dir / "cacert.pem";
constexpr int local_port = ZARVIK_LOCAL_PORT;
const std::string token = "t0ken-\"secret\"";

th10replay sample(char hash_digit) {
    th10replay record;
    record.character = 1;
    record.ctype = 2;
    record.rank = 3;
    record.clear = 4;
    for (std::uint32_t stage = 0; stage < 6; ++stage)
        record.score[stage] = 1000 * (stage + 1);
    record.player = "Reimu";
    record.date = "08/09/14 18:32";
    record.replay_hash = std::string(64, hash_digit);
    return record;
}

// This build of the tests posts to a host name that does not resolve, for the
// one failure that needs it; every other test needs the local service.
#ifdef ZARVIK_UNRESOLVABLE_ENDPOINT
constexpr bool endpoint_unresolvable = true;
#else
constexpr bool endpoint_unresolvable = false;
#endif

// The box for a replay that could not be sent: a Turkish lead and reason,
// then libcurl's code for the player to quote.
QString failure_text(const char* reason, CURLcode code) {
    return QString::fromUtf8("Replay gönderilemedi: ") + QString::fromUtf8(reason) +
           QString(" (curl %1)").arg(static_cast<int>(code));
}

std::vector<SeenDialog> send(const th10replay& record, int times = 1) {
    return run_answering([&] {
        for (int i = 0; i < times; ++i)
            send_to_api(token, record);
    });
}

// Every box must be the tool's error box, with these texts in this order.
void expect_error_boxes(const std::vector<SeenDialog>& seen, const QStringList& texts) {
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(texts.size()));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].class_name, "QMessageBox");
        EXPECT_EQ(seen[i].title, "Hata");
        EXPECT_EQ(seen[i].icon, QMessageBox::Critical);
        EXPECT_EQ(seen[i].text, texts[static_cast<int>(i)]);
        EXPECT_EQ(seen[i].buttons.size(), 1);
        EXPECT_FALSE(seen[i].has_parent);
    }
}

class SendToApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code ignored;
        fs::remove_all(bundle, ignored);
        fs::copy_file(cert_dir / "ca.pem", bundle);
    }

    void serve(const char* name = "server") {
        const fs::path cert = cert_dir / (std::string(name) + ".pem");
        const fs::path key = cert_dir / (std::string(name) + ".key");
        if (!service.start(local_port, cert.string(), key.string())) {
            // Another service on the port would answer in this one's place and
            // fail every test here for reasons of its own: stop with the real one.
            ADD_FAILURE() << service.start_error();
            std::fflush(nullptr);
            std::_Exit(EXIT_FAILURE);
        }
    }

    score_service::server service;
};

TEST_F(SendToApiTest, DeliversTheExactReportWithItsHeader) {
    serve();
    th10replay record = sample('a');
    record.player = "a\"b\\c\n";
    const auto seen = send(record);

    const std::string expected =
        "{\"token\":\"t0ken-\\\"secret\\\"\",\"replay_hash\":\"" + std::string(64, 'a') +
        "\",\"character\":1,\"ctype\":2,\"rank\":3,\"clear\":4,"
        "\"score\":[1000,2000,3000,4000,5000,6000],\"player\":\"a\\\"b\\\\c\\u000a\","
        "\"date\":\"08/09/14 18:32\"}";
    expect_error_boxes(seen, {});
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/upload/th10");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].body, expected);
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(service.accepted_reports(), std::vector<std::string>{expected});
}

TEST_F(SendToApiTest, KnownReplayShowsNothing) {
    serve();
    const auto seen = send(sample('b'), 2);
    expect_error_boxes(seen, {});
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[1].status, 409);
    EXPECT_EQ(service.accepted_reports().size(), 1u);
}

class ErrorStatusTest : public SendToApiTest, public ::testing::WithParamInterface<int> {};

TEST_P(ErrorStatusTest, ShowsTheNumberOnce) {
    serve();
    service.force_status(GetParam());
    const auto seen = send(sample('c'));
    expect_error_boxes(seen, {QString::number(GetParam())});
    ASSERT_EQ(service.requests().size(), 1u);
}

// 307 here comes without a Location, so nothing is followed and the report
// has not arrived.
INSTANTIATE_TEST_SUITE_P(Statuses, ErrorStatusTest, ::testing::Values(307, 400, 401, 500));

TEST_F(SendToApiTest, ReportRefusedByTheServiceShowsItsStatus) {
    serve();
    th10replay record = sample('d');
    record.replay_hash.clear();
    const auto seen = send(record);
    expect_error_boxes(seen, {"400"});
    EXPECT_TRUE(service.accepted_reports().empty());
}

TEST_F(SendToApiTest, RedirectChainWithinTheLimitDelivers) {
    serve();
    service.redirect_next(3);
    const auto seen = send(sample('e'));
    expect_error_boxes(seen, {});
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 4u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.body, make_json(token, sample('e')));
    }
    EXPECT_EQ(requests.back().status, 200);
    EXPECT_EQ(service.accepted_reports().size(), 1u);
}

// Redirects on the service's own scheme, host and port, written relative or
// absolute: each is followed, and the report arrives where it points as a
// POST, byte for byte, a moved upload address (301, 302) included. Of two
// Location headers the first is followed, not the second (here the service
// under its other name, where the report would arrive at /upload/th10).
TEST_F(SendToApiTest, SameOriginRedirectsAreFollowedWithTheReport) {
    const std::string origin = "https://localhost:" + std::to_string(local_port);
    const struct {
        int status;
        std::vector<std::string> locations;
        std::string arrives_at;
    } redirects[] = {
        {307, {"th10"}, "/upload/th10"},
        {308, {origin + "/upload/th10"}, "/upload/th10"},
        {307, {"https://LOCALHOST:" + std::to_string(local_port) + "/upload/th10"}, "/upload/th10"},
        {301, {"/moved/th10"}, "/moved/th10"},
        {302, {origin + "/moved/th10"}, "/moved/th10"},
        {307,
         {origin + "/moved/th10",
          "https://127.0.0.1:" + std::to_string(local_port) + "/upload/th10"},
         "/moved/th10"},
    };
    serve();
    for (const auto& redirect : redirects) {
        SCOPED_TRACE(std::to_string(redirect.status) + " to " +
                     ::testing::PrintToString(redirect.locations));
        service.forget();
        service.also_upload_at("/moved/th10");
        service.redirect_next(1, redirect.locations, redirect.status);
        const auto seen = send(sample('2'));
        expect_error_boxes(seen, {});
        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].status, redirect.status);
        EXPECT_EQ(requests[1].method, "POST");
        EXPECT_EQ(requests[1].path, redirect.arrives_at);
        EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
        EXPECT_EQ(requests[1].body, make_json(token, sample('2')));
        EXPECT_EQ(service.accepted_reports().size(), 1u);
    }
}

// A 303 says the report was handled: where it points is asked for with a
// GET, without the report.
TEST_F(SendToApiTest, SeeOtherIsFollowedWithAGetWithoutTheReport) {
    serve();
    service.redirect_next(1, {"/upload/th10"}, 303);
    const auto seen = send(sample('3'));
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].path, "/upload/th10");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_FALSE(requests[1].header("Content-Length"));
    // The service's answer to a GET of its upload address, which holds no
    // report.
    expect_error_boxes(seen, {"400"});
}

// A redirect to another port, host name or scheme is not followed, whatever
// would answer there: one box per report, and nothing reaches the other
// address. The other listeners would take the report: a second service with
// a certificate for its name, the same service under its other name
// (127.0.0.1 for localhost), a plain listener. Of several Location headers
// the first that is neither empty nor blank counts, whatever follows it.
// libcurl itself had no failure to report, hence its code 0.
class OtherOriginRedirectTest : public SendToApiTest, public ::testing::WithParamInterface<int> {};

TEST_P(OtherOriginRedirectTest, IsRefusedAndNothingReachesTheOtherAddress) {
    serve();
    score_service::server other_port;
    ASSERT_TRUE(
        other_port.start(0, (cert_dir / "server.pem").string(), (cert_dir / "server.key").string()))
        << other_port.start_error();
    loopback_listener plain;
    const std::string other_host = "127.0.0.1:" + std::to_string(local_port);
    const std::string other_port_url =
        "https://localhost:" + std::to_string(other_port.port()) + "/upload/th10";
    const std::vector<std::string> elsewhere[] = {
        {other_port_url},
        {"https://" + other_host + "/upload/th10"},
        {"//" + other_host + "/upload/th10"},
        {"http://127.0.0.1:" + std::to_string(plain.port()) + "/upload/th10"},
        {"", other_port_url},
        {"   ", other_port_url},
        {other_port_url, "/upload/th10"},
    };
    const QString refused = failure_text(texts::send_failed_other_origin, CURLE_OK);
    for (const std::vector<std::string>& locations : elsewhere) {
        SCOPED_TRACE(::testing::PrintToString(locations));
        service.forget();
        service.redirect_next(2, locations, GetParam());
        expect_error_boxes(send(sample('1'), 2), {refused, refused});
        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), 2u);
        for (const auto& request : requests)
            EXPECT_EQ(request.header("Host"), "localhost:" + std::to_string(local_port));
        EXPECT_TRUE(service.accepted_reports().empty());
    }
    EXPECT_TRUE(other_port.requests().empty());
    EXPECT_TRUE(plain.finish().empty());
}

INSTANTIATE_TEST_SUITE_P(Statuses, OtherOriginRedirectTest, ::testing::Values(301, 302, 307, 308));

// One box per failure, in Turkish: the reason for its class and libcurl's code.
TEST_F(SendToApiTest, EachTransferFailureIsToldInTurkishWithItsCode) {
    struct failure {
        const char* what;
        std::function<std::vector<SeenDialog>()> send_one; // sets the failure up
        const char* reason;
        CURLcode code;
        bool needs_unresolvable_endpoint = false;
    };
    const auto send_one = [] { return send(sample('f')); };
    const failure failures[] = {
        {"nothing listening", send_one, texts::send_failed_no_connection, CURLE_COULDNT_CONNECT},
        {"unresolvable name", send_one, texts::send_failed_no_network, CURLE_COULDNT_RESOLVE_HOST,
         true},
        {"certificate from an unknown authority",
         [&] {
             serve("stranger");
             const auto seen = send_one();
             EXPECT_TRUE(service.requests().empty());
             return seen;
         },
         texts::send_failed_certificate, CURLE_PEER_FAILED_VERIFICATION},
        {"certificate for another host",
         [&] {
             serve("wrong-host");
             const auto seen = send_one();
             EXPECT_TRUE(service.requests().empty());
             return seen;
         },
         texts::send_failed_certificate, CURLE_PEER_FAILED_VERIFICATION},
        {"four redirects",
         [&] {
             serve();
             service.redirect_next(4);
             const auto seen = send_one();
             EXPECT_EQ(service.requests().size(), 4u);
             EXPECT_TRUE(service.accepted_reports().empty());
             return seen;
         },
         texts::send_failed_too_many_redirects, CURLE_TOO_MANY_REDIRECTS},
        {"redirect to http://",
         [&] {
             serve();
             loopback_listener plain;
             service.redirect_next(
                 1, {"http://127.0.0.1:" + std::to_string(plain.port()) + "/upload/th10"});
             const auto seen = send_one();
             EXPECT_TRUE(plain.finish().empty());
             return seen;
         },
         texts::send_failed_other_origin, CURLE_OK},
        {"redirect to a URL that cannot be read",
         [&] {
             serve();
             service.redirect_next(1, {"https://[::1/upload/th10"});
             const auto seen = send_one();
             EXPECT_EQ(service.requests().size(), 1u);
             return seen;
         },
         texts::send_failed_bad_redirect, CURLE_URL_MALFORMAT},
        {"a proxy whose name does not resolve",
         [&] {
             serve();
             qputenv("https_proxy", "http://proxy.zarvik.invalid:3128");
             const auto seen = send_one();
             qunsetenv("https_proxy");
             EXPECT_TRUE(service.requests().empty());
             return seen;
         },
         texts::send_failed_no_proxy, CURLE_COULDNT_RESOLVE_PROXY},
        {"a server that never answers",
         [&] {
             loopback_listener silent(local_port, loopback_listener::manner::leave_waiting);
             return send_one();
         },
         texts::send_failed_timed_out, CURLE_OPERATION_TIMEDOUT},
        {"a server that hangs up during the handshake",
         [&] {
             loopback_listener hanging_up(local_port);
             return send_one();
         },
         texts::send_failed_secure_connection, CURLE_SSL_CONNECT_ERROR},
    };
    for (const failure& row : failures) {
        if (row.needs_unresolvable_endpoint != endpoint_unresolvable)
            continue;
        SCOPED_TRACE(row.what);
        service.stop();
        service.forget();
        expect_error_boxes(row.send_one(), {failure_text(row.reason, row.code)});
    }
}

TEST_F(SendToApiTest, NothingListeningShowsOneBoxPerReplay) {
    const auto seen = send(sample('4'), 2);
    const QString refused = failure_text(texts::send_failed_no_connection, CURLE_COULDNT_CONNECT);
    expect_error_boxes(seen, {refused, refused});
}

TEST_F(SendToApiTest, MissingBundleShowsKayipCaWithoutConnecting) {
    fs::remove(bundle);
    loopback_listener port_watch(local_port);
    const auto seen = send(sample('5'), 2);
    expect_error_boxes(seen, {"Kayıp CA", "Kayıp CA"});
    EXPECT_TRUE(port_watch.finish().empty());
}

TEST_F(SendToApiTest, BundleInTheWorkingDirectoryIsNotTrusted) {
    fs::remove(bundle);
    const temporary_folder elsewhere;
    fs::copy_file(cert_dir / "ca.pem", elsewhere.path() / "cacert.pem");
    const fs::path previous = fs::current_path();
    fs::current_path(elsewhere.path());
    loopback_listener port_watch(local_port);
    const auto seen = send(sample('6'));
    fs::current_path(previous);

    expect_error_boxes(seen, {"Kayıp CA"});
    EXPECT_TRUE(port_watch.finish().empty());
}

TEST_F(SendToApiTest, BundleThatCannotBeCheckedCountsAsMissing) {
    // A link to itself: asking whether anything is there fails with ELOOP.
    fs::remove(bundle);
    if (const std::string why = cannot_link("cacert.pem", bundle); !why.empty())
        GTEST_SKIP() << why;
    loopback_listener port_watch(local_port);
    const auto seen = send(sample('7'));
    fs::remove(bundle);
    expect_error_boxes(seen, {"Kayıp CA"});
    EXPECT_TRUE(port_watch.finish().empty());
}

TEST_F(SendToApiTest, UnreadableBundleFailsTheTransfer) {
    // Something is there, so it is not missing, but it holds no certificates.
    fs::remove(bundle);
    fs::create_directory(bundle);
    serve();
    const auto seen = send(sample('8'));
    fs::remove(bundle);
    expect_error_boxes(seen,
                       {failure_text(texts::send_failed_certificate, CURLE_SSL_CACERT_BADFILE)});
    EXPECT_TRUE(service.requests().empty());
}

// On Windows this program's folder has a name that no ANSI code page holds.
TEST(ExecutableDirectoryTest, NamesTheFolderOfThisProgram) {
    const fs::path directory = executable_directory();
    EXPECT_TRUE(directory.is_absolute());
    EXPECT_TRUE(fs::equivalent(directory, program_dir));
#ifdef _WIN32
    EXPECT_TRUE(fs::exists(directory / "zarvik_upload_tests.exe"));
#else
    EXPECT_TRUE(fs::exists(directory / "zarvik_upload_tests"));
#endif
}

} // namespace
