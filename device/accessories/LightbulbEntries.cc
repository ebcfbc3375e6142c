#include "LightbulbEntries.h"

#include "../homes/CharacteristicValue.h"
#include "../homes/TypeNames.h"
#include "AccessoryStore.h"

namespace device {
namespace {

// The characteristics of a lightbulb that follow the video, by their type on the accessory.
const char* followedType(const std::string& type) {
    if (type == hap::kOnCharacteristic) return kPowerStateType;
    if (type == hap::kBrightnessCharacteristic) return kBrightnessType;
    if (type == hap::kSaturationCharacteristic) return kSaturationType;
    if (type == hap::kHueCharacteristic) return kHueType;
    return nullptr;
}

CharacteristicDescription characteristicEntry(const hap::CharacteristicInfo& info, const char* type) {
    CharacteristicDescription entry;
    entry.type = type;
    ValueLimits limits;
    if (isKnownValueFormat(info.format)) limits.format = info.format;
    limits.minimumValue = info.minimum;
    limits.maximumValue = info.maximum;
    if (info.step && *info.step > 0) limits.stepValue = info.step;
    if (!limits.format.empty() || limits.minimumValue || limits.maximumValue || limits.stepValue)
        entry.metadata = limits;
    // The accessory's current value, when it suits its own metadata ("On" may come as 1).
    if (Strong<NSObject> value = decodeAccessoryValue(info.value)) {
        auto* number = objc_cast<NSNumber>(value.get());
        if (info.format == "bool" && number && number->kind() != NSNumber::Kind::boolean)
            value = NSNumber::numberWithBool(number->doubleValue() != 0);
        if (checkCharacteristicValue(&limits, value.get()).accepted()) entry.value = std::move(value);
    }
    entry.aid = info.aid;
    entry.iid = info.iid;
    return entry;
}

}  // namespace

std::vector<ServiceDescription> lightbulbEntries(const std::vector<hap::ServiceInfo>& services,
                                                 const std::string& accessoryName) {
    std::vector<ServiceDescription> entries;
    for (const hap::ServiceInfo& service : services) {
        if (service.type != hap::kLightbulbService) continue;
        ServiceDescription entry;
        for (const hap::CharacteristicInfo& characteristic : service.characteristics)
            if (const char* type = followedType(characteristic.type))
                entry.characteristics.push_back(characteristicEntry(characteristic, type));
        if (entry.characteristics.empty()) continue;
        entry.type = kLightbulbServiceType;
        entry.name = service.name.empty() ? accessoryName : service.name;
        entry.nameGiven = true;
        entries.push_back(std::move(entry));
    }
    if (entries.size() == 1) entries[0].name = accessoryName;
    return entries;
}

}  // namespace device
