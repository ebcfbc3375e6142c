// The HomeKit type identifiers of services and characteristics (the HAP UUID strings, upper case).
// Constants; any thread.
#pragma once

#include "../Foundation/Foundation.h"

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
