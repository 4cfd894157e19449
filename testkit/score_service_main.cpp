// zarvik-score-service [--port P] [--cert FILE --key FILE] [--status S]
// Runs the local score service on https://127.0.0.1:P/upload/th10 and prints
// each accepted report on its own line until SIGINT or SIGTERM. P is the
// port that this build's zarvik-local reports to, and the certificate is the
// build's test server certificate, unless given. With --status, every upload
// is answered with S instead (for tests of refusals).

#include "testkit/score_service.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <string>

namespace {

int usage() {
    std::cerr << "usage: zarvik-score-service [--port P] [--cert FILE --key FILE] [--status S]\n";
    return 2;
}

// A whole decimal number from `low` to `high`, or -1.
int number_in(const std::string& text, long low, long high) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end != '\0' || number < low || number > high ? -1
                                                                         : static_cast<int>(number);
}

} // namespace

int main(int argc, char** argv) {
    int port = ZARVIK_LOCAL_PORT, status = 0;
    std::string cert = ZARVIK_TEST_CERT_DIR "/server.pem", key = ZARVIK_TEST_CERT_DIR "/server.key";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--port") {
            if ((port = number_in(value, 1, 65535)) < 0)
                return usage();
        } else if (option == "--status") {
            if ((status = number_in(value, 100, 599)) < 0)
                return usage();
        } else if (option == "--cert") {
            cert = value;
        } else if (option == "--key") {
            key = value;
        } else {
            return usage();
        }
    }
    if (argc % 2 == 0 || cert.empty() || key.empty())
        return usage();

    // Blocked before the service starts its threads, so that they inherit the
    // mask and the signals wait for sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    score_service::server service;
    service.echo_reports(&std::cout);
    service.log_requests(&std::cerr);
    service.force_status(status);
    if (!service.start(port, cert, key)) {
        std::cerr << "zarvik-score-service: " << service.start_error() << '\n';
        return 1;
    }
    std::cerr << "zarvik-score-service: listening on https://127.0.0.1:" << port
              << "/upload/th10\n";

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    service.stop();
    return 0;
}
