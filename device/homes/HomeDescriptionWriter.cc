#include "HomeDescriptionWriter.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "TypeNames.h"

namespace {

using json = nlohmann::ordered_json;

// A limit as the reader reads it back (a double either way), whole numbers without a fraction.
json limit(double value) {
    constexpr double kExactIntegers = 9007199254740992.0;  // 2^53
    if (std::trunc(value) == value && std::fabs(value) < kExactIntegers) return static_cast<long long>(value);
    return value;
}

// A value with its kind kept: a Boolean, a whole number and a real number read back as what they were.
json valueOf(NSObject* value) {
    if (auto* number = objc_cast<NSNumber>(value)) {
        switch (number->kind()) {
            case NSNumber::Kind::boolean:
                return static_cast<bool>(number->boolValue());
            case NSNumber::Kind::integer:
                return number->longLongValue();
            case NSNumber::Kind::real:
                return number->doubleValue();
        }
    }
    if (auto* text = objc_cast<NSString>(value)) return text->string();
    return nullptr;
}

json metadataOf(const ValueLimits& limits) {
    json metadata = json::object();
    if (!limits.format.empty()) metadata["format"] = limits.format;
    if (limits.minimumValue) metadata["minimumValue"] = limit(*limits.minimumValue);
    if (limits.maximumValue) metadata["maximumValue"] = limit(*limits.maximumValue);
    if (limits.stepValue) metadata["stepValue"] = limit(*limits.stepValue);
    if (!limits.units.empty()) metadata["units"] = limits.units;
    return metadata;
}

json characteristicOf(const CharacteristicDescription& characteristic) {
    json object = {{"type", device::shortNameOfCharacteristicType(characteristic.type)}};
    if (characteristic.identifierGiven) object["uuid"] = characteristic.identifier;
    if (json value = valueOf(characteristic.value.get()); !value.is_null()) object["value"] = std::move(value);
    if (characteristic.metadata) object["metadata"] = metadataOf(*characteristic.metadata);
    if (characteristic.aid != 0 || characteristic.iid != 0)
        object["hap"] = {{"aid", characteristic.aid}, {"iid", characteristic.iid}};
    return object;
}

json serviceOf(const ServiceDescription& service) {
    json object = {{"type", device::shortNameOfServiceType(service.type)}};
    if (service.nameGiven) object["name"] = service.name;
    if (service.identifierGiven) object["uuid"] = service.identifier;
    json characteristics = json::array();
    for (const CharacteristicDescription& characteristic : service.characteristics)
        characteristics.push_back(characteristicOf(characteristic));
    object["characteristics"] = std::move(characteristics);
    return object;
}

const char* faultName(AccessoryFault fault) {
    switch (fault) {
        case AccessoryFault::error:
            return "error";
        case AccessoryFault::unreachable:
            return "unreachable";
        case AccessoryFault::none:
            break;
    }
    return "none";
}

json accessoryOf(const AccessoryDescription& accessory) {
    const AccessoryDescription defaults;
    json object = {{"name", accessory.name}};
    if (accessory.identifierGiven) object["uuid"] = accessory.identifier;
    if (accessory.hap) {
        object["hap"] = {
            {"address", accessory.hap->host}, {"port", accessory.hap->port}, {"id", accessory.hap->pairingId}};
        if (accessory.hap->configuration != 0) object["hap"]["configuration"] = accessory.hap->configuration;
    } else {
        // A real accessory's latency and faults are its own.
        if (accessory.latencyMs != defaults.latencyMs) object["latencyMs"] = accessory.latencyMs;
        if (accessory.fault != defaults.fault) object["fault"] = faultName(accessory.fault);
    }
    if (accessory.timeoutMs != defaults.timeoutMs) object["timeoutMs"] = accessory.timeoutMs;
    json services = json::array();
    for (const ServiceDescription& service : accessory.services) services.push_back(serviceOf(service));
    object["services"] = std::move(services);
    return object;
}

json roomOf(const RoomDescription& room) {
    json object = {{"name", room.name}};
    if (room.identifierGiven) object["uuid"] = room.identifier;
    json accessories = json::array();
    for (const AccessoryDescription& accessory : room.accessories) accessories.push_back(accessoryOf(accessory));
    object["accessories"] = std::move(accessories);
    return object;
}

json homeOf(const HomeDescription& home) {
    json object = {{"name", home.name}};
    if (home.identifierGiven) object["uuid"] = home.identifier;
    if (home.primary) object["primary"] = true;
    json rooms = json::array();
    for (const RoomDescription& room : home.rooms) rooms.push_back(roomOf(room));
    object["rooms"] = std::move(rooms);
    return object;
}

}  // namespace

std::string writeHomeDescription(const HomesDescription& description) {
    json homes = json::array();
    for (const HomeDescription& home : description.homes) homes.push_back(homeOf(home));
    json root = {{"homes", std::move(homes)}};
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
