// How writes reach an accessory: its behaviour from the home description (latency, fault,
// timeout) and the shared state store its characteristics' values go to. Device only.
//
// Immutable once made, apart from the store, which is used only on the HomeKit queue. Every
// characteristic of an accessory shares one link, and pending writes keep it alive.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "AccessoryStore.h"
#include "HomeDescription.h"
#include "RealAccessory.h"

struct AccessoryLink {
    std::string accessoryName;
    AccessoryFault fault = AccessoryFault::none;
    std::chrono::milliseconds latency{20};
    std::chrono::milliseconds timeout{10000};
    std::shared_ptr<AccessoryStore> store;  // used on the HomeKit queue only
    // A real accessory's session; null for a simulated one, whose latency and fault apply instead.
    std::shared_ptr<RealAccessory> real;
};

// What one characteristic's writes need, besides its accessory.
struct CharacteristicBackend {
    std::string identifier;
    std::string typeName;  // the short name or the type identifier, for messages
    std::optional<ValueLimits> limits;
    uint64_t aid = 0, iid = 0;  // a real accessory's own ids for it
    std::shared_ptr<const AccessoryLink> accessory;
};
