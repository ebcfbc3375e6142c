// What a HomeKit accessory says of itself over DNS-SD (`_hap._tcp`): its TXT record's device
// identifier ("id"), model ("md"), category ("ci"), status flags ("sf") and configuration number
// ("c#"), with where to reach it. Plain values and functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ServiceInstance.h"

namespace device::dnssd {

inline constexpr const char* kHapService = "_hap._tcp.local";

struct HapAdvertisement {
    std::string name;  // the advertised name ("Test Lamp 51826")
    std::string id;    // the device identifier, upper-case ("0E:47:4C:00:CA:72"); its pairing identifier
    std::string model;
    int category = 0;
    // "sf" bit 0 clear: some controller has paired with it (it takes no new pairing).
    bool paired = false;
    uint32_t configuration = 0;  // "c#": grows whenever its accessories or services change
    std::string host;            // the address to connect to
    uint16_t port = 0;
};

// The accessory `instance` advertises; nothing without a device identifier or an address.
std::optional<HapAdvertisement> readHapAdvertisement(const ServiceInstance& instance);

// A category as a word ("lightbulb", "bridge"); "category N" for one HomeKit does not name.
std::string categoryName(int category);

// A device identifier in the one form advertisements are read in: upper-case ("0E:47:4C:00:CA:72").
std::string deviceIdKey(const std::string& id);

// Whether two device identifiers name the same accessory (they are compared ignoring case).
bool sameDeviceId(const std::string& a, const std::string& b);

}  // namespace device::dnssd
