#include "HomeGraph.h"

#include <memory>
#include <unordered_map>

#include "AccessoryLink.h"
#include "HMAccessory.h"
#include "HMCharacteristic.h"
#include "HMHome.h"
#include "HMRoom.h"
#include "HMService.h"
#include "HMTypes.h"
#include "HomeDescription.h"
#include "HomeKitDevice.h"
#include "RealAccessory.h"

namespace {

using StoredValues = std::unordered_map<std::string, Strong<NSObject>>;

Strong<NSString> text(const std::string& value) { return NSString::stringWithString(value); }

// A service or characteristic type: HomeKit's own constant when it is a known one, as the real
// framework hands out, so that comparing with the constant is usually a pointer comparison.
Strong<NSString> typeText(const std::string& value) {
    for (NSString* known : {HMServiceTypeLightbulb, HMServiceTypeFan, HMServiceTypeOutlet, HMServiceTypeSwitch,
                            HMCharacteristicTypePowerState, HMCharacteristicTypeBrightness,
                            HMCharacteristicTypeSaturation, HMCharacteristicTypeHue, HMCharacteristicTypeName,
                            HMCharacteristicTypeColorTemperature, HMCharacteristicTypeRotationSpeed})
        if (known->string() == value) return known;
    return text(value);
}
Strong<NSUUID> uuid(const std::string& identifier) { return NSUUID::fromString(identifier.c_str()); }

Strong<HMCharacteristic> buildCharacteristic(const CharacteristicDescription& description,
                                             const std::shared_ptr<const AccessoryLink>& link,
                                             const StoredValues& stored) {
    auto backend = std::make_shared<CharacteristicBackend>();
    backend->identifier = description.identifier;
    backend->typeName = device::shortNameOfCharacteristicType(description.type);
    backend->limits = description.metadata;
    backend->aid = description.aid;
    backend->iid = description.iid;
    backend->accessory = link;
    auto found = stored.find(description.identifier);
    NSObject* value = found != stored.end() ? found->second.get() : description.value.get();
    Strong<HMCharacteristicMetadata> metadata =
        description.metadata ? device::HomeKitDevice::metadataFromLimits(*description.metadata) : nullptr;
    return device::HomeKitDevice::makeCharacteristic(typeText(description.type), uuid(description.identifier), metadata,
                                                     value, std::move(backend));
}

Strong<HMAccessory> buildAccessory(const AccessoryDescription& description,
                                   const std::shared_ptr<AccessoryStore>& store, const StoredValues& stored,
                                   const std::string& directory) {
    auto link = std::make_shared<AccessoryLink>();
    if (description.hap) link->real = RealAccessory::make(description, store, directory);
    link->accessoryName = description.name;
    link->fault = description.fault;
    link->latency = std::chrono::milliseconds(description.latencyMs);
    link->timeout = std::chrono::milliseconds(description.timeoutMs);
    link->store = store;
    std::shared_ptr<const AccessoryLink> shared = link;
    std::vector<Strong<NSObject>> services;
    for (const ServiceDescription& service : description.services) {
        std::vector<Strong<NSObject>> characteristics;
        for (const CharacteristicDescription& characteristic : service.characteristics)
            characteristics.push_back(buildCharacteristic(characteristic, shared, stored));
        services.push_back(device::HomeKitDevice::makeService(typeText(service.type), text(service.name),
                                                              uuid(service.identifier),
                                                              NSArray::arrayWithVector(std::move(characteristics))));
    }
    return device::HomeKitDevice::makeAccessory(text(description.name), uuid(description.identifier),
                                                NSArray::arrayWithVector(std::move(services)),
                                                description.fault != AccessoryFault::unreachable);
}

}  // namespace

LoadedHomes loadHomes(const std::string& directory) {
    LoadedHomes loaded;
    loaded.homes = NSArray::array();
    HomesDescription description;
    loaded.problem = readHomeDescription(directory + "/home.json", directory + "/home.json", &description);
    if (!loaded.problem.ok()) return loaded;

    auto store = std::make_shared<AccessoryStore>(directory);
    StoredValues stored;
    device::Status problem = store->synchronise(describedValues(description), AccessoryStore::Sync::addMissing);
    if (problem.ok()) problem = store->readAll(&stored);
    if (!problem.ok())
        loaded.problem = device::Status::error("the accessory state cannot be read, so described values are used: " +
                                               problem.message());

    bool anyPrimary = false;
    for (const HomeDescription& home : description.homes) anyPrimary = anyPrimary || home.primary;
    std::vector<Strong<NSObject>> homes;
    for (size_t h = 0; h < description.homes.size(); ++h) {
        const HomeDescription& home = description.homes[h];
        std::vector<Strong<NSObject>> rooms;
        for (const RoomDescription& room : home.rooms) {
            std::vector<Strong<NSObject>> accessories;
            for (const AccessoryDescription& accessory : room.accessories)
                accessories.push_back(buildAccessory(accessory, store, stored, directory));
            rooms.push_back(device::HomeKitDevice::makeRoom(text(room.name), uuid(room.identifier),
                                                            NSArray::arrayWithVector(std::move(accessories))));
        }
        bool primary = anyPrimary ? home.primary : h == 0;
        homes.push_back(device::HomeKitDevice::makeHome(text(home.name), uuid(home.identifier),
                                                        NSArray::arrayWithVector(std::move(rooms)), primary));
    }
    loaded.homes = NSArray::arrayWithVector(std::move(homes));
    return loaded;
}
