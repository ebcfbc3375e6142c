#include "CharacteristicValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "HMError.h"

namespace {

struct FormatRange {
    const char* format;
    bool numeric;
    bool whole;
    double low, high;
};

constexpr double kUnbounded = HUGE_VAL;

// The natural range of each format; bool is handled apart.
constexpr FormatRange kFormats[] = {
    {"bool", true, true, 0, 1},
    {"int", true, true, -2147483648.0, 2147483647.0},
    {"float", true, false, -kUnbounded, kUnbounded},
    {"string", false, false, 0, 0},
    {"uint8", true, true, 0, 255},
    {"uint16", true, true, 0, 65535},
    {"uint32", true, true, 0, 4294967295.0},
};

const FormatRange* findFormat(std::string_view format) {
    for (const FormatRange& range : kFormats) {
        if (format == range.format) return &range;
    }
    return nullptr;
}

std::string number(double value) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

ValueCheck refuse(NSInteger code, std::string reason) { return {code, std::move(reason)}; }

// Whether `value` lies on the grid base + k * step, allowing for the rounding of decimal steps.
bool onGrid(double value, double base, double step) {
    double k = (value - base) / step;
    return std::fabs(k - std::round(k)) <= 1e-9 * std::max(1.0, std::fabs(k));
}

}  // namespace

bool isKnownValueFormat(std::string_view format) { return findFormat(format) != nullptr; }

ValueCheck checkCharacteristicValue(const ValueLimits* limits, NSObject* value) {
    if (value == nil) return refuse(HMErrorCodeNilParameter, "no value was given");
    auto* numberValue = objc_cast<NSNumber>(value);
    auto* stringValue = objc_cast<NSString>(value);
    if (numberValue == nullptr && stringValue == nullptr)
        return refuse(HMErrorCodeInvalidValueType,
                      "a " + std::string(class_getName(value->isa)) + " is neither a number nor a string");
    const FormatRange* format = limits && !limits->format.empty() ? findFormat(limits->format) : nullptr;
    if (format && !format->numeric) {
        if (stringValue == nullptr)
            return refuse(HMErrorCodeInvalidValueType, describeValue(value) + " is not a string");
        return {};
    }
    if (stringValue) {
        // A string suits a characteristic whose metadata does not ask for a number.
        bool wantsNumber = format || (limits && (limits->minimumValue || limits->maximumValue || limits->stepValue));
        if (wantsNumber) return refuse(HMErrorCodeInvalidValueType, describeValue(value) + " is not a number");
        return {};
    }

    double v = numberValue->doubleValue();
    if (!std::isfinite(v)) return refuse(HMErrorCodeInvalidParameter, describeValue(value) + " is not a finite number");
    if (limits == nullptr) return {};
    if (format && format->whole && v != std::floor(v)) {
        if (std::string_view(format->format) == "bool")
            return refuse(HMErrorCodeInvalidParameter, describeValue(value) + " is not a Boolean (0 or 1)");
        return refuse(HMErrorCodeInvalidParameter,
                      describeValue(value) + " is not a whole number, as format " + format->format + " needs");
    }
    if (format && std::string_view(format->format) == "bool" && v != 0 && v != 1)
        return refuse(HMErrorCodeInvalidParameter, describeValue(value) + " is not a Boolean (0 or 1)");
    if (format && v < format->low)
        return refuse(HMErrorCodeValueLowerThanMinimum,
                      describeValue(value) + " is below the range of format " + format->format);
    if (format && v > format->high)
        return refuse(HMErrorCodeValueHigherThanMaximum,
                      describeValue(value) + " is above the range of format " + format->format);
    if (limits->minimumValue && v < *limits->minimumValue)
        return refuse(HMErrorCodeValueLowerThanMinimum,
                      describeValue(value) + " is below the minimum " + number(*limits->minimumValue));
    if (limits->maximumValue && v > *limits->maximumValue)
        return refuse(HMErrorCodeValueHigherThanMaximum,
                      describeValue(value) + " is above the maximum " + number(*limits->maximumValue));
    if (limits->stepValue && *limits->stepValue > 0 &&
        !onGrid(v, limits->minimumValue.value_or(0.0), *limits->stepValue))
        return refuse(HMErrorCodeInvalidParameter,
                      describeValue(value) + " is not a multiple of the step " + number(*limits->stepValue) +
                          (limits->minimumValue ? " from the minimum " + number(*limits->minimumValue) : ""));
    return {};
}

std::string describeValue(NSObject* value) {
    if (value == nil) return "nil";
    if (auto* n = objc_cast<NSNumber>(value)) {
        switch (n->kind()) {
            case NSNumber::Kind::boolean:
                return n->boolValue() ? "YES" : "NO";
            case NSNumber::Kind::integer:
                return std::to_string(n->longLongValue());
            case NSNumber::Kind::real:
                return number(n->doubleValue());
        }
    }
    if (auto* s = objc_cast<NSString>(value)) return "\"" + s->string() + "\"";
    return value->description();
}

Strong<NSObject> fitCharacteristicValue(const ValueLimits* limits, NSObject* value) {
    auto* numberValue = objc_cast<NSNumber>(value);
    if (numberValue == nullptr || limits == nullptr) return value;
    const FormatRange* format = limits->format.empty() ? nullptr : findFormat(limits->format);
    if (format && !format->numeric) return value;
    double v = numberValue->doubleValue();
    if (!std::isfinite(v)) return value;
    if (format && std::string_view(format->format) == "bool") return NSNumber::numberWithBool(v != 0);
    double low = limits->minimumValue.value_or(format ? format->low : -kUnbounded);
    double high = limits->maximumValue.value_or(format ? format->high : kUnbounded);
    if (format) low = std::max(low, format->low), high = std::min(high, format->high);
    v = std::clamp(v, low, high);
    if (limits->stepValue && *limits->stepValue > 0) {
        double base = limits->minimumValue.value_or(0.0);
        v = base + std::round((v - base) / *limits->stepValue) * *limits->stepValue;
        // A step that does not divide the range may round past its end.
        if (v > high) v -= *limits->stepValue;
        if (v < low) v += *limits->stepValue;
        v = std::clamp(v, low, high);
    }
    if (format && format->whole) return NSNumber::numberWithLongLong(static_cast<long long>(std::llround(v)));
    if (numberValue->kind() == NSNumber::Kind::integer && v == std::floor(v))
        return NSNumber::numberWithLongLong(static_cast<long long>(v));
    return NSNumber::numberWithDouble(v);
}
