#include "HMCharacteristicMetadata.h"

#include <cmath>

#include "../homes/CharacteristicValue.h"
#include "../objc/MethodRegistration.h"
#include "HomeKitDevice.h"

NSString* const HMCharacteristicMetadataFormatBool = NSString::literal("bool");
NSString* const HMCharacteristicMetadataFormatInt = NSString::literal("int");
NSString* const HMCharacteristicMetadataFormatFloat = NSString::literal("float");
NSString* const HMCharacteristicMetadataFormatString = NSString::literal("string");
NSString* const HMCharacteristicMetadataFormatUInt8 = NSString::literal("uint8");
NSString* const HMCharacteristicMetadataFormatUInt16 = NSString::literal("uint16");
NSString* const HMCharacteristicMetadataFormatUInt32 = NSString::literal("uint32");

NSString* const HMCharacteristicMetadataUnitsArcDegree = NSString::literal("arcdegrees");
NSString* const HMCharacteristicMetadataUnitsPercentage = NSString::literal("percentage");
NSString* const HMCharacteristicMetadataUnitsCelsius = NSString::literal("celsius");

namespace {

Strong<NSNumber> numberFor(const std::optional<double>& value) {
    if (!value) return nil;
    // Whole numbers within the exact range of a double read back as integers, as HomeKit's do.
    if (*value == std::floor(*value) && std::fabs(*value) < 9007199254740992.0)
        return NSNumber::numberWithLongLong(static_cast<long long>(*value));
    return NSNumber::numberWithDouble(*value);
}

}  // namespace

Class HMCharacteristicMetadata::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<HMCharacteristicMetadata>("HMCharacteristicMetadata", NSObject::objcClass());
        objc_addInstanceMethod<&HMCharacteristicMetadata::minimumValue>(c, "minimumValue");
        objc_addInstanceMethod<&HMCharacteristicMetadata::maximumValue>(c, "maximumValue");
        objc_addInstanceMethod<&HMCharacteristicMetadata::stepValue>(c, "stepValue");
        objc_addInstanceMethod<&HMCharacteristicMetadata::format>(c, "format");
        objc_addInstanceMethod<&HMCharacteristicMetadata::units>(c, "units");
        return c;
    }();
    return cls;
}

namespace device {

Strong<HMCharacteristicMetadata> HomeKitDevice::metadataFromLimits(const ValueLimits& limits) {
    auto metadata = makeObject<HMCharacteristicMetadata>();
    metadata->minimumValue_ = numberFor(limits.minimumValue);
    metadata->maximumValue_ = numberFor(limits.maximumValue);
    metadata->stepValue_ = numberFor(limits.stepValue);
    if (!limits.format.empty()) metadata->format_ = NSString::stringWithString(limits.format);
    if (!limits.units.empty()) metadata->units_ = NSString::stringWithString(limits.units);
    return metadata;
}

}  // namespace device
