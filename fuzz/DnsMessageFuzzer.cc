// The multicast DNS answers anyone on the network may send the lamp browser: read through the
// resolver library, then taken into the service cache and read as HomeKit advertisements, over
// time. Whatever is read must hold what its record kind promises; nothing may crash or grow.
#include "FuzzSupport.h"
#include "dnssd/DnsMessage.h"
#include "dnssd/DnsName.h"
#include "dnssd/HapAdvertisement.h"
#include "dnssd/ServiceCache.h"
#include "support/DnsResponse.h"

using namespace device::dnssd;

namespace {

const char* kLamp = "Desk\\032Lamp._hap._tcp.local";

std::vector<uint8_t> lamp(uint32_t ttl) {
    DnsResponse response;
    response.answer(kHapService, 12, ttl, DnsResponse::name("Desk Lamp._hap._tcp.local"))
        .additional(kLamp, 33, ttl, DnsResponse::service(51826, "Desk-Lamp.local"), true)
        .additional(kLamp, 16, ttl, DnsResponse::texts({"c#=2", "id=0E:47:4C:00:CA:72", "ci=5", "sf=1"}), true)
        .additional("Desk-Lamp.local", 1, ttl, DnsResponse::address("192.168.1.20"), true)
        .additional("Desk-Lamp.local", 28, ttl, DnsResponse::address("fe80::20"), true);
    return response.bytes();
}

std::vector<fuzz::Seed> makeSeeds() {
    auto text = [](const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); };
    DnsResponse dotted;
    dotted.answer(kHapService, 12, 4500, DnsResponse::name("A\\.B\\\\C._hap._tcp.local"))
        .additional("A\\.B\\\\C._hap._tcp.local", 16, 4500, DnsResponse::texts({"id", "=x", "id=1=2"}));
    return {{"announcement", text(lamp(120))}, {"goodbye", text(lamp(0))}, {"escaped-names", text(dotted.bytes())}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto records = readResponse(data, size);
    if (!records.ok()) {
        if (records.status().message().empty()) fuzz::fail("refused a message without a reason");
        return 0;
    }
    for (const DnsRecord& record : *records) {
        for (const std::string& text : record.texts)
            if (text.empty() || text.size() > 255) fuzz::fail("a TXT string of impossible length");
        if ((record.type == RecordType::a || record.type == RecordType::aaaa) && record.address.empty())
            fuzz::fail("an address record without an address");
        (void)nameLabels(record.name);
    }
    // The same answer twice, a second apart, then everything living out its time: the cache must
    // end up empty, whatever it was told.
    ServiceCache cache(kHapService);
    const auto start = device::SteadyClock::time_point{} + std::chrono::hours(1);
    for (int i = 0; i < 2; ++i)
        for (const ServiceCache::Event& event : cache.take(*records, "10.0.0.1", start + std::chrono::seconds(i)))
            (void)readHapAdvertisement(event.instance);
    cache.takeRefreshDue(start + std::chrono::hours(24));
    cache.expire(start + std::chrono::hours(24 * 365 * 140));
    if (!cache.instances().empty() || cache.nextDue()) fuzz::fail("records outlived their lifetime");
    return 0;
}
