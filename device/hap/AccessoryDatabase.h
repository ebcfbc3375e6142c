// The accessory database: the JSON of GET /accessories, parsed into services and characteristics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../base/StatusOr.h"

namespace device::hap {

struct CharacteristicInfo {
    uint64_t aid = 0, iid = 0;
    std::string type;    // full upper-case UUID ("00000025-0000-1000-8000-0026BB765291"), short forms expanded
    std::string format;  // "bool", "int", "float", "uint8", ...
    std::optional<double> minimum, maximum, step;
    std::vector<std::string> permissions;  // "pr", "pw", "ev", ...
    std::string value;                     // the value as JSON text ("true", "50"), empty when none
};

struct ServiceInfo {
    uint64_t aid = 0, iid = 0;
    std::string type;  // full upper-case UUID
    std::string name;  // the Name characteristic's value, empty when none
    std::vector<CharacteristicInfo> characteristics;
};

// The services of every accessory in `json`; an error naming what is missing or malformed.
device::StatusOr<std::vector<ServiceInfo>> parseAccessoryDatabase(std::string_view json);

// A type as the accessory wrote it ("25", "2F", or a UUID in any case) as a full upper-case UUID;
// empty when it is neither.
std::string fullType(std::string_view type);

// Well-known types.
inline constexpr const char* kLightbulbService = "00000043-0000-1000-8000-0026BB765291";
inline constexpr const char* kOnCharacteristic = "00000025-0000-1000-8000-0026BB765291";
inline constexpr const char* kBrightnessCharacteristic = "00000008-0000-1000-8000-0026BB765291";
inline constexpr const char* kSaturationCharacteristic = "0000002F-0000-1000-8000-0026BB765291";
inline constexpr const char* kHueCharacteristic = "00000013-0000-1000-8000-0026BB765291";
inline constexpr const char* kNameCharacteristic = "00000023-0000-1000-8000-0026BB765291";

}  // namespace device::hap
