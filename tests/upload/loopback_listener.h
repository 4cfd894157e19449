#pragma once
// A bare TCP listener on 127.0.0.1 that takes every connection and keeps
// whatever the client sends: the witness that nothing was sent somewhere,
// in clear text or at all.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class loopback_listener {
  public:
    // Port 0 picks a free port. Fails the current test if it cannot listen.
    explicit loopback_listener(int port = 0);
    ~loopback_listener();
    loopback_listener(const loopback_listener&) = delete;
    loopback_listener& operator=(const loopback_listener&) = delete;

    int port() const { return port_; }
    // Stops listening; returns what each connection sent, one entry each,
    // including connections that were still waiting to be taken.
    std::vector<std::string> finish();

  private:
    void take(int connection);

    int socket_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::string> received_;
};
