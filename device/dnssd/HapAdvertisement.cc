#include "HapAdvertisement.h"

#include <charconv>

namespace device::dnssd {
namespace {

std::string text(const ServiceInstance& instance, const char* key) {
    auto found = instance.texts.find(key);
    return found == instance.texts.end() ? std::string() : found->second;
}

// A whole number of the TXT record; `fallback` when absent or not one.
uint32_t number(const ServiceInstance& instance, const char* key, uint32_t fallback) {
    std::string value = text(instance, key);
    uint32_t parsed = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    return error == std::errc() && end == value.data() + value.size() && !value.empty() ? parsed : fallback;
}

}  // namespace

std::optional<HapAdvertisement> readHapAdvertisement(const ServiceInstance& instance) {
    HapAdvertisement advertisement;
    advertisement.id = deviceIdKey(text(instance, "id"));
    if (advertisement.id.empty() || instance.addresses.empty() || instance.port == 0) return std::nullopt;
    advertisement.name = instance.label;
    advertisement.model = text(instance, "md");
    advertisement.category = static_cast<int>(number(instance, "ci", 0));
    // Without status flags it counts as not paired: a pairing attempt finds out.
    advertisement.paired = (number(instance, "sf", 1) & 1) == 0;
    advertisement.configuration = number(instance, "c#", 0);
    advertisement.host = instance.addresses.front();
    advertisement.port = instance.port;
    return advertisement;
}

std::string categoryName(int category) {
    static const char* const kNames[] = {nullptr,
                                         "other",
                                         "bridge",
                                         "fan",
                                         "garage door opener",
                                         "lightbulb",
                                         "door lock",
                                         "outlet",
                                         "switch",
                                         "thermostat",
                                         "sensor",
                                         "security system",
                                         "door",
                                         "window",
                                         "window covering",
                                         "programmable switch",
                                         "range extender",
                                         "IP camera",
                                         "video doorbell",
                                         "air purifier",
                                         "heater",
                                         "air conditioner",
                                         "humidifier",
                                         "dehumidifier",
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         "sprinkler",
                                         "faucet",
                                         "shower system",
                                         "television",
                                         "remote"};
    if (category > 0 && category < static_cast<int>(std::size(kNames)) && kNames[category] != nullptr)
        return kNames[category];
    return "category " + std::to_string(category);
}

std::string deviceIdKey(const std::string& id) {
    std::string key = id;
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

bool sameDeviceId(const std::string& a, const std::string& b) { return deviceIdKey(a) == deviceIdKey(b); }

}  // namespace device::dnssd
