// ServiceCache: the records multicast DNS answers brought for one service type, each kept for its
// lifetime, and the service instances they make up. It tells, after each answer and each expiry,
// which instances appeared, changed (a new port, address or TXT) or went (a goodbye, or records
// not refreshed in time). It also says when the records it holds want refreshing: a query at 80,
// 85, 90 and 95 % of a record's lifetime keeps a live instance from expiring. Not thread-safe:
// one owner (the browser's sequence).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "../base/Clock.h"
#include "DnsRecord.h"
#include "ServiceInstance.h"

namespace device::dnssd {

class ServiceCache {
public:
    enum class Change { appeared, changed, gone };
    struct Event {
        Change change;
        ServiceInstance instance;  // as it is now; as it was last, for `gone`
    };

    // Browses `service` ("_hap._tcp.local").
    explicit ServiceCache(std::string service);

    // Keeps the records of one response that came from `source` (an address as text) at `now`;
    // returns what changed. Records of other services are kept when they belong to one of this
    // service's instances or their hosts.
    std::vector<Event> take(const std::vector<DnsRecord>& records, const std::string& source,
                            SteadyClock::time_point now);
    // Drops what has lived out its lifetime by `now`; returns what changed.
    std::vector<Event> expire(SteadyClock::time_point now);

    // The next time a record ends or wants a refreshing query; nothing when none is held.
    std::optional<SteadyClock::time_point> nextDue() const;
    // Whether a record wants a refreshing query by `now`; counts that query as sent for each.
    bool takeRefreshDue(SteadyClock::time_point now);

    // The complete instances (a pointer, a SRV and a TXT record) held now.
    const std::map<std::string, ServiceInstance>& instances() const { return instances_; }

private:
    struct Held {
        DnsRecord record;
        std::string source;
        SteadyClock::time_point received, ends;
        int refreshes = 0;  // refreshing queries sent for it (at most 4)
        SteadyClock::time_point refreshDue() const;
    };
    // A record's key: its name's key, its type, and for sets of several (PTR, A, AAAA) its data.
    using Key = std::tuple<std::string, RecordType, std::string>;

    void keep(const DnsRecord& record, const std::string& source, SteadyClock::time_point now);
    std::vector<Event> update();
    const Held* find(const std::string& name, RecordType type) const;

    std::string service_, serviceKey_;
    std::map<Key, Held> held_;
    std::map<std::string, ServiceInstance> instances_;  // by the instance's name key
};

}  // namespace device::dnssd
