#include "tools/score_service.h"

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <ostream>
#include <set>
#include <strings.h>
#include <thread>

namespace score_service {

namespace {

const char upload_path[] = "/upload/th10";

// A strict reader for the one report layout: no blanks, fixed key order.
class report_reader {
  public:
    explicit report_reader(const std::string& text) : text_(text) {}

    bool literal(const char* expected) {
        for (; *expected; ++expected, ++at_)
            if (at_ >= text_.size() || text_[at_] != *expected)
                return false;
        return true;
    }

    bool key(const char* name) { return literal("\"") && literal(name) && literal("\":"); }

    // A JSON string with only JSON's escapes; `contents` gets what lies
    // between the quotes, escapes left as written.
    bool string(std::string& contents) {
        if (!literal("\""))
            return false;
        const std::size_t start = at_;
        while (at_ < text_.size()) {
            const auto byte = static_cast<unsigned char>(text_[at_++]);
            if (byte == '"') {
                contents = text_.substr(start, at_ - 1 - start);
                return true;
            }
            if (byte < 0x20)
                return false;
            if (byte == '\\' && !escape())
                return false;
        }
        return false;
    }

    bool escape() {
        if (at_ >= text_.size())
            return false;
        const char kind = text_[at_++];
        if (kind != 'u')
            return kind != '\0' && std::strchr("\"\\/bfnrt", kind) != nullptr;
        for (int digit = 0; digit < 4; ++digit, ++at_)
            if (at_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_])))
                return false;
        return true;
    }

    // A non-negative decimal without sign, fraction, exponent or leading zero.
    bool number(std::uint64_t max) {
        const std::size_t start = at_;
        std::uint64_t value = 0;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            if (at_ - start >= 10)
                return false;
            value = value * 10 + static_cast<std::uint64_t>(text_[at_++] - '0');
        }
        if (at_ == start || (text_[start] == '0' && at_ - start > 1))
            return false;
        return value <= max;
    }

    bool at_end() const { return at_ == text_.size(); }

  private:
    const std::string& text_;
    std::size_t at_ = 0;
};

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
    report_reader reader(body);
    std::string token, hash, player, date;
    const std::uint64_t byte_max = 255, score_max = 4294967295u;
    bool ok = reader.literal("{") && reader.key("token") && reader.string(token) &&
              reader.literal(",") && reader.key("replay_hash") && reader.string(hash) &&
              reader.literal(",") && reader.key("character") && reader.number(byte_max) &&
              reader.literal(",") && reader.key("ctype") && reader.number(byte_max) &&
              reader.literal(",") && reader.key("rank") && reader.number(byte_max) &&
              reader.literal(",") && reader.key("clear") && reader.number(byte_max) &&
              reader.literal(",") && reader.key("score") && reader.literal("[") &&
              reader.number(score_max);
    for (int stage = 1; ok && stage < 6; ++stage)
        ok = reader.literal(",") && reader.number(score_max);
    ok = ok && reader.literal("]") && reader.literal(",") && reader.key("player") &&
         reader.string(player) && reader.literal(",") && reader.key("date") &&
         reader.string(date) && reader.literal("}") && reader.at_end();
    if (!ok || !is_replay_hash(hash))
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

    mutable std::mutex mutex;
    std::vector<received_request> requests;
    std::vector<std::string> accepted;
    std::set<std::string> known_hashes;
    int forced_status = 0;
    int redirects_left = 0;
    std::string redirect_location;
    int redirect_status = 307;
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
    if (request.path != upload_path) {
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
        response.set_header("Location",
                            redirect_location.empty() ? upload_path : redirect_location);
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
    auto https = std::make_unique<httplib::SSLServer>(cert_file.c_str(), key_file.c_str());
    if (!https->is_valid())
        return false;
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

    if (port == 0) {
        port = https->bind_to_any_port(host);
        if (port <= 0)
            return false;
    } else if (!https->bind_to_port(host, port)) {
        return false;
    }
    state_->port = port;
    httplib::SSLServer* running = https.get();
    state_->https = std::move(https);
    state_->listener = std::thread([running] { running->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs, so wait for it.
    for (int wait = 0; wait < 5000 && !running->is_running(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return running->is_running();
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

void server::redirect_next(int count, const std::string& location, int status) {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->redirects_left = count;
    state_->redirect_location = location;
    state_->redirect_status = status;
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
    state_->redirect_location.clear();
    state_->redirect_status = 307;
}

} // namespace score_service
