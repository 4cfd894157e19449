#include "tests/upload/loopback_listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

loopback_listener::loopback_listener(int port, manner how) {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    // As the score service does: the port is reused at once by the next test,
    // while connections the service closed may still linger on it.
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket_, 16) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1:" << port << ": " << std::strerror(errno);
        return;
    }
    ::fcntl(socket_, F_SETFL, O_NONBLOCK);
    port_ = ntohs(address.sin_port);
    if (how == manner::leave_waiting)
        return;
    thread_ = std::thread([this] {
        while (!stopping_) {
            pollfd waiting{socket_, POLLIN, 0};
            if (::poll(&waiting, 1, 20) > 0) {
                const int connection = ::accept(socket_, nullptr, nullptr);
                if (connection >= 0)
                    take(connection);
            }
        }
    });
}

loopback_listener::~loopback_listener() {
    finish();
}

void loopback_listener::take(int connection) {
    std::string bytes;
    char chunk[4096];
    // Reads until the client goes quiet for a moment; bounded either way.
    for (int rounds = 0; rounds < 50; ++rounds) {
        pollfd readable{connection, POLLIN, 0};
        if (::poll(&readable, 1, 100) <= 0)
            break;
        const ssize_t got = ::read(connection, chunk, sizeof chunk);
        if (got <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(connection);
    received_.push_back(bytes);
}

std::vector<std::string> loopback_listener::finish() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (socket_ >= 0) {
        for (int connection; (connection = ::accept(socket_, nullptr, nullptr)) >= 0;)
            take(connection);
        ::close(socket_);
        socket_ = -1;
    }
    return received_;
}
