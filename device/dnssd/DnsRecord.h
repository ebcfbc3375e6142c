// One resource record of a multicast DNS message, as DNS-SD browsing needs it: the record kinds
// a service instance is made of (PTR, SRV, TXT, A, AAAA), their data already read. Plain value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device::dnssd {

enum class RecordType : uint16_t { a = 1, ptr = 12, txt = 16, aaaa = 28, srv = 33 };

struct DnsRecord {
    std::string name;  // the owner name, dotted, without the final dot ("_hap._tcp.local")
    RecordType type = RecordType::a;
    uint32_t ttl = 0;         // seconds; 0 is a goodbye: the record is gone
    bool cacheFlush = false;  // the class's top bit: this record replaces the others of its set
    // PTR: the instance named; SRV: the target host.
    std::string target;
    // SRV.
    uint16_t port = 0;
    // TXT: each character string as sent ("id=0E:47:...", "sf=1").
    std::vector<std::string> texts;
    // A or AAAA: the address as text ("127.0.0.1", "fe80::1").
    std::string address;
};

}  // namespace device::dnssd
