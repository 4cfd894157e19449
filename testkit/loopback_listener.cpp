#include "testkit/loopback_listener.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr loopback_listener::socket_handle no_socket = INVALID_SOCKET;
int poll_one(loopback_listener::socket_handle socket, int milliseconds) {
    WSAPOLLFD waiting{socket, POLLRDNORM, 0};
    return WSAPoll(&waiting, 1, milliseconds);
}
void close_socket(loopback_listener::socket_handle socket) {
    closesocket(socket);
}
std::string socket_error_text() {
    return "Winsock error " + std::to_string(WSAGetLastError());
}
#else
constexpr loopback_listener::socket_handle no_socket = -1;
int poll_one(loopback_listener::socket_handle socket, int milliseconds) {
    pollfd waiting{socket, POLLIN, 0};
    return ::poll(&waiting, 1, milliseconds);
}
void close_socket(loopback_listener::socket_handle socket) {
    ::close(socket);
}
std::string socket_error_text() {
    return std::strerror(errno);
}
#endif

} // namespace

loopback_listener::loopback_listener(int port, manner how) : socket_(no_socket) {
#ifdef _WIN32
    WSADATA version{};
    winsock_started_ = WSAStartup(MAKEWORD(2, 2), &version) == 0;
#endif
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
#ifdef _WIN32
    // Windows' SO_REUSEADDR would let this share a port that a service holds.
    ::setsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
#else
    // As the score service does: the port is reused at once by the next test,
    // while connections the service closed may still linger on it; but not
    // SO_REUSEPORT, with which a port that another program listens on would
    // be shared instead of found taken.
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ == no_socket ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket_, 16) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1:" << port << ": " << socket_error_text();
        return;
    }
#ifdef _WIN32
    u_long non_blocking = 1;
    ::ioctlsocket(socket_, FIONBIO, &non_blocking);
#else
    ::fcntl(socket_, F_SETFL, O_NONBLOCK);
#endif
    port_ = ntohs(address.sin_port);
    if (how == manner::leave_waiting)
        return;
    thread_ = std::thread([this] {
        while (!stopping_) {
            if (poll_one(socket_, 20) > 0) {
                const socket_handle connection = ::accept(socket_, nullptr, nullptr);
                if (connection != no_socket)
                    take(connection);
            }
        }
    });
}

loopback_listener::~loopback_listener() {
    finish();
#ifdef _WIN32
    if (winsock_started_)
        WSACleanup();
#endif
}

void loopback_listener::take(socket_handle connection) {
    std::string bytes;
    char chunk[4096];
    // Reads until the client goes quiet for a moment; bounded either way.
    for (int rounds = 0; rounds < 50; ++rounds) {
        if (poll_one(connection, 100) <= 0)
            break;
        const auto got = ::recv(connection, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    close_socket(connection);
    received_.push_back(bytes);
}

std::vector<std::string> loopback_listener::finish() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (socket_ != no_socket) {
        for (socket_handle connection;
             (connection = ::accept(socket_, nullptr, nullptr)) != no_socket;)
            take(connection);
        close_socket(socket_);
        socket_ = no_socket;
    }
    return received_;
}
