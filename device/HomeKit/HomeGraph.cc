#include "HomeGraph.h"

#include <unordered_map>
#include <vector>

#include "../accessories/AccessoryLink.h"
#include "../accessories/AccessoryStore.h"
#include "../homes/HomeDescription.h"
#include "../homes/TypeNames.h"
#include "CharacteristicBackend.h"
#include "HMAccessory.h"
#include "HMCharacteristic.h"
#include "HMHome.h"
#include "HMRoom.h"
#include "HMService.h"
#include "HMTypes.h"
#include "HomeKitDevice.h"
#include "HomeKitQueue.h"

using device::AccessoryLink;

struct HomeGraph::Registry {
    std::function<void(HMAccessory*, bool)> reachabilityChanged;
    std::unordered_map<std::string, Strong<HMAccessory>> accessories;  // by identifier text
};

// What the last load built, by identifier text.
struct HomeGraph::Built {
    std::unordered_map<std::string, Strong<HMHome>> homes;
    std::unordered_map<std::string, Strong<HMRoom>> rooms;
    std::unordered_map<std::string, Strong<HMAccessory>> accessories;
    std::unordered_map<std::string, Strong<HMService>> services;
    std::unordered_map<std::string, Strong<HMCharacteristic>> characteristics;
    std::unordered_map<std::string, std::shared_ptr<AccessoryLink>> links;  // by accessory
};

namespace {

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

// Whether two descriptions of an accessory behave alike, so that its link (and session) can stay.
bool sameAccessory(const AccessoryDescription& a, const AccessoryDescription& b) {
    if (a.name != b.name || a.latencyMs != b.latencyMs || a.fault != b.fault || a.timeoutMs != b.timeoutMs ||
        a.hap.has_value() != b.hap.has_value())
        return false;
    if (a.hap && (a.hap->host != b.hap->host || a.hap->port != b.hap->port || a.hap->pairingId != b.hap->pairingId))
        return false;
    std::vector<std::tuple<std::string, uint64_t, uint64_t>> left, right;
    for (const ServiceDescription& service : a.services)
        for (const CharacteristicDescription& c : service.characteristics)
            left.emplace_back(c.identifier, c.aid, c.iid);
    for (const ServiceDescription& service : b.services)
        for (const CharacteristicDescription& c : service.characteristics)
            right.emplace_back(c.identifier, c.aid, c.iid);
    return left == right;
}

// Finds the object the last load built under `identifier`, when `fits` it.
template <class T, class Fits>
Strong<T> kept(const std::unordered_map<std::string, Strong<T>>& built, const std::string& identifier, Fits fits) {
    auto found = built.find(identifier);
    return found != built.end() && fits(found->second.get()) ? found->second : nullptr;
}

}  // namespace

HomeGraph::HomeGraph(std::string directory, std::function<void(HMAccessory*, bool)> reachabilityChanged)
    : directory_(std::move(directory)),
      registry_(std::make_shared<Registry>()),
      store_(std::make_shared<AccessoryStore>(directory_)),
      built_(std::make_unique<Built>()) {
    registry_->reachabilityChanged = std::move(reachabilityChanged);
}

HomeGraph::~HomeGraph() {
    for (auto& [identifier, link] : built_->links) link->close();
}

