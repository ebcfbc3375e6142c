// Multicast DNS responses for tests and fuzzing seeds, as an advertiser sends them: records of any
// type in the answer and additional sections, names compressed by the resolver library's dn_comp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DnsResponse {
public:
    // A record with its data already encoded (`data` holds the bytes after RDLENGTH).
    DnsResponse& answer(const std::string& name, uint16_t type, uint32_t ttl, const std::string& data,
                        bool cacheFlush = false);
    DnsResponse& additional(const std::string& name, uint16_t type, uint32_t ttl, const std::string& data,
                            bool cacheFlush = false);
    // The data of the common kinds.
    static std::string name(const std::string& name);  // a PTR's data
    static std::string service(uint16_t port, const std::string& target);
    static std::string texts(const std::vector<std::string>& texts);
    static std::string address(const std::string& text);  // A or AAAA, by the text's form

    std::vector<uint8_t> bytes() const;

private:
    struct Record {
        std::string name;
        uint16_t type, klass;
        uint32_t ttl;
        std::string data;
    };
    std::vector<Record> answers_, additionals_;
};
