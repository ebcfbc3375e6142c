// Writing colours to lights: power, brightness, saturation and hue, each scaled to the
// characteristic's range and truncated, skipping what HomeKit holds already and what is in flight.
#include <cmath>

#include "HomeManager.h"

namespace {

// The single-precision products a signed 64-bit integer can hold after truncation.
constexpr float largestTruncatable = 9223372036854775808.0f;  // 2^63, itself out of range
constexpr float smallestTruncatable = -9223372036854775808.0f;

bool fitsInteger(float product) {
    return std::isfinite(product) && product < largestTruncatable && product >= smallestTruncatable;
}

}  // namespace

void HomeManager::applyColors(const std::vector<Strong<UIColor>>& colours) {
    std::vector<Strong<HMService>> lights = this->lights();
    if (lights.empty()) return;
    if (colours.empty()) return;

    for (size_t i = 0; i < lights.size(); ++i) {
        UIColor* colour = colours[i % colours.size()];
        CGFloat hue = 0, saturation = 0, brightness = 0, alpha = 0;
        colour->getHue_saturation_brightness_alpha(&hue, &saturation, &brightness, &alpha);

        for (const Strong<NSObject>& object : *lights[i]->characteristics()) {
            auto* characteristic = static_cast<HMCharacteristic*>(object.get());
            // A write still in flight ends the work on this light for this colour.
            if (isInFlight(characteristic)) break;

            NSString* type = characteristic->characteristicType();
            if (type->isEqualToString(HMCharacteristicTypePowerState)) {
                writeCharacteristic(characteristic, 1.0f);
            } else if (type->isEqualToString(HMCharacteristicTypeBrightness)) {
                writeCharacteristic(characteristic, static_cast<float>(brightness));
            } else if (type->isEqualToString(HMCharacteristicTypeSaturation)) {
                writeCharacteristic(characteristic, static_cast<float>(saturation));
            } else if (type->isEqualToString(HMCharacteristicTypeHue)) {
                writeCharacteristic(characteristic, static_cast<float>(hue));
            }
        }
    }
}

void HomeManager::writeCharacteristic(HMCharacteristic* characteristic, float value) {
    float bound = value > 1.0f ? 100.0f : 1.0f;
    if (HMCharacteristicMetadata* metadata = characteristic->metadata()) {
        if (NSNumber* maximum = metadata->maximumValue()) bound = maximum->floatValue();
    }
    // Single precision on purpose: 0.29f * 100 is exactly 29, where a double product truncates to 28.
    float product = bound * value;
    // A product no integer can hold (from a non-finite component or an absurd bound) is not written.
    if (!fitsInteger(product)) return;
    const NSInteger integer = static_cast<NSInteger>(product);

    // Compared as the new number's floatValue would be, before the number is made: in the steady
    // state nearly every value is unchanged, and then nothing need be allocated.
    Strong<NSObject> current = characteristic->value();
    const float newValue = static_cast<float>(static_cast<double>(integer));
    if (auto* held = objc_cast<NSNumber>(current.get()); held != nil && held->floatValue() == newValue) return;
    Strong<NSNumber> number = Strong<NSNumber>::adopt(NSNumber::alloc()->initWithInteger(integer));

    markInFlight(characteristic, true);
    Strong<HomeManager> self(this);
    Strong<HMCharacteristic> written(characteristic);
    characteristic->writeValue_completionHandler(
        number.get(), makeBlock([self, written](NSError*) { self->markInFlight(written, false); }).get());
}