HomeGraph::Update HomeGraph::load(std::string* warning) {
    Update update;
    HomesDescription description;
    update.problem = readHomeDescription(directory_ + "/home.json", directory_ + "/home.json", &description);
    if (!update.problem.ok()) return update;

    AccessoryLink::Values stored;
    device::Status problem = store_->synchronise(describedValues(description), AccessoryStore::Sync::addMissing);
    if (problem.ok()) problem = store_->readAll(&stored);
    if (!problem.ok()) {
        stored.clear();
        if (warning)
            *warning = "the accessory state cannot be read, so described values are used: " + problem.message();
    }

    auto next = std::make_unique<Built>();
    std::vector<std::function<void()>> fills;  // for the kept objects, on the main queue
    std::vector<std::shared_ptr<AccessoryLink>> started;

    auto buildCharacteristic = [&](const CharacteristicDescription& description,
                                   const std::shared_ptr<AccessoryLink>& link) {
        auto backend = std::make_shared<CharacteristicBackend>();
        backend->address = {description.identifier, description.aid, description.iid};
        backend->typeName = device::shortNameOfCharacteristicType(description.type);
        backend->limits = description.metadata;
        backend->accessory = link;
        Strong<HMCharacteristicMetadata> metadata =
            description.metadata ? device::HomeKitDevice::metadataFromLimits(*description.metadata) : nullptr;
        Strong<NSString> type = typeText(description.type);
        Strong<HMCharacteristic> characteristic =
            kept(built_->characteristics, description.identifier,
                 [&](HMCharacteristic* c) { return c->characteristicType()->isEqualToString(type.get()); });
        if (characteristic) {
            fills.push_back([characteristic, metadata, backend] {
                device::HomeKitDevice::updateCharacteristic(characteristic.get(), metadata.get(), backend);
            });
        } else {
            characteristic = device::HomeKitDevice::makeCharacteristic(type.get(), uuid(description.identifier).get(),
                                                                       metadata.get(), backend);
        }
        next->characteristics[description.identifier] = characteristic;
        return characteristic;
    };

    auto buildService = [&](const ServiceDescription& description, const std::shared_ptr<AccessoryLink>& link) {
        std::vector<Strong<NSObject>> characteristics;
        for (const CharacteristicDescription& characteristic : description.characteristics)
            characteristics.push_back(buildCharacteristic(characteristic, link));
        Strong<NSArray> children = NSArray::arrayWithVector(std::move(characteristics));
        Strong<NSString> type = typeText(description.type);
        Strong<NSString> name = text(description.name);
        Strong<HMService> service = kept(built_->services, description.identifier,
                                         [&](HMService* s) { return s->serviceType()->isEqualToString(type.get()); });
        if (service) {
            fills.push_back([service, name, children] {
                device::HomeKitDevice::fillService(service.get(), name.get(), children.get());
            });
        } else {
            service = device::HomeKitDevice::makeService(type.get(), uuid(description.identifier).get());
            device::HomeKitDevice::fillService(service.get(), name.get(), children.get());
        }
        next->services[description.identifier] = service;
        return service;
    };

    auto buildAccessory = [&](const AccessoryDescription& description) {
        std::shared_ptr<AccessoryLink> link;
        if (auto found = built_->links.find(description.identifier);
            found != built_->links.end() && sameAccessory(found->second->description(), description))
            link = found->second;
        if (!link) {
            link = AccessoryLink::make(description, store_, directory_, homeKitQueue(), stored);
            started.push_back(link);
        }
        next->links[description.identifier] = link;
        std::vector<Strong<NSObject>> services;
        for (const ServiceDescription& service : description.services) services.push_back(buildService(service, link));
        Strong<NSArray> children = NSArray::arrayWithVector(std::move(services));
        Strong<NSString> name = text(description.name);
        Strong<HMAccessory> accessory =
            kept(built_->accessories, description.identifier, [](HMAccessory*) { return true; });
        if (accessory) {
            bool fresh = started.size() && started.back() == link;
            bool reachable = link->reachable();
            fills.push_back([accessory, name, children, fresh, reachable] {
                device::HomeKitDevice::fillAccessory(accessory.get(), name.get(), children.get());
                // A new link (a lamp moved, or its faults changed) tells its reachability afresh.
                if (fresh) device::HomeKitDevice::updateReachability(accessory.get(), reachable);
            });
        } else {
            accessory = device::HomeKitDevice::makeAccessory(uuid(description.identifier).get(), link->reachable());
            device::HomeKitDevice::fillAccessory(accessory.get(), name.get(), children.get());
        }
        next->accessories[description.identifier] = accessory;
        return accessory;
    };

    bool anyPrimary = false;
    for (const HomeDescription& home : description.homes) anyPrimary = anyPrimary || home.primary;
    std::vector<Strong<NSObject>> homes;
    for (size_t h = 0; h < description.homes.size(); ++h) {
        const HomeDescription& home = description.homes[h];
        std::vector<Strong<NSObject>> rooms;
        for (const RoomDescription& roomDescription : home.rooms) {
            std::vector<Strong<NSObject>> accessories;
            for (const AccessoryDescription& accessory : roomDescription.accessories)
                accessories.push_back(buildAccessory(accessory));
            Strong<NSArray> children = NSArray::arrayWithVector(std::move(accessories));
            Strong<NSString> name = text(roomDescription.name);
            Strong<HMRoom> room = kept(built_->rooms, roomDescription.identifier, [](HMRoom*) { return true; });
            if (room) {
                fills.push_back([room, name, children] {
                    device::HomeKitDevice::fillRoom(room.get(), name.get(), children.get());
                });
            } else {
                room = device::HomeKitDevice::makeRoom(uuid(roomDescription.identifier).get());
                device::HomeKitDevice::fillRoom(room.get(), name.get(), children.get());
            }
            next->rooms[roomDescription.identifier] = room;
            rooms.push_back(room);
        }
        Strong<NSArray> children = NSArray::arrayWithVector(std::move(rooms));
        Strong<NSString> name = text(home.name);
        bool primary = anyPrimary ? home.primary : h == 0;
        Strong<HMHome> object = kept(built_->homes, home.identifier, [](HMHome*) { return true; });
        if (object) {
            // After the rooms': a home lists its rooms' accessories as they are then.
            fills.push_back([object, name, children, primary] {
                device::HomeKitDevice::fillHome(object.get(), name.get(), children.get(), primary);
            });
        } else {
            object = device::HomeKitDevice::makeHome(uuid(home.identifier).get());
            device::HomeKitDevice::fillHome(object.get(), name.get(), children.get(), primary);
        }
        next->homes[home.identifier] = object;
        homes.push_back(object);
    }

    // The links that are not kept close now: a real lamp's session ends, and writes still on their
    // way to it fail as unreachable.
    for (auto& [identifier, link] : built_->links) {
        auto found = next->links.find(identifier);
        if (found == next->links.end() || found->second != link) link->close();
    }
    registry_->accessories = next->accessories;
    std::weak_ptr<Registry> registry = registry_;
    for (const std::shared_ptr<AccessoryLink>& link : started) {
        std::string identifier = link->description().identifier;
        link->start([registry, identifier](bool reachable) {
            std::shared_ptr<Registry> shared = registry.lock();
            if (!shared) return;
            auto found = shared->accessories.find(identifier);
            if (found != shared->accessories.end() && shared->reachabilityChanged)
                shared->reachabilityChanged(found->second.get(), reachable);
        });
    }
    built_ = std::move(next);
    update.homes = NSArray::arrayWithVector(std::move(homes));
    update.apply = [fills = std::move(fills)] {
        for (const std::function<void()>& fill : fills) fill();
    };
    return update;
}
