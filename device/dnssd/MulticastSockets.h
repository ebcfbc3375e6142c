// The sockets of a multicast DNS querier: one UDP socket for IPv4 (224.0.0.251) and one for IPv6
// (ff02::fb), each on port 5353 and in the group on every interface that is up and can multicast.
// The port is shared with the machine's own responder (avahi, systemd-resolved): both sockets set
// SO_REUSEADDR and SO_REUSEPORT before binding, as those daemons do, and every socket in the group
// receives each multicast answer. Where another program holds 5353 without sharing it, the sockets
// bind a port of their own instead: answers sent back to such one-shot queries still arrive,
// multicast announcements do not (`onSharedPort` says which). Not thread-safe: one owner.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../base/StatusOr.h"

namespace device::dnssd {

class MulticastSockets {
public:
    // Sockets in the group on every multicast interface; an error when there is no such interface
    // or no socket could join one.
    static StatusOr<std::unique_ptr<MulticastSockets>> open();
    ~MulticastSockets();
    MulticastSockets(const MulticastSockets&) = delete;
    MulticastSockets& operator=(const MulticastSockets&) = delete;

    // The descriptors to watch for answers.
    std::vector<int> descriptors() const;
    bool onSharedPort() const { return shared_; }
    // The interfaces queries go out on ("lo", "eth0").
    const std::vector<std::string>& interfaceNames() const { return names_; }

    // Sends `message` to the group on every interface; an error only when it left on none.
    Status send(const std::vector<uint8_t>& message);
    // Reads one datagram from `fd` if one is there: true with its bytes and the source's address
    // (an IPv6 link-local one with its interface, "fe80::1%eth0"); false when none is. Datagrams
    // not from port 5353 are dropped, as multicast DNS asks of a querier.
    bool receive(int fd, std::vector<uint8_t>* bytes, std::string* source);

private:
    struct Family {
        int fd = -1;
        std::vector<unsigned> interfaces;  // indexes joined
    };
    MulticastSockets() = default;

    Family four_, six_;
    std::vector<uint32_t> fourAddresses_;  // beside four_.interfaces: each one's IPv4 address
    bool shared_ = true;
    std::vector<std::string> names_;
};

}  // namespace device::dnssd
