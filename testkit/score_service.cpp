#include "testkit/score_service.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/err.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <ostream>
#include <set>
#include <strings.h>
#include <thread>
#ifndef _WIN32
#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

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

#ifdef _WIN32
int last_socket_error() {
    return WSAGetLastError();
}
constexpr int address_in_use = WSAEADDRINUSE;
std::string socket_error_text(int error) {
    return "Winsock error " + std::to_string(error);
}
void close_socket(socket_t socket) {
    closesocket(socket);
}
#else
int last_socket_error() {
    return errno;
}
constexpr int address_in_use = EADDRINUSE;
std::string socket_error_text(int error) {
    return std::strerror(error);
}
void close_socket(socket_t socket) {
    close(socket);
}
#endif

// httplib does not say why a bind failed, so a socket of our own is bound to
// the same address the same way to learn it.
std::string bind_failure(const std::string& host, int port) {
    const std::string where = host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0)
        return "cannot listen on " + where + ": " + gai_strerror(lookup);
    int error = 0;
    const socket_t probe = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (probe == INVALID_SOCKET) {
        error = last_socket_error();
    } else {
        hold_port(probe);
        if (bind(probe, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0)
            error = last_socket_error();
        close_socket(probe);
    }
    freeaddrinfo(found);
    if (error == address_in_use)
        return "port " + std::to_string(port) +
               " is in use (most likely by a score service or demo left running)";
    if (error != 0)
        return "cannot listen on " + where + ": " + socket_error_text(error);
    return "cannot listen on " + where;
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

// The parser allows blanks between tokens, which the client never sends, and
// only UTF-8 inside strings, while the client passes names and dates on byte
// for byte. So blanks outside strings are refused here, and every byte above
// 0x7f goes to the parser as an ASCII stand-in: inside a string it is taken
// like any other character, anywhere else it stays an error.
std::optional<std::string> parsable_copy(const std::string& body) {
    std::string copy = body;
    bool in_string = false, after_backslash = false;
    for (char& c : copy) {
        if (in_string) {
            if (after_backslash)
                after_backslash = false;
            else if (c == '\\')
                after_backslash = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            return std::nullopt;
        }
        if (static_cast<unsigned char>(c) > 0x7f)
            c = '?';
    }
    return copy;
}

bool is_unsigned_up_to(const nlohmann::json& value, std::uint64_t max) {
    return value.is_number_unsigned() && value.get<std::uint64_t>() <= max;
}

bool is_replay_hash(const std::string& hash) {
    if (hash.size() != 64)
        return false;
    for (const char c : hash)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

std::optional<std::string> check_report(const std::string& body) {
    const std::optional<std::string> text = parsable_copy(body);
    if (!text)
        return std::nullopt;
    // Every key of the report object as written: a parsed object keeps only
    // one of two equal keys, so it cannot show a repeated key.
    std::vector<std::string> keys;
    const auto note_key = [&keys](int depth, nlohmann::json::parse_event_t event,
                                  nlohmann::json& parsed) {
        if (event == nlohmann::json::parse_event_t::key && depth == 1)
            keys.push_back(parsed.get<std::string>());
        return true;
    };
    const nlohmann::json report = nlohmann::json::parse(*text, note_key, false);
    const std::vector<std::string> expected_keys = {
        "token", "replay_hash", "character", "ctype", "rank", "clear", "score", "player", "date"};
    if (report.is_discarded() || !report.is_object() || keys != expected_keys)
        return std::nullopt;

    for (const char* name : {"token", "replay_hash", "player", "date"})
        if (!report.at(name).is_string())
            return std::nullopt;
    for (const char* name : {"character", "ctype", "rank", "clear"})
        if (!is_unsigned_up_to(report.at(name), 255))
            return std::nullopt;
    const nlohmann::json& score = report.at("score");
    if (!score.is_array() || score.size() != 6)
        return std::nullopt;
    for (const nlohmann::json& stage : score)
        if (!is_unsigned_up_to(stage, 4294967295u))
            return std::nullopt;

    // Bytes above 0x7f were replaced, but a hash holding one is refused either way.
    std::string hash = report.at("replay_hash").get<std::string>();
    if (!is_replay_hash(hash))
        return std::nullopt;
    return hash;
}

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
    } else if (request.method != "POST") {
        response.status = 405;
        response.set_header("Allow", "POST");
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
    if (request.header("Content-Type") != "application/json") {
        response.status = 415;
        return;
    }
    const std::optional<std::string> hash = check_report(request.body);
    if (!hash) {
        response.status = 400;
        response.set_content("malformed report\n", "text/plain");
        return;
    }
    if (!known_hashes.insert(*hash).second) {
        response.status = 409;
        response.set_content("replay already known\n", "text/plain");
        return;
    }
    accepted.push_back(request.body);
    if (echo)
        *echo << request.body << std::endl;
    response.status = 200;
    response.set_content("ok\n", "text/plain");
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
    https->Put(".*", handler);
    https->Patch(".*", handler);
    https->Delete(".*", handler);
    https->Options(".*", handler);
    // Short waits keep stop() quick when a client leaves a connection open.
    https->set_keep_alive_timeout(1);
    https->set_read_timeout(5, 0);
    https->set_socket_options(hold_port);

    if (port == 0) {
        const int chosen = https->bind_to_any_port(host);
        if (chosen <= 0) {
            state_->start_error = bind_failure(host, port);
            return false;
        }
        port = chosen;
    } else if (!https->bind_to_port(host, port)) {
        state_->start_error = bind_failure(host, port);
        return false;
    }
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
