// Finding lamps over DNS-SD, below the sockets: multicast DNS answers read through the resolver
// library, the cache that turns their records into service instances over time, and what a
// HomeKit accessory's TXT record says.
#include <gtest/gtest.h>

#include <dnssd/DnsMessage.h>
#include <dnssd/HapAdvertisement.h>
#include <dnssd/ServiceCache.h>

#include "support/DnsResponse.h"

namespace {

using namespace device::dnssd;
using namespace std::chrono_literals;

const std::string kService = "_hap._tcp.local";
const std::string kLamp = "Desk\\032Lamp._hap._tcp.local";  // "Desk Lamp", as the resolver library presents it

DnsResponse lampAnnouncement(uint32_t ttl = 120, const std::string& flags = "sf=1", uint16_t port = 51826) {
    DnsResponse response;
    response.answer(kService, 12, ttl, DnsResponse::name("Desk Lamp._hap._tcp.local"))
        .additional(kLamp, 33, ttl, DnsResponse::service(port, "desk.local"), true)
        .additional(kLamp, 16, ttl, DnsResponse::texts({"c#=2", "id=0e:47:4c:00:ca:72", "md=Bulb", "ci=5", flags}),
                    true)
        .additional("printer.local", 1, ttl, DnsResponse::address("10.0.0.9"));  // a host no instance names
    return response;
}

std::vector<DnsRecord> read(const DnsResponse& response) {
    std::vector<uint8_t> bytes = response.bytes();
    auto records = readResponse(bytes.data(), bytes.size());
    EXPECT_TRUE(records.ok()) << records.status().message();
    return records.ok() ? *records : std::vector<DnsRecord>{};
}

TEST(DnsMessage, ReadsTheRecordsDnsSdUsesAndRefusesWhatIsNotAResponse) {
    DnsResponse response = lampAnnouncement();
    response.additional("desk.local", 28, 120, DnsResponse::address("fe80::1"), true)
        .additional(kLamp, 47, 120, std::string("\xc0\x0c\x00\x01\x40", 5));  // NSEC: skipped
    std::vector<DnsRecord> records = read(response);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].type, RecordType::ptr);
    EXPECT_EQ(records[0].target, kLamp);
    EXPECT_EQ(records[1].port, 51826);
    EXPECT_EQ(records[1].target, "desk.local");
    EXPECT_TRUE(records[1].cacheFlush);
    EXPECT_EQ(records[2].texts.size(), 5u);
    EXPECT_EQ(records[3].address, "10.0.0.9");
    EXPECT_EQ(records[4].address, "fe80::1");

    std::vector<uint8_t> bytes = lampAnnouncement().bytes();
    for (size_t cut : {size_t(5), size_t(40), bytes.size() - 3}) {
        EXPECT_FALSE(readResponse(bytes.data(), cut).ok()) << "cut at " << cut;
    }
    auto query = makePointerQuery(kService);
    ASSERT_TRUE(query.ok());
    EXPECT_EQ((*query)[0] | (*query)[1] | ((*query)[2] & 0x01), 0) << "id 0, no recursion";
    EXPECT_FALSE(readResponse(query->data(), query->size()).ok()) << "a query is not a response";
    // A text longer than the record's data, and an address of the wrong length.
    EXPECT_FALSE(readResponse(DnsResponse().answer(kLamp, 16, 120, "\x09short").bytes().data(), 33).ok());
    std::vector<uint8_t> shortAddress = DnsResponse().answer("desk.local", 1, 120, "\x7f\x00").bytes();
    EXPECT_FALSE(readResponse(shortAddress.data(), shortAddress.size()).ok());
}

TEST(ServiceCache, AnInstanceAppearsChangesAndGoesByGoodbyeOrByLivingOutItsTime) {
    ServiceCache cache(kService);
    const auto start = device::SteadyClock::time_point{} + 1000s;
    auto events = cache.take(read(lampAnnouncement()), "127.0.0.1", start);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, ServiceCache::Change::appeared);
    const ServiceInstance& lamp = events[0].instance;
    EXPECT_EQ(lamp.label, "Desk Lamp");
    EXPECT_EQ(lamp.port, 51826);
    // No address record for its host: the answer's source stands in; the printer's is not its own.
    EXPECT_EQ(lamp.addresses, std::vector<std::string>{"127.0.0.1"});
    std::optional<HapAdvertisement> accessory = readHapAdvertisement(lamp);
    ASSERT_TRUE(accessory);
    EXPECT_EQ(accessory->id, "0E:47:4C:00:CA:72");
    EXPECT_EQ(categoryName(accessory->category), "lightbulb");
    EXPECT_FALSE(accessory->paired);
    EXPECT_EQ(accessory->configuration, 2u);

    // The same again is no news; an address record or a TXT change is.
    EXPECT_TRUE(cache.take(read(lampAnnouncement()), "127.0.0.1", start + 1s).empty());
    events = cache.take(read(DnsResponse().answer("desk.local", 1, 120, DnsResponse::address("192.168.1.7"))),
                        "192.168.1.7", start + 2s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].instance.addresses, std::vector<std::string>{"192.168.1.7"});
    events = cache.take(read(lampAnnouncement(120, "sf=0")), "192.168.1.7", start + 3s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, ServiceCache::Change::changed);
    EXPECT_TRUE(readHapAdvertisement(events[0].instance)->paired);

    // A goodbye (TTL 0) removes it at once.
    events = cache.take(read(lampAnnouncement(0)), "192.168.1.7", start + 4s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, ServiceCache::Change::gone);
    EXPECT_TRUE(cache.instances().empty());

    // Back, and not refreshed: refreshing queries are due from 80 % of its lifetime, and it is gone
    // when that runs out.
    cache.take(read(lampAnnouncement(100)), "127.0.0.1", start + 10s);
    EXPECT_FALSE(cache.takeRefreshDue(start + 89s));
    EXPECT_TRUE(cache.takeRefreshDue(start + 90s));
    EXPECT_FALSE(cache.takeRefreshDue(start + 90s)) << "counted once";
    EXPECT_TRUE(cache.expire(start + 109s).empty());
    events = cache.expire(start + 110s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, ServiceCache::Change::gone);
    cache.expire(start + 122s);  // the host's address record outlives it a little
    EXPECT_FALSE(cache.nextDue().has_value());
}

TEST(ServiceCache, AnInstanceWithoutPointerServiceOrTextIsNotOneAndOtherServicesAreIgnored) {
    ServiceCache cache(kService);
    const auto now = device::SteadyClock::time_point{} + 5s;
    DnsResponse partial;
    partial.answer(kLamp, 33, 120, DnsResponse::service(80, "desk.local"));
    EXPECT_TRUE(cache.take(read(partial), "10.0.0.2", now).empty());
    DnsResponse other;
    other.answer("_airplay._tcp.local", 12, 4500, DnsResponse::name("TV._airplay._tcp.local"))
        .additional("TV._airplay._tcp.local", 33, 4500, DnsResponse::service(7000, "tv.local"))
        .additional("TV._airplay._tcp.local", 16, 4500, DnsResponse::texts({"id=1"}));
    EXPECT_TRUE(cache.take(read(other), "10.0.0.3", now).empty());
    cache.expire(now + 120s);
    EXPECT_FALSE(cache.nextDue().has_value()) << "another service's records were kept";
}

}  // namespace
