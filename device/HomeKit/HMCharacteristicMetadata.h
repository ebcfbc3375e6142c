// HMCharacteristicMetadata: what values a characteristic takes (format, range, step, units).
// Immutable once made; safe to share between threads.
#pragma once

#include "../Foundation/Foundation.h"

namespace device {
struct HomeKitDevice;
}

extern NSString* const HMCharacteristicMetadataFormatBool;
extern NSString* const HMCharacteristicMetadataFormatInt;
extern NSString* const HMCharacteristicMetadataFormatFloat;
extern NSString* const HMCharacteristicMetadataFormatString;
extern NSString* const HMCharacteristicMetadataFormatUInt8;
extern NSString* const HMCharacteristicMetadataFormatUInt16;
extern NSString* const HMCharacteristicMetadataFormatUInt32;

extern NSString* const HMCharacteristicMetadataUnitsArcDegree;
extern NSString* const HMCharacteristicMetadataUnitsPercentage;
extern NSString* const HMCharacteristicMetadataUnitsCelsius;

class HMCharacteristicMetadata : public NSObject {
public:
    HMCharacteristicMetadata() = default;
    static Class objcClass();

    // Each is lent for as long as the metadata lives, and nil when the description gives none.
    NSNumber* minimumValue() const { return minimumValue_.get(); }
    NSNumber* maximumValue() const { return maximumValue_.get(); }
    NSNumber* stepValue() const { return stepValue_.get(); }
    NSString* format() const { return format_.get(); }
    NSString* units() const { return units_.get(); }

private:
    friend struct device::HomeKitDevice;

    Strong<NSNumber> minimumValue_, maximumValue_, stepValue_;
    Strong<NSString> format_, units_;
};
