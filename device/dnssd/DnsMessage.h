// Reading and making the DNS messages of multicast DNS (RFC 6762), through glibc's resolver
// library: `ns_initparse`/`ns_parserr` split a message into records and `dn_expand` follows
// compressed names; what is left here is the little each record kind's data needs. Functions only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../base/StatusOr.h"
#include "DnsRecord.h"

namespace device::dnssd {

// The records of a response's answer and additional sections that DNS-SD browsing uses (PTR,
// SRV, TXT, A, AAAA of class IN); other records are skipped. A query, a truncated or malformed
// message, or a record whose data does not fit its kind is an error naming what was wrong; no
// records are returned then.
StatusOr<std::vector<DnsRecord>> readResponse(const uint8_t* bytes, size_t size);

// A multicast DNS query for the PTR records of `service` ("_hap._tcp.local"): id 0, no recursion
// wanted, one question asking for a multicast answer. An error when the name is not one.
StatusOr<std::vector<uint8_t>> makePointerQuery(const std::string& service);

}  // namespace device::dnssd
