// A TCP connection to an accessory with deadlines on every step: non-blocking underneath, with
// TCP_NODELAY, so that a request goes out at once in the single write that carries it.
#pragma once

#include <chrono>
#include <memory>
#include <string_view>

#include "../base/Clock.h"
#include "../base/Status.h"
#include "../base/StatusOr.h"
#include "Endpoint.h"

namespace device::hap {

class Socket {
public:
    // A connected socket; an error saying why no address of the endpoint could be reached in time.
    static device::StatusOr<std::unique_ptr<Socket>> connect(const Endpoint& endpoint,
                                                             SteadyClock::time_point deadline);
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int descriptor() const { return fd_; }
    // Sends all of `bytes`: one write(2) unless the kernel takes only part of it.
    device::Status send(std::string_view bytes, SteadyClock::time_point deadline);
    // Waits until something arrives (or the deadline passes) and reads up to `size` bytes. 0 bytes
    // read is an error saying the accessory closed the connection.
    device::Status receive(char* buffer, size_t size, size_t& received, SteadyClock::time_point deadline);
    // Reads what is there now; `received` 0 when nothing is.
    device::Status receiveNow(char* buffer, size_t size, size_t& received);

private:
    Socket(int fd, Endpoint endpoint) : fd_(fd), endpoint_(std::move(endpoint)) {}
    device::Status waitFor(short events, SteadyClock::time_point deadline, const char* what);

    int fd_ = -1;
    Endpoint endpoint_;
};

}  // namespace device::hap
