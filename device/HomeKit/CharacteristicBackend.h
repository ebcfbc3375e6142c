// What one characteristic's writes need: where it is on its accessory, its limits for the value
// rule, and the accessory's link. Device only; immutable once made, replaced as a whole when a
// reloaded home changes the characteristic.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "../accessories/AccessoryLink.h"
#include "../homes/CharacteristicValue.h"

struct CharacteristicBackend {
    device::CharacteristicAddress address;
    std::string typeName;  // the short name or the type identifier, for messages
    std::optional<ValueLimits> limits;
    std::shared_ptr<device::AccessoryLink> accessory;
};
