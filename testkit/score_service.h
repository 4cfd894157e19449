#pragma once
// A small local stand-in for the score service: HTTPS on loopback, the upload
// path "/upload/th10", the same answers the real service gives (200 for a new
// replay, 409 for a known one, 400 for a malformed report), and knobs that
// tests use to make it misbehave. Used by the tests and by the demo.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace score_service {

// One request as it arrived, and what the service answered.
struct received_request {
    std::string method;
    std::string path; // without any query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int status = 0;

    // The first value of the header `name` (case-insensitive), if present.
    std::optional<std::string> header(const std::string& name) const;
};

class server {
  public:
    server();
    ~server(); // stops the service
    server(const server&) = delete;
    server& operator=(const server&) = delete;

    // Listens for HTTPS on host:port (port 0 picks a free one) with the given
    // PEM certificate and key. The port is held exclusively: while another
    // service listens on it, start fails instead of sharing its connections.
    // False when the certificate or key cannot be loaded or the port cannot
    // be bound; start_error() then says which. The service runs on its own
    // threads until stop().
    bool start(int port, const std::string& cert_file, const std::string& key_file,
               const std::string& host = "127.0.0.1");
    // Why the last start() failed, for a person to read, such as "cannot
    // listen on 127.0.0.1:47444 (most likely a score service or demo left
    // running holds the port)"; empty after a successful start.
    std::string start_error() const;
    void stop();
    int port() const;

    // Everything received since start() or forget(), in arrival order; also
    // requests that were redirected, refused or sent to another path.
    std::vector<received_request> requests() const;
    // The bodies of the reports answered with 200.
    std::vector<std::string> accepted_reports() const;

    // Answers every upload with `status` without looking at it (0: normal).
    void force_status(int status);
    // Answers the next `count` uploads with a redirect of the given status,
    // with a Location header for each of `locations`, in order; with none,
    // one points back at "/upload/th10" itself, so a count of N makes a chain
    // of N redirects before the upload is taken.
    void redirect_next(int count, const std::vector<std::string>& locations = {}, int status = 307);
    // Takes uploads at `path` too, as a service whose upload address moved.
    void also_upload_at(const std::string& path);
    // Writes every accepted report to `out` on a line of its own (nullptr: off).
    void echo_reports(std::ostream* out);
    // Writes "METHOD PATH -> STATUS" for every request to `out` (nullptr: off).
    void log_requests(std::ostream* out);
    // Drops the recorded requests, accepted reports, known replays and knobs.
    void forget();

  private:
    struct state;
    std::unique_ptr<state> state_;
};

} // namespace score_service
