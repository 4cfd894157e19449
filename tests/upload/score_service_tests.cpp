// The local score service: how it answers over HTTPS. Other suites rely on it.

#include "testkit/loopback_listener.h"
#include "testkit/score_service.h"

#include <filesystem>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sstream>

namespace {

const std::filesystem::path cert_dir = ZARVIK_TEST_CERT_DIR;
const std::string hash_a(64, 'a');

std::string report(const std::string& hash = hash_a, const std::string& player = "p") {
    return "{\"token\":\"tok\",\"replay_hash\":\"" + hash +
           "\",\"character\":2,\"ctype\":0,\"rank\":3,\"clear\":8,"
           "\"score\":[1,2,3,4,5,6],\"player\":\"" +
           player + "\",\"date\":\"d\"}";
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.start(0, (cert_dir / "server.pem").string(),
                                  (cert_dir / "server.key").string()))
            << service.start_error();
        // By name, as the program names it: httplib built with MinGW-w64
        // checks no IP address against the certificate.
        client = std::make_unique<httplib::SSLClient>("localhost", service.port());
        client->set_ca_cert_path((cert_dir / "ca.pem").string().c_str());
        client->enable_server_certificate_verification(true);
    }

    int post(const std::string& body, const char* type = "application/json",
             const char* path = "/upload/th10") {
        const auto result = client->Post(path, body, type);
        if (!result) {
            ADD_FAILURE() << "no answer: " << httplib::to_string(result.error())
                          << " (certificate check " << client->get_openssl_verify_result() << ")";
            return -1;
        }
        return result->status;
    }

    score_service::server service;
    std::unique_ptr<httplib::SSLClient> client;
};

TEST_F(ServiceTest, AcceptsNewReplaysAndRefusesKnownOnes) {
    std::ostringstream echoed;
    service.echo_reports(&echoed);
    EXPECT_EQ(post(report()), 200);
    EXPECT_EQ(post(report()), 409);
    // Names arrive byte for byte, UTF-8 or not.
    const std::string other = report(std::string(64, 'b'), "\x82\xa0\xff");
    EXPECT_EQ(post(other), 200);
    EXPECT_EQ(service.accepted_reports(), (std::vector<std::string>{report(), other}));
    EXPECT_EQ(echoed.str(), report() + "\n" + other + "\n");
}

TEST_F(ServiceTest, RefusesWhatIsNotAReport) {
    EXPECT_EQ(post("{}"), 400);
    EXPECT_EQ(post(report().substr(1)), 400);
    EXPECT_EQ(post(report(std::string(64, 'A'))), 400);
    EXPECT_EQ(post(report(std::string(63, 'a'))), 400);
    EXPECT_EQ(post(report(), "application/json", "/upload/th11"), 404);
    EXPECT_TRUE(service.accepted_reports().empty());
}

TEST_F(ServiceTest, RecordsEveryRequest) {
    EXPECT_EQ(post(report()), 200);
    EXPECT_EQ(post("x", "application/json", "/elsewhere"), 404);
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/upload/th10");
    EXPECT_EQ(requests[0].header("content-type"), "application/json");
    EXPECT_EQ(requests[0].body, report());
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[1].path, "/elsewhere");
    EXPECT_EQ(requests[1].status, 404);
    EXPECT_FALSE(requests[1].header("X-Absent"));

    service.forget();
    EXPECT_TRUE(service.requests().empty());
    EXPECT_EQ(post(report()), 200);
}

TEST_F(ServiceTest, ForcedStatusAndRedirectsTakePrecedence) {
    service.redirect_next(2, {"https://localhost:1/upload/th10"}, 308);
    service.force_status(503);
    for (int i = 0; i < 2; ++i) {
        const auto got = client->Post("/upload/th10", report(), "application/json");
        ASSERT_TRUE(got);
        EXPECT_EQ(got->status, 308);
        EXPECT_EQ(got->get_header_value("Location"), "https://localhost:1/upload/th10");
    }
    EXPECT_EQ(post(report()), 503);
    service.force_status(0);
    EXPECT_EQ(post(report()), 200);
}

TEST_F(ServiceTest, SecondServiceOnTheSamePortFailsAndSaysWhy) {
    score_service::server second;
    EXPECT_FALSE(second.start(service.port(), (cert_dir / "server.pem").string(),
                              (cert_dir / "server.key").string()));
    EXPECT_EQ(second.start_error(),
              "cannot listen on 127.0.0.1:" + std::to_string(service.port()) +
                  " (most likely a score service or demo left running holds the port)");
    EXPECT_EQ(post(report()), 200);
}

// Nor does the tests' other listener share a port that is taken.
TEST(LoopbackListenerTest, SecondListenerOnTheSamePortFails) {
    loopback_listener first;
    EXPECT_NONFATAL_FAILURE(loopback_listener second(first.port()), "cannot listen on 127.0.0.1:");
}

TEST(ServiceStartTest, FailsOnUnusableCertificate) {
    score_service::server service;
    const std::string missing = (cert_dir / "missing.pem").string();
    EXPECT_FALSE(service.start(0, missing, (cert_dir / "server.key").string()));
    EXPECT_NE(service.start_error().find("certificate " + missing), std::string::npos)
        << service.start_error();
}

} // namespace
