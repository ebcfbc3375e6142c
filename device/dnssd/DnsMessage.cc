#include "DnsMessage.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>
#include <cstring>

namespace device::dnssd {
namespace {

constexpr uint16_t kCacheFlush = 0x8000;

Status recordError(const char* section, int index, const std::string& why) {
    return Status::error(std::string("the ") + section + " record " + std::to_string(index + 1) + " " + why);
}

// The name at `at` inside the message, dotted; false when it runs out of the message or is not one.
bool expandName(const ns_msg& message, const uint8_t* at, const uint8_t* end, std::string* name) {
    char expanded[NS_MAXDNAME];
    if (at >= end || dn_expand(ns_msg_base(message), end, at, expanded, sizeof expanded) < 0) return false;
    *name = expanded;
    return true;
}

// Reads the data of `rr`, a record of a kind DNS-SD uses, into `record`: an error saying why not.
Status readData(const ns_msg& message, const ns_rr& rr, DnsRecord* record) {
    const uint8_t* data = ns_rr_rdata(rr);
    const size_t length = ns_rr_rdlen(rr);
    const uint8_t* end = data + length;
    switch (record->type) {
        case RecordType::ptr:
            if (!expandName(message, data, ns_msg_end(message), &record->target))
                return Status::error("names no instance that can be read");
            return Status::OK();
        case RecordType::srv:
            if (length < 7 || !expandName(message, data + 6, ns_msg_end(message), &record->target))
                return Status::error("has no target host that can be read");
            record->port = static_cast<uint16_t>(data[4] << 8 | data[5]);
            return Status::OK();
        case RecordType::txt:
            for (const uint8_t* at = data; at < end; at += 1 + *at) {
                if (at + 1 + *at > end) return Status::error("has a text longer than its data");
                if (*at > 0) record->texts.emplace_back(reinterpret_cast<const char*>(at + 1), *at);
            }
            return Status::OK();
        case RecordType::a:
        case RecordType::aaaa: {
            const bool four = record->type == RecordType::a;
            if (length != (four ? 4u : 16u)) return Status::error("has an address of the wrong length");
            char text[INET6_ADDRSTRLEN];
            inet_ntop(four ? AF_INET : AF_INET6, data, text, sizeof text);
            record->address = text;
            return Status::OK();
        }
    }
    return Status::OK();
}

bool usedKind(uint16_t type) {
    switch (static_cast<RecordType>(type)) {
        case RecordType::a:
        case RecordType::ptr:
        case RecordType::txt:
        case RecordType::aaaa:
        case RecordType::srv:
            return true;
    }
    return false;
}

}  // namespace

StatusOr<std::vector<DnsRecord>> readResponse(const uint8_t* bytes, size_t size) {
    ns_msg message;
    if (size > NS_MAXMSG || ns_initparse(bytes, static_cast<int>(size), &message) != 0)
        return Status::error("not a DNS message (" + std::to_string(size) + " bytes that do not parse)");
    if (!ns_msg_getflag(message, ns_f_qr)) return Status::error("a query, not a response");
    std::vector<DnsRecord> records;
    const std::pair<ns_sect, const char*> sections[] = {{ns_s_an, "answer"}, {ns_s_ar, "additional"}};
    for (const auto& [section, sectionName] : sections) {
        for (int i = 0; i < ns_msg_count(message, section); ++i) {
            ns_rr rr;
            if (ns_parserr(&message, section, i, &rr) != 0)
                return recordError(sectionName, i, "runs past the end of the message");
            if ((ns_rr_class(rr) & ~kCacheFlush) != ns_c_in || !usedKind(ns_rr_type(rr))) continue;
            DnsRecord record;
            record.name = ns_rr_name(rr);
            record.type = static_cast<RecordType>(ns_rr_type(rr));
            record.ttl = ns_rr_ttl(rr);
            record.cacheFlush = (ns_rr_class(rr) & kCacheFlush) != 0;
            if (Status problem = readData(message, rr, &record); !problem.ok())
                return recordError(sectionName, i, problem.message());
            records.push_back(std::move(record));
        }
    }
    return records;
}

StatusOr<std::vector<uint8_t>> makePointerQuery(const std::string& service) {
    std::vector<uint8_t> query(NS_PACKETSZ);
    int length = res_mkquery(ns_o_query, service.c_str(), ns_c_in, ns_t_ptr, nullptr, 0, nullptr, query.data(),
                             static_cast<int>(query.size()));
    if (length < static_cast<int>(NS_HFIXEDSZ))
        return Status::error("\"" + service + "\" is not a name a query can ask for");
    query.resize(static_cast<size_t>(length));
    // Multicast DNS queries carry id 0 and do not ask for recursion.
    query[0] = query[1] = 0;
    query[2] = static_cast<uint8_t>(query[2] & ~0x01);
    return query;
}

}  // namespace device::dnssd
