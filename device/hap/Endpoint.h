// Where an accessory listens: a host name or address and a TCP port.
#pragma once

#include <cstdint>
#include <string>

namespace device::hap {

struct Endpoint {
    std::string host;
    uint16_t port = 0;
    // "host:port", for messages.
    std::string text() const { return host + ":" + std::to_string(port); }
};

}  // namespace device::hap
