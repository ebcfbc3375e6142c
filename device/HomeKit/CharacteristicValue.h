// What values a characteristic accepts, from its metadata, and the check a write goes through.
// Device only. Plain values and pure functions: any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "../Foundation/Foundation.h"

// A characteristic's metadata as the home description gives it.
struct ValueLimits {
    std::string format;  // one of the HMCharacteristicMetadataFormat texts, or empty when not given
    std::optional<double> minimumValue;
    std::optional<double> maximumValue;
    std::optional<double> stepValue;  // > 0 when given
    std::string units;                // empty when not given
};

// The outcome of a check: code 0 when the value is accepted, else an HMErrorCode and why.
struct ValueCheck {
    NSInteger code = 0;
    std::string reason;
    bool accepted() const { return code == 0; }
};

// Whether `format` is one the device knows: bool, int, float, string, uint8, uint16, uint32.
bool isKnownValueFormat(std::string_view format);

// Checks `value` for a characteristic with `limits` (nullptr when it has no metadata): a number or
// string of the format's type, within the format's natural range and the limits, on the step grid
// (counted from the minimum, else from 0), whole for integer formats, 0 or 1 for bool. Without
// metadata any finite number or any string is accepted.
ValueCheck checkCharacteristicValue(const ValueLimits* limits, NSObject* value);

// A short text of a value for messages and the tools: YES/NO, a number, or the quoted string.
std::string describeValue(NSObject* value);

// `value` fitted to `limits` (nullptr: none) before it goes to a real accessory: within the minimum
// and maximum, on the step grid, whole for integer formats, a Boolean for "bool". Anything that is
// not a number comes back as it is, for the check to refuse.
Strong<NSObject> fitCharacteristicValue(const ValueLimits* limits, NSObject* value);
