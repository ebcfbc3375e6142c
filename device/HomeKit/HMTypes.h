// The HomeKit type identifiers of services and characteristics (the HAP UUID strings, upper case)
// and the short names the device's home description may use for them. Constants; any thread.
#pragma once

#include <string>
#include <string_view>

#include <Foundation/Foundation.h>

extern NSString* const HMServiceTypeLightbulb;
extern NSString* const HMServiceTypeFan;
extern NSString* const HMServiceTypeOutlet;
extern NSString* const HMServiceTypeSwitch;

extern NSString* const HMCharacteristicTypePowerState;
extern NSString* const HMCharacteristicTypeBrightness;
extern NSString* const HMCharacteristicTypeSaturation;
extern NSString* const HMCharacteristicTypeHue;
extern NSString* const HMCharacteristicTypeName;
extern NSString* const HMCharacteristicTypeColorTemperature;
extern NSString* const HMCharacteristicTypeRotationSpeed;

namespace device {

// The type identifier a short name stands for ("lightbulb", "fan", "outlet", "switch" for
// services; "power", "brightness", "saturation", "hue", "name", "colorTemperature",
// "rotationSpeed" for characteristics); nullptr for any other name.
NSString* serviceTypeForShortName(std::string_view name);
NSString* characteristicTypeForShortName(std::string_view name);
// The short name of a known type identifier (any case), or the identifier itself.
std::string shortNameOfServiceType(std::string_view type);
std::string shortNameOfCharacteristicType(std::string_view type);

}  // namespace device
