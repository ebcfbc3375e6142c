#include "LampRecord.h"

#include <chrono>
#include <tuple>
#include <vector>

#include "../Foundation/DeviceLock.h"
#include "../Foundation/PrintableText.h"
#include "../hap/AccessoryDatabase.h"
#include "../hap/Keyring.h"
#include "../hap/Session.h"
#include "HomeChanges.h"
#include "LightbulbEntries.h"

namespace device {
namespace {

constexpr std::chrono::milliseconds kExchangeTimeout{10000};

std::vector<AccessoryDescription*> entriesPairedAs(HomesDescription& description, const std::string& pairingId) {
    std::vector<AccessoryDescription*> entries;
    for (HomeDescription& home : description.homes)
        for (RoomDescription& room : home.rooms)
            for (AccessoryDescription& accessory : room.accessories)
                if (accessory.hap && accessory.hap->pairingId == pairingId) entries.push_back(&accessory);
    return entries;
}

// What of a lamp's lightbulbs its entry depends on: each light's name and its characteristics.
std::vector<std::tuple<std::string, std::string, uint64_t, uint64_t>> shape(
    const std::vector<ServiceDescription>& services) {
    std::vector<std::tuple<std::string, std::string, uint64_t, uint64_t>> parts;
    for (const ServiceDescription& service : services)
        for (const CharacteristicDescription& characteristic : service.characteristics)
            parts.emplace_back(service.name, characteristic.type, characteristic.aid, characteristic.iid);
    return parts;
}

}  // namespace

Status recordLampAddress(const std::string& pairingId, const hap::Endpoint& endpoint, uint32_t configuration,
                         bool* changed) {
    *changed = false;
    std::string directory;
    DeviceLock lock;
    HomesDescription description;
    if (Status problem = beginHomeChange(&directory, &lock, &description); !problem.ok()) return problem;
    for (AccessoryDescription* entry : entriesPairedAs(description, pairingId)) {
        HapAccessoryAddress& address = *entry->hap;
        if (address.host != endpoint.host || address.port != endpoint.port) {
            address.host = endpoint.host;
            address.port = endpoint.port;
            *changed = true;
        }
        if (configuration != 0 && address.configuration != configuration) {
            address.configuration = configuration;
            *changed = true;
        }
    }
    if (!*changed) return Status::OK();
    return installEditedHome(description);
}

Status rereadLampServices(const std::string& pairingId, uint32_t configuration, std::string* summary) {
    summary->clear();
    std::string directory;
    DeviceLock lock;
    HomesDescription description;
    if (Status problem = beginHomeChange(&directory, &lock, &description); !problem.ok()) return problem;
    std::vector<AccessoryDescription*> entries = entriesPairedAs(description, pairingId);
    if (entries.empty()) return Status::error("no lamp of the home is paired as " + printable(pairingId));
    StatusOr<hap::Keyring> keyring = hap::Keyring::open(directory);
    if (!keyring.ok()) return keyring.status();
    std::optional<hap::AccessoryPairing> pairing = keyring->pairing(pairingId);
    if (!pairing) return Status::error("this device holds no pairing with " + printable(pairingId));
    hap::Endpoint endpoint{entries.front()->hap->host, entries.front()->hap->port};
    StatusOr<std::unique_ptr<hap::Session>> session =
        hap::Session::open(endpoint, keyring->controller(), *pairing, kExchangeTimeout);
    if (!session.ok()) return Status::error("it could not be reached: " + session.status().message());
    StatusOr<hap::HttpResponse> response = (*session)->request("GET", "/accessories", "", kExchangeTimeout);
    session.value().reset();
    if (!response.ok()) return Status::error("its services could not be read: " + response.status().message());
    if (response->status != 200)
        return Status::error("it answered " + std::to_string(response->status) + " when asked for its services");
    StatusOr<std::vector<hap::ServiceInfo>> services = hap::parseAccessoryDatabase(response->body);
    if (!services.ok()) return Status::error("its services cannot be read: " + services.status().message());

    Status kept;
    for (AccessoryDescription* entry : entries) {
        std::vector<ServiceDescription> lightbulbs = lightbulbEntries(*services, entry->name);
        entry->hap->configuration = configuration;
        if (shape(lightbulbs) == shape(entry->services)) continue;
        if (lightbulbs.empty()) {
            kept = Status::error("it has no lightbulb any more; its entry is kept as it was (`glimmora home unpair " +
                                 printable(pairingId) + "` removes it)");
            continue;
        }
        size_t before = entry->services.size();
        entry->services = std::move(lightbulbs);
        *summary += (summary->empty() ? "" : "; ") + quotedPrintable(entry->name) + " has " +
                    std::to_string(entry->services.size()) + (entry->services.size() == 1 ? " light" : " lights") +
                    " now (" + std::to_string(before) + " before)";
    }
    if (Status problem = installEditedHome(description); !problem.ok()) return problem;
    return kept;
}

}  // namespace device
