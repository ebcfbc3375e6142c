#include "ServiceCache.h"

#include <algorithm>

#include "DnsName.h"

namespace device::dnssd {
namespace {

// Enough for every lamp of a large home many times over; a network that sends more is not
// allowed to grow the process without bound.
constexpr size_t kMostRecords = 4096;

bool isSet(RecordType type) { return type == RecordType::ptr || type == RecordType::a || type == RecordType::aaaa; }

std::map<std::string, std::string> textsOf(const std::vector<std::string>& texts) {
    std::map<std::string, std::string> pairs;
    for (const std::string& text : texts) {
        size_t equals = text.find('=');
        std::string key = nameKey(text.substr(0, equals));
        if (key.empty()) continue;
        // The first of a key counts, as DNS-SD says.
        pairs.emplace(key, equals == std::string::npos ? std::string() : text.substr(equals + 1));
    }
    return pairs;
}

}  // namespace

SteadyClock::time_point ServiceCache::Held::refreshDue() const {
    // Divided first: a lifetime may be up to 2^32 seconds, whose nanoseconds times 95 overflow.
    return received + (ends - received) / 100 * (80 + 5 * refreshes);
}

ServiceCache::ServiceCache(std::string service) : service_(std::move(service)), serviceKey_(nameKey(service_)) {}

const ServiceCache::Held* ServiceCache::find(const std::string& name, RecordType type) const {
    auto found = held_.find({nameKey(name), type, std::string()});
    return found == held_.end() ? nullptr : &found->second;
}

void ServiceCache::keep(const DnsRecord& record, const std::string& source, SteadyClock::time_point now) {
    std::string data;
    if (record.type == RecordType::ptr) data = nameKey(record.target);
    if (record.type == RecordType::a || record.type == RecordType::aaaa) data = record.address;
    Key key{nameKey(record.name), record.type, data};
    if (record.ttl == 0) {
        // A goodbye: the record is gone now, not a second later, so that a lamp leaving shows at once.
        held_.erase(key);
        return;
    }
    if (record.cacheFlush && isSet(record.type)) {
        // The set is replaced by what its owner sent in the last second.
        for (auto it = held_.lower_bound({std::get<0>(key), record.type, std::string()});
             it != held_.end() && std::get<0>(it->first) == std::get<0>(key) && std::get<1>(it->first) == record.type;)
            it = now - it->second.received > std::chrono::seconds(1) ? held_.erase(it) : std::next(it);
    }
    if (held_.size() >= kMostRecords && !held_.count(key)) return;
    held_[key] = Held{record, source, now, now + std::chrono::seconds(record.ttl), 0};
}

std::vector<ServiceCache::Event> ServiceCache::take(const std::vector<DnsRecord>& records, const std::string& source,
                                                    SteadyClock::time_point now) {
    const std::string suffix = "." + serviceKey_;
    auto isInstance = [&](const std::string& name) {
        std::string key = nameKey(name);
        return key.size() > suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    // Pointers, services and texts first, so that the hosts they name are known for the addresses.
    std::vector<std::string> hosts;
    for (const DnsRecord& record : records) {
        bool wanted =
            record.type == RecordType::ptr
                ? nameKey(record.name) == serviceKey_ && isInstance(record.target)
                : (record.type == RecordType::srv || record.type == RecordType::txt) && isInstance(record.name);
        if (!wanted) continue;
        if (record.type == RecordType::srv) hosts.push_back(nameKey(record.target));
        keep(record, source, now);
    }
    for (const auto& [key, held] : held_)
        if (std::get<1>(key) == RecordType::srv) hosts.push_back(nameKey(held.record.target));
    for (const DnsRecord& record : records)
        if ((record.type == RecordType::a || record.type == RecordType::aaaa) &&
            std::find(hosts.begin(), hosts.end(), nameKey(record.name)) != hosts.end())
            keep(record, source, now);
    return update();
}

std::vector<ServiceCache::Event> ServiceCache::expire(SteadyClock::time_point now) {
    std::erase_if(held_, [&](const auto& entry) { return entry.second.ends <= now; });
    return update();
}

std::optional<SteadyClock::time_point> ServiceCache::nextDue() const {
    std::optional<SteadyClock::time_point> next;
    for (const auto& [key, held] : held_) {
        SteadyClock::time_point due = held.refreshes < 4 ? held.refreshDue() : held.ends;
        if (!next || due < *next) next = due;
    }
    return next;
}

bool ServiceCache::takeRefreshDue(SteadyClock::time_point now) {
    bool due = false;
    for (auto& [key, held] : held_)
        while (held.refreshes < 4 && held.refreshDue() <= now) {
            ++held.refreshes;
            due = true;
        }
    return due;
}

std::vector<ServiceCache::Event> ServiceCache::update() {
    std::map<std::string, ServiceInstance> now;
    for (const auto& [key, pointer] : held_) {
        if (std::get<1>(key) != RecordType::ptr) continue;
        const std::string& name = pointer.record.target;
        const Held* service = find(name, RecordType::srv);
        const Held* texts = find(name, RecordType::txt);
        if (service == nullptr || texts == nullptr) continue;
        ServiceInstance instance;
        instance.name = name;
        std::optional<std::vector<std::string>> labels = nameLabels(name);
        instance.label = labels && !labels->empty() ? labels->front() : name;
        instance.host = service->record.target;
        instance.port = service->record.port;
        instance.texts = textsOf(texts->record.texts);
        const std::string host = nameKey(instance.host);
        for (RecordType family : {RecordType::a, RecordType::aaaa})
            for (auto it = held_.lower_bound({host, family, std::string()});
                 it != held_.end() && std::get<0>(it->first) == host && std::get<1>(it->first) == family; ++it)
                instance.addresses.push_back(it->second.record.address);
        if (instance.addresses.empty()) instance.addresses.push_back(service->source);
        now.emplace(nameKey(name), std::move(instance));
    }
    std::vector<Event> events;
    for (const auto& [key, instance] : instances_)
        if (!now.count(key)) events.push_back({Change::gone, instance});
    for (const auto& [key, instance] : now) {
        auto before = instances_.find(key);
        if (before == instances_.end())
            events.push_back({Change::appeared, instance});
        else if (!(before->second == instance))
            events.push_back({Change::changed, instance});
    }
    instances_ = std::move(now);
    return events;
}

}  // namespace device::dnssd
