#include "TypeNames.h"

#include <cctype>
#include <utility>

namespace device {
namespace {

using Names = std::pair<const char*, const char*>;

constexpr Names kServiceNames[] = {
    {"lightbulb", kLightbulbServiceType},
    {"fan", kFanServiceType},
    {"outlet", kOutletServiceType},
    {"switch", kSwitchServiceType},
};

constexpr Names kCharacteristicNames[] = {
    {"power", kPowerStateType},
    {"brightness", kBrightnessType},
    {"saturation", kSaturationType},
    {"hue", kHueType},
    {"name", kNameType},
    {"colorTemperature", kColorTemperatureType},
    {"rotationSpeed", kRotationSpeedType},
};

template <size_t N>
const char* typeFor(const Names (&names)[N], std::string_view name) {
    for (auto& [shortName, type] : names)
        if (name == shortName) return type;
    return nullptr;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

template <size_t N>
std::string nameFor(const Names (&names)[N], std::string_view type) {
    for (auto& [shortName, known] : names)
        if (equalsIgnoringCase(known, type)) return shortName;
    return std::string(type);
}

}  // namespace

const char* serviceTypeForShortName(std::string_view name) { return typeFor(kServiceNames, name); }
const char* characteristicTypeForShortName(std::string_view name) { return typeFor(kCharacteristicNames, name); }
std::string shortNameOfServiceType(std::string_view type) { return nameFor(kServiceNames, type); }
std::string shortNameOfCharacteristicType(std::string_view type) { return nameFor(kCharacteristicNames, type); }

}  // namespace device
