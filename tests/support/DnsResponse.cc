#include "DnsResponse.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <resolv.h>

namespace {

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// `name` in wire form, uncompressed (names inside record data are written whole: simpler, and what
// some advertisers do).
std::string wireName(const std::string& name) {
    uint8_t buffer[NS_MAXCDNAME];
    int length = dn_comp(name.c_str(), buffer, sizeof buffer, nullptr, nullptr);
    return length < 0 ? std::string(1, '\0') : std::string(reinterpret_cast<char*>(buffer), length);
}

}  // namespace

DnsResponse& DnsResponse::answer(const std::string& name, uint16_t type, uint32_t ttl, const std::string& data,
                                 bool cacheFlush) {
    answers_.push_back({name, type, static_cast<uint16_t>(cacheFlush ? 0x8001 : 1), ttl, data});
    return *this;
}

DnsResponse& DnsResponse::additional(const std::string& name, uint16_t type, uint32_t ttl, const std::string& data,
                                     bool cacheFlush) {
    additionals_.push_back({name, type, static_cast<uint16_t>(cacheFlush ? 0x8001 : 1), ttl, data});
    return *this;
}

std::string DnsResponse::name(const std::string& name) { return wireName(name); }

std::string DnsResponse::service(uint16_t port, const std::string& target) {
    std::string data = {0, 0, 0, 0, static_cast<char>(port >> 8), static_cast<char>(port & 0xff)};
    return data + wireName(target);
}

std::string DnsResponse::texts(const std::vector<std::string>& texts) {
    std::string data;
    for (const std::string& text : texts) data += static_cast<char>(text.size()) + text;
    return data;
}

std::string DnsResponse::address(const std::string& text) {
    uint8_t bytes[16];
    bool six = text.find(':') != std::string::npos;
    if (inet_pton(six ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) return {};
    return std::string(reinterpret_cast<char*>(bytes), six ? 16 : 4);
}

std::vector<uint8_t> DnsResponse::bytes() const {
    std::vector<uint8_t> message = {0, 0, 0x84, 0};  // id 0; a response, authoritative
    put16(message, 0);
    put16(message, static_cast<uint16_t>(answers_.size()));
    put16(message, 0);
    put16(message, static_cast<uint16_t>(additionals_.size()));
    size_t at = message.size();
    message.resize(9000);
    // Owner names compressed against those before them, as advertisers do.
    uint8_t* pointers[64] = {message.data(), nullptr};
    for (const auto* section : {&answers_, &additionals_})
        for (const Record& record : *section) {
            int length = dn_comp(record.name.c_str(), message.data() + at, static_cast<int>(message.size() - at),
                                 pointers, pointers + 63);
            if (length < 0 || at + static_cast<size_t>(length) + 10 + record.data.size() > message.size()) return {};
            at += static_cast<size_t>(length);
            std::vector<uint8_t> rest;
            put16(rest, record.type);
            put16(rest, record.klass);
            put16(rest, static_cast<uint16_t>(record.ttl >> 16));
            put16(rest, static_cast<uint16_t>(record.ttl));
            put16(rest, static_cast<uint16_t>(record.data.size()));
            rest.insert(rest.end(), record.data.begin(), record.data.end());
            std::copy(rest.begin(), rest.end(), message.begin() + static_cast<long>(at));
            at += rest.size();
        }
    message.resize(at);
    return message;
}
