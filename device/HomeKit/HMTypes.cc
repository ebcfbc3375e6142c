#include "HMTypes.h"

#include "../homes/TypeNames.h"

NSString* const HMServiceTypeLightbulb = NSString::literal(device::kLightbulbServiceType);
NSString* const HMServiceTypeFan = NSString::literal(device::kFanServiceType);
NSString* const HMServiceTypeOutlet = NSString::literal(device::kOutletServiceType);
NSString* const HMServiceTypeSwitch = NSString::literal(device::kSwitchServiceType);

NSString* const HMCharacteristicTypePowerState = NSString::literal(device::kPowerStateType);
NSString* const HMCharacteristicTypeBrightness = NSString::literal(device::kBrightnessType);
NSString* const HMCharacteristicTypeSaturation = NSString::literal(device::kSaturationType);
NSString* const HMCharacteristicTypeHue = NSString::literal(device::kHueType);
NSString* const HMCharacteristicTypeName = NSString::literal(device::kNameType);
NSString* const HMCharacteristicTypeColorTemperature = NSString::literal(device::kColorTemperatureType);
NSString* const HMCharacteristicTypeRotationSpeed = NSString::literal(device::kRotationSpeedType);
