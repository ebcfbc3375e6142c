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

// Why a value was refused, for HomeKit to report with its own error code.
enum class ValueProblem { none, missing, wrongType, notFinite, notBoolean, belowMinimum, aboveMaximum };

// The outcome of the value rule: the value as the accessory takes it, or why it is refused.
struct ValueCheck {
    ValueProblem problem = ValueProblem::none;
    std::string reason;      // empty when accepted
    Strong<NSObject> value;  // when accepted: the value fitted to the limits
    bool accepted() const { return problem == ValueProblem::none; }
};

// Whether `format` is one the device knows: bool, int, float, string, uint8, uint16, uint32.
bool isKnownValueFormat(std::string_view format);

// The one rule every write to an accessory goes through, simulated or real, as HomeKit applies it
// for a characteristic with `limits` (nullptr when it has no metadata). Refused: nil, a value that
// is neither a number nor a string or not of the format's kind, a number that is not finite, a
// Boolean other than 0 or 1, and a number below the minimum or above the maximum (of the metadata,
// else of the format's natural range): HomeKit checks these itself and has an error for each.
// Accepted, and fitted: a number within the range but off the step grid (counted from the minimum,
// else from 0) is rounded to the nearest step, and one with a fraction for an integer format to the
// nearest whole number, as an accessory does with a value finer than its resolution; HomeKit has no
// error for these. Without metadata any finite number or any string is taken as it is.
ValueCheck checkCharacteristicValue(const ValueLimits* limits, NSObject* value);

// A short text of a value for messages and the tools: YES/NO, a number, or the quoted string.
std::string describeValue(NSObject* value);
