#pragma once
// A bare TCP listener on 127.0.0.1 that takes every connection and keeps
// whatever the client sends: the witness that nothing was sent somewhere,
// in clear text or at all. Or, left waiting, a server that never answers.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class loopback_listener {
  public:
#ifdef _WIN32
    using socket_handle = std::uintptr_t; // SOCKET
#else
    using socket_handle = int;
#endif

    enum class manner {
        // Each connection is read until the client goes quiet, then closed.
        take_and_close,
        // Connections are left waiting, unread and unanswered, until finish().
        leave_waiting,
    };

    // Port 0 picks a free port. Fails the current test if it cannot listen.
    explicit loopback_listener(int port = 0, manner how = manner::take_and_close);
    ~loopback_listener();
    loopback_listener(const loopback_listener&) = delete;
    loopback_listener& operator=(const loopback_listener&) = delete;

    int port() const {
        return port_;
    }
    // Stops listening; returns what each connection sent, one entry each,
    // including connections that were still waiting to be taken.
    std::vector<std::string> finish();

  private:
    void take(socket_handle connection);

    socket_handle socket_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::string> received_;
#ifdef _WIN32
    bool winsock_started_ = false;
#endif
};
