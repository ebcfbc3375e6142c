#include "HMTypes.h"
#include "HomeKitDevice.h"

#include <cctype>
#include <utility>

#define HOMEKIT_TYPE(prefix) NSString::literal(prefix "-0000-1000-8000-0026BB765291")

NSString* const HMServiceTypeLightbulb = HOMEKIT_TYPE("00000043");
NSString* const HMServiceTypeFan = HOMEKIT_TYPE("00000040");
NSString* const HMServiceTypeOutlet = HOMEKIT_TYPE("00000047");
NSString* const HMServiceTypeSwitch = HOMEKIT_TYPE("00000049");

NSString* const HMCharacteristicTypePowerState = HOMEKIT_TYPE("00000025");
NSString* const HMCharacteristicTypeBrightness = HOMEKIT_TYPE("00000008");
NSString* const HMCharacteristicTypeSaturation = HOMEKIT_TYPE("0000002F");
NSString* const HMCharacteristicTypeHue = HOMEKIT_TYPE("00000013");
NSString* const HMCharacteristicTypeName = HOMEKIT_TYPE("00000023");
NSString* const HMCharacteristicTypeColorTemperature = HOMEKIT_TYPE("000000CE");
NSString* const HMCharacteristicTypeRotationSpeed = HOMEKIT_TYPE("00000029");

namespace device {
namespace {

using Names = std::pair<const char*, NSString* const*>;

const Names serviceNames[] = {
    {"lightbulb", &HMServiceTypeLightbulb},
    {"fan", &HMServiceTypeFan},
    {"outlet", &HMServiceTypeOutlet},
    {"switch", &HMServiceTypeSwitch},
};

const Names characteristicNames[] = {
    {"power", &HMCharacteristicTypePowerState},
    {"brightness", &HMCharacteristicTypeBrightness},
    {"saturation", &HMCharacteristicTypeSaturation},
    {"hue", &HMCharacteristicTypeHue},
    {"name", &HMCharacteristicTypeName},
    {"colorTemperature", &HMCharacteristicTypeColorTemperature},
    {"rotationSpeed", &HMCharacteristicTypeRotationSpeed},
};

template <size_t N>
NSString* typeFor(const Names (&names)[N], std::string_view name) {
    for (auto& [shortName, type] : names) {
        if (name == shortName) return *type;
    }
    return nullptr;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

template <size_t N>
std::string nameFor(const Names (&names)[N], std::string_view type) {
    for (auto& [shortName, known] : names) {
        if (equalsIgnoringCase((*known)->string(), type)) return shortName;
    }
    return std::string(type);
}

}  // namespace

NSString* serviceTypeForShortName(std::string_view name) { return typeFor(serviceNames, name); }
NSString* characteristicTypeForShortName(std::string_view name) { return typeFor(characteristicNames, name); }
std::string shortNameOfServiceType(std::string_view type) { return nameFor(serviceNames, type); }
std::string shortNameOfCharacteristicType(std::string_view type) { return nameFor(characteristicNames, type); }

}  // namespace device
