// The HomeKit type identifiers of the services and characteristics the home description names
// (the HAP UUID strings, upper case), and their short names ("lightbulb", "hue", ...). Constants
// and pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace device {

#define GLIMMORA_HOMEKIT_TYPE(prefix) prefix "-0000-1000-8000-0026BB765291"
inline constexpr char kLightbulbServiceType[] = GLIMMORA_HOMEKIT_TYPE("00000043");
inline constexpr char kFanServiceType[] = GLIMMORA_HOMEKIT_TYPE("00000040");
inline constexpr char kOutletServiceType[] = GLIMMORA_HOMEKIT_TYPE("00000047");
inline constexpr char kSwitchServiceType[] = GLIMMORA_HOMEKIT_TYPE("00000049");

inline constexpr char kPowerStateType[] = GLIMMORA_HOMEKIT_TYPE("00000025");
inline constexpr char kBrightnessType[] = GLIMMORA_HOMEKIT_TYPE("00000008");
inline constexpr char kSaturationType[] = GLIMMORA_HOMEKIT_TYPE("0000002F");
inline constexpr char kHueType[] = GLIMMORA_HOMEKIT_TYPE("00000013");
inline constexpr char kNameType[] = GLIMMORA_HOMEKIT_TYPE("00000023");
inline constexpr char kColorTemperatureType[] = GLIMMORA_HOMEKIT_TYPE("000000CE");
inline constexpr char kRotationSpeedType[] = GLIMMORA_HOMEKIT_TYPE("00000029");
#undef GLIMMORA_HOMEKIT_TYPE

// The type identifier a short name stands for ("lightbulb", "fan", "outlet", "switch" for
// services; "power", "brightness", "saturation", "hue", "name", "colorTemperature",
// "rotationSpeed" for characteristics); nullptr for any other name.
const char* serviceTypeForShortName(std::string_view name);
const char* characteristicTypeForShortName(std::string_view name);
// The short name of a known type identifier (any case), or the identifier itself.
std::string shortNameOfServiceType(std::string_view type);
std::string shortNameOfCharacteristicType(std::string_view type);

}  // namespace device
