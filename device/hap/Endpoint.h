// Where an accessory listens: a host name or address and a TCP port.
#pragma once

#include <cstdint>
#include <string>

#include "../Foundation/PrintableText.h"

namespace device::hap {

struct Endpoint {
    std::string host;
    uint16_t port = 0;
    // "host:port", for messages, with anything in the host a terminal would act on escaped.
    std::string text() const { return device::printable(host) + ":" + std::to_string(port); }
    bool operator==(const Endpoint&) const = default;
};

}  // namespace device::hap
