// A DNS-SD service instance as the records seen for it describe it. Plain value.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace device::dnssd {

struct ServiceInstance {
    std::string name;   // the instance's full name as presented ("Test\032Lamp._hap._tcp.local")
    std::string label;  // its own first label, unescaped: the name people read ("Test Lamp")
    std::string host;   // the target host of its SRV record
    uint16_t port = 0;
    std::map<std::string, std::string> texts;  // its TXT record's keys, lower-cased, and their values
    // Where to reach it: the host's addresses from A and AAAA records, IPv4 first; without any,
    // the address the SRV record came from (advertisers on loopback send no address record).
    std::vector<std::string> addresses;

    bool operator==(const ServiceInstance&) const = default;
};

}  // namespace device::dnssd
