#include "Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace device::hap {

namespace {

int millisecondsUntil(SteadyClock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

Status unreachable(const Endpoint& endpoint, const std::string& why) {
    return Status::error("Could not connect to the accessory at " + endpoint.text() + ": " + why);
}

}  // namespace

StatusOr<std::unique_ptr<Socket>> Socket::connect(const Endpoint& endpoint, SteadyClock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string port = std::to_string(endpoint.port);
    int resolved = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0)
        return unreachable(endpoint, std::string("the host is unknown (") + gai_strerror(resolved) + ").");
    std::string lastError = "no address to try.";
    for (addrinfo* address = found; address; address = address->ai_next) {
        int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) {
            lastError = std::strerror(errno);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto socket = std::unique_ptr<Socket>(new Socket(fd, endpoint));
        if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastError = std::strerror(errno);
                continue;
            }
            Status waited = socket->waitFor(POLLOUT, deadline, "connecting");
            int error = 0;
            socklen_t size = sizeof error;
            if (!waited.ok()) {
                lastError = "no answer in time.";
                continue;
            }
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
                lastError = std::strerror(error ? error : errno);
                continue;
            }
        }
        freeaddrinfo(found);
        return socket;
    }
    freeaddrinfo(found);
    return unreachable(endpoint, lastError);
}

Socket::~Socket() {
    if (fd_ >= 0) close(fd_);
}

device::Status Socket::waitFor(short events, SteadyClock::time_point deadline, const char* what) {
    for (;;) {
        pollfd watched{fd_, events, 0};
        int ready = poll(&watched, 1, millisecondsUntil(deadline));
        if (ready > 0) return Status::OK();
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Status::error("Waiting on the accessory at " + endpoint_.text() + " failed.");
        return Status::error("The accessory at " + endpoint_.text() + " did not answer in time (" + what + ").");
    }
}

device::Status Socket::send(std::string_view bytes, SteadyClock::time_point deadline) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Status waited = waitFor(POLLOUT, deadline, "sending");
            if (!waited.ok()) return waited;
            continue;
        }
        return Status::error("Sending to the accessory at " + endpoint_.text() + " failed: " + std::strerror(errno));
    }
    return Status::OK();
}

device::Status Socket::receiveNow(char* buffer, size_t size, size_t& received) {
    received = 0;
    for (;;) {
        ssize_t got = ::recv(fd_, buffer, size, 0);
        if (got > 0) {
            received = static_cast<size_t>(got);
            return Status::OK();
        }
        if (got == 0) return Status::error("The accessory at " + endpoint_.text() + " closed the connection.");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Status::OK();
        return Status::error("Reading from the accessory at " + endpoint_.text() + " failed: " + std::strerror(errno));
    }
}

device::Status Socket::receive(char* buffer, size_t size, size_t& received, SteadyClock::time_point deadline) {
    for (;;) {
        Status read = receiveNow(buffer, size, received);
        if (!read.ok() || received > 0) return read;
        Status waited = waitFor(POLLIN, deadline, "waiting for its answer");
        if (!waited.ok()) return waited;
    }
}

}  // namespace device::hap
