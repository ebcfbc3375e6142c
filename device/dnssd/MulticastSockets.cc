#include "MulticastSockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace device::dnssd {
namespace {

constexpr uint16_t kPort = 5353;
constexpr const char* kGroupFour = "224.0.0.251";
constexpr const char* kGroupSix = "ff02::fb";

// The indexes and names of the interfaces that are up and can multicast, with the families they
// have an address of.
struct Interface {
    unsigned index;
    std::string name;
    bool four = false, six = false;
    in_addr fourAddress{};  // its first IPv4 address: the source of what goes out on it
};
std::vector<Interface> multicastInterfaces() {
    std::vector<Interface> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_MULTICAST) == 0)
            continue;
        int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        unsigned index = if_nametoindex(entry->ifa_name);
        if (index == 0) continue;
        auto it = std::find_if(found.begin(), found.end(), [&](const Interface& i) { return i.index == index; });
        if (it == found.end()) it = found.insert(found.end(), Interface{index, entry->ifa_name});
        if (family == AF_INET && !it->four)
            it->fourAddress = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        (family == AF_INET ? it->four : it->six) = true;
    }
    freeifaddrs(list);
    return found;
}

// A UDP socket of `family` bound to `port` (0: any), shared as the header says.
int boundSocket(int family, uint16_t port) {
    int fd = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    int bound;
    if (family == AF_INET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_any;
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (bound != 0) {
        close(fd);
        return -1;
    }
    // Multicast DNS sends with a hop limit of 255, and loops its queries back so that a responder
    // on this machine hears them.
    int hops = 255;
    if (family == AF_INET) {
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &on, sizeof on);
    } else {
        setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops);
        setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &on, sizeof on);
    }
    return fd;
}

bool join(int fd, int family, unsigned index) {
    if (family == AF_INET) {
        ip_mreqn request{};
        inet_pton(AF_INET, kGroupFour, &request.imr_multiaddr);
        request.imr_ifindex = static_cast<int>(index);
        return setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 || errno == EADDRINUSE;
    }
    ipv6_mreq request{};
    inet_pton(AF_INET6, kGroupSix, &request.ipv6mr_multiaddr);
    request.ipv6mr_interface = index;
    return setsockopt(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request) == 0 || errno == EADDRINUSE;
}

}  // namespace

StatusOr<std::unique_ptr<MulticastSockets>> MulticastSockets::open() {
    std::vector<Interface> interfaces = multicastInterfaces();
    if (interfaces.empty())
        return Status::error("no network interface that is up can multicast, so no DNS-SD query can go out");
    std::unique_ptr<MulticastSockets> sockets(new MulticastSockets());
    for (bool shared : {true, false}) {
        uint16_t port = shared ? kPort : 0;
        for (auto [family, into] : {std::pair{AF_INET, &sockets->four_}, std::pair{AF_INET6, &sockets->six_}}) {
            if (into->fd >= 0) close(into->fd);
            into->fd = boundSocket(family, port);
            into->interfaces.clear();
        }
        if (sockets->four_.fd >= 0 || sockets->six_.fd >= 0) {
            sockets->shared_ = shared;
            break;
        }
    }
    for (const Interface& interface : interfaces) {
        bool joined = false;
        if (interface.four && sockets->four_.fd >= 0 && join(sockets->four_.fd, AF_INET, interface.index)) {
            sockets->four_.interfaces.push_back(interface.index);
            sockets->fourAddresses_.push_back(interface.fourAddress.s_addr);
            joined = true;
        }
        if (interface.six && sockets->six_.fd >= 0 && join(sockets->six_.fd, AF_INET6, interface.index)) {
            sockets->six_.interfaces.push_back(interface.index);
            joined = true;
        }
        if (joined) sockets->names_.push_back(interface.name);
    }
    if (sockets->names_.empty())
        return Status::error(std::string("cannot join the multicast DNS group on any interface: ") +
                             std::strerror(errno));
    return sockets;
}

MulticastSockets::~MulticastSockets() {
    for (int fd : {four_.fd, six_.fd})
        if (fd >= 0) close(fd);
}

std::vector<int> MulticastSockets::descriptors() const {
    std::vector<int> fds;
    for (const Family* family : {&four_, &six_})
        if (family->fd >= 0 && !family->interfaces.empty()) fds.push_back(family->fd);
    return fds;
}

Status MulticastSockets::send(const std::vector<uint8_t>& message) {
    int sent = 0;
    int lastError = 0;
    for (size_t i = 0; i < four_.interfaces.size(); ++i) {
        // The interface's own address as the source: left to the kernel, a host-scoped one such as
        // loopback's would go out as 0.0.0.0, which responders need not answer.
        ip_mreqn via{};
        via.imr_ifindex = static_cast<int>(four_.interfaces[i]);
        via.imr_address.s_addr = fourAddresses_[i];
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kPort);
        inet_pton(AF_INET, kGroupFour, &to.sin_addr);
        if (setsockopt(four_.fd, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via) == 0 &&
            sendto(four_.fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
            ++sent;
        else
            lastError = errno;
    }
    for (unsigned index : six_.interfaces) {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(kPort);
        to.sin6_scope_id = index;
        inet_pton(AF_INET6, kGroupSix, &to.sin6_addr);
        if (setsockopt(six_.fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) == 0 &&
            sendto(six_.fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0)
            ++sent;
        else
            lastError = errno;
    }
    if (sent > 0) return Status::OK();
    return Status::error(std::string("the DNS-SD query could not be sent: ") + std::strerror(lastError));
}

bool MulticastSockets::receive(int fd, std::vector<uint8_t>* bytes, std::string* source) {
    // The largest datagram multicast DNS allows (9000 bytes) and then some.
    bytes->resize(9216);
    for (;;) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        ssize_t got = recvfrom(fd, bytes->data(), bytes->size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) return false;
        char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 1] = {};
        uint16_t port = 0;
        if (from.ss_family == AF_INET) {
            auto* four = reinterpret_cast<sockaddr_in*>(&from);
            inet_ntop(AF_INET, &four->sin_addr, text, sizeof text);
            port = ntohs(four->sin_port);
        } else if (from.ss_family == AF_INET6) {
            auto* six = reinterpret_cast<sockaddr_in6*>(&from);
            inet_ntop(AF_INET6, &six->sin6_addr, text, INET6_ADDRSTRLEN);
            char name[IF_NAMESIZE];
            if (IN6_IS_ADDR_LINKLOCAL(&six->sin6_addr) && if_indextoname(six->sin6_scope_id, name) != nullptr)
                std::strcat(std::strcat(text, "%"), name);
            port = ntohs(six->sin6_port);
        }
        if (port != kPort) continue;
        bytes->resize(static_cast<size_t>(got));
        *source = text;
        return true;
    }
}

}  // namespace device::dnssd
