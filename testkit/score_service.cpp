#include "testkit/score_service.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/err.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <ostream>
#include <set>
#include <strings.h>
#include <thread>

namespace score_service {

namespace {

const char upload_path[] = "/upload/th10";

// The port is held exclusively. httplib's default options add SO_REUSEPORT,
// with which a second service can bind a port that one is listening on and
// take a share of its connections; SO_REUSEADDR alone still lets a restarted
// service bind while connections of the last one linger. Windows' SO_REUSEADDR
// would let a second service take the port outright, so there the port is
// claimed with SO_EXCLUSIVEADDRUSE instead.
void hold_port(socket_t socket) {
    const int yes = 1;
#ifdef _WIN32
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
#else
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

// The first reason OpenSSL recorded on this thread, as ": reason", or nothing.
std::string tls_reason() {
    const unsigned long code = ERR_peek_error();
    if (code == 0)
        return {};
    // A file that cannot be opened is recorded as the system's error number.
    if (ERR_GET_LIB(code) == ERR_LIB_SYS)
        return std::string(": ") + std::strerror(ERR_GET_REASON(code));
    const char* reason = ERR_reason_error_string(code);
    return reason ? std::string(": ") + reason : std::string();
}

// The report's replay_hash, or nothing when the body is no JSON object with
// a hash of 64 lowercase hexadecimal digits. Names and dates arrive byte for
// byte, UTF-8 or not, and the parser takes only UTF-8: every byte above 0x7f
// goes to it as a plain ASCII character.
std::optional<std::string> report_hash(std::string body) {
    std::replace_if(
        body.begin(), body.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7f; }, '?');
    const nlohmann::json report = nlohmann::json::parse(body, nullptr, false);
    if (!report.is_object() || !report.contains("replay_hash") ||
        !report["replay_hash"].is_string())
        return std::nullopt;
    const std::string hash = report["replay_hash"].get<std::string>();
    if (hash.size() != 64 || hash.find_first_not_of("0123456789abcdef") != std::string::npos)
        return std::nullopt;
    return hash;
}

} // namespace

std::optional<std::string> received_request::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return std::nullopt;
}

struct server::state {
    std::unique_ptr<httplib::SSLServer> https;
    std::thread listener;
    std::atomic<int> port{0};
    std::string start_error;

    mutable std::mutex mutex;
    std::vector<received_request> requests;
    std::vector<std::string> accepted;
    std::set<std::string> known_hashes;
    int forced_status = 0;
    int redirects_left = 0;
    std::vector<std::string> redirect_locations;
    int redirect_status = 307;
    std::string moved_upload_path;
    std::ostream* echo = nullptr;
    std::ostream* log = nullptr;

    void answer(const httplib::Request& request, httplib::Response& response);
    void answer_upload(const received_request& request, httplib::Response& response);
};

void server::state::answer(const httplib::Request& request, httplib::Response& response) {
    received_request seen;
    seen.method = request.method;
    seen.path = request.path;
    for (const auto& header : request.headers)
        seen.headers.emplace_back(header.first, header.second);
    seen.body = request.body;

    const std::lock_guard<std::mutex> lock(mutex);
    if (request.path != upload_path &&
        (moved_upload_path.empty() || request.path != moved_upload_path)) {
        response.status = 404;
    } else {
        answer_upload(seen, response);
    }
    seen.status = response.status;
    if (log)
        *log << seen.method << ' ' << seen.path << " -> " << seen.status << std::endl;
    requests.push_back(std::move(seen));
}

void server::state::answer_upload(const received_request& request, httplib::Response& response) {
    if (redirects_left > 0) {
        --redirects_left;
        response.status = redirect_status;
        // emplace, not set_header: a header given twice is sent twice.
        if (redirect_locations.empty())
            response.headers.emplace("Location", upload_path);
        for (const std::string& location : redirect_locations)
            response.headers.emplace("Location", location);
        return;
    }
    if (forced_status != 0) {
        response.status = forced_status;
        return;
    }
    // 200 for a new replay, 409 for a known one, 400 for a malformed report.
    const std::optional<std::string> hash = report_hash(request.body);
    if (!hash) {
        response.status = 400;
    } else if (!known_hashes.insert(*hash).second) {
        response.status = 409;
    } else {
        accepted.push_back(request.body);
        if (echo)
            *echo << request.body << std::endl;
        response.status = 200;
    }
}

server::server() : state_(std::make_unique<state>()) {}

server::~server() {
    stop();
}

bool server::start(int port, const std::string& cert_file, const std::string& key_file,
                   const std::string& host) {
    stop();
    state_->start_error.clear();
    ERR_clear_error();
    auto https = std::make_unique<httplib::SSLServer>(cert_file.c_str(), key_file.c_str());
    if (!https->is_valid()) {
        state_->start_error = "cannot load the TLS certificate " + cert_file + " with the key " +
                              key_file + tls_reason();
        ERR_clear_error();
        return false;
    }
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        state_->answer(request, response);
    };
    https->Get(".*", handler);
    https->Post(".*", handler);
    // Short waits keep stop() quick when a client leaves a connection open.
    https->set_keep_alive_timeout(1);
    https->set_read_timeout(5, 0);
    https->set_socket_options(hold_port);

    const int bound =
        port == 0 ? https->bind_to_any_port(host) : (https->bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        state_->start_error = "cannot listen on " + host + ":" + std::to_string(port) +
                              " (most likely a score service or demo left running holds the port)";
        return false;
    }
    port = bound;
    state_->port = port;
    httplib::SSLServer* running = https.get();
    state_->https = std::move(https);
    state_->listener = std::thread([running] { running->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs, so wait for it.
    for (int wait = 0; wait < 5000 && !running->is_running(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!running->is_running()) {
        state_->start_error = "the service on " + host + ":" + std::to_string(port) +
                              " did not start accepting connections";
        return false;
    }
    return true;
}

std::string server::start_error() const {
    return state_->start_error;
}

void server::stop() {
    if (!state_->https)
        return;
    state_->https->stop();
    if (state_->listener.joinable())
        state_->listener.join();
    state_->https.reset();
    state_->port = 0;
}

int server::port() const {
    return state_->port;
}

std::vector<received_request> server::requests() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->requests;
}

std::vector<std::string> server::accepted_reports() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->accepted;
}

void server::force_status(int status) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->forced_status = status;
}

void server::redirect_next(int count, const std::vector<std::string>& locations, int status) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->redirects_left = count;
    state_->redirect_locations = locations;
    state_->redirect_status = status;
}

void server::also_upload_at(const std::string& path) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->moved_upload_path = path;
}

void server::echo_reports(std::ostream* out) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->echo = out;
}

void server::log_requests(std::ostream* out) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->log = out;
}

void server::forget() {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->requests.clear();
    state_->accepted.clear();
    state_->known_hashes.clear();
    state_->forced_status = 0;
    state_->redirects_left = 0;
    state_->redirect_locations.clear();
    state_->redirect_status = 307;
    state_->moved_upload_path.clear();
}

} // namespace score_service
