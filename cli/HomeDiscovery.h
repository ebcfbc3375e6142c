// Finding real lamps on the network for `glimmora home`: the `discover` command, and the address of
// the lamp `home pair` names by its device identifier or its advertised name.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <base/Status.h>

void addDiscoverCommand(CLI::App* home);

namespace device::dnssd {
struct HapAdvertisement;
}

// The names of this device's real lamps, by their device identifier (deviceIdKey); empty when
// there is no home.
std::map<std::string, std::string> pairedLampNames();
// The same, of `description`.
struct HomesDescription;
std::map<std::string, std::string> pairedLampNames(const HomesDescription& description);
// An advertised accessory as `home discover --json` lists it, with the lamp of `lamps` it is.
nlohmann::ordered_json advertisementJson(const device::dnssd::HapAdvertisement& accessory,
                                         const std::map<std::string, std::string>& lamps);

// Where the accessory to pair is: the one advertising device identifier `id` when that is given,
// else the one advertising exactly `name`. Waits a few seconds for it; an error saying what was
// found instead when there is no such accessory, or several by that name.
struct FoundAccessory {
    std::string host;
    uint16_t port = 0;
    uint32_t configuration = 0;
};
device::Status findAccessoryToPair(const std::string& id, const std::string& name, FoundAccessory* found);
