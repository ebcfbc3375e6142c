#include "CharacteristicValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "../Foundation/Foundation.h"

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

ValueCheck refuse(ValueProblem problem, std::string reason) { return {problem, std::move(reason), nullptr}; }
ValueCheck accept(Strong<NSObject> value) { return {ValueProblem::none, {}, std::move(value)}; }

// `v` (finite, within [low, high]) on the grid base + k * step, the nearest point inside the range.
double toGrid(double v, double base, double step, double low, double high) {
    double fitted = base + std::round((v - base) / step) * step;
    // A step that does not divide the range may round past its end.
    if (fitted > high) fitted -= step;
    if (fitted < low) fitted += step;
    return std::clamp(fitted, low, high);
}

}  // namespace

bool isKnownValueFormat(std::string_view format) { return findFormat(format) != nullptr; }

ValueCheck checkCharacteristicValue(const ValueLimits* limits, NSObject* value) {
    if (value == nil) return refuse(ValueProblem::missing, "no value was given");
    auto* numberValue = objc_cast<NSNumber>(value);
    auto* stringValue = objc_cast<NSString>(value);
    if (numberValue == nullptr && stringValue == nullptr)
        return refuse(ValueProblem::wrongType,
                      "a " + std::string(class_getName(value->isa)) + " is neither a number nor a string");
    const FormatRange* format = limits && !limits->format.empty() ? findFormat(limits->format) : nullptr;
    if (format && !format->numeric) {
        if (stringValue == nullptr) return refuse(ValueProblem::wrongType, describeValue(value) + " is not a string");
        return accept(value);
    }
    if (stringValue) {
        // A string suits a characteristic whose metadata does not ask for a number.
        bool wantsNumber = format || (limits && (limits->minimumValue || limits->maximumValue || limits->stepValue));
        if (wantsNumber) return refuse(ValueProblem::wrongType, describeValue(value) + " is not a number");
        return accept(value);
    }

    double v = numberValue->doubleValue();
    if (!std::isfinite(v)) return refuse(ValueProblem::notFinite, describeValue(value) + " is not a finite number");
    if (limits == nullptr) return accept(value);
    const bool boolean = format && std::string_view(format->format) == "bool";
    if (boolean) {
        if (v != 0 && v != 1)
            return refuse(ValueProblem::notBoolean, describeValue(value) + " is not a Boolean (0 or 1)");
        return accept(NSNumber::numberWithBool(v != 0));
    }
    if (format && v < format->low)
        return refuse(ValueProblem::belowMinimum,
                      describeValue(value) + " is below the range of format " + format->format);
    if (format && v > format->high)
        return refuse(ValueProblem::aboveMaximum,
                      describeValue(value) + " is above the range of format " + format->format);
    if (limits->minimumValue && v < *limits->minimumValue)
        return refuse(ValueProblem::belowMinimum,
                      describeValue(value) + " is below the minimum " + number(*limits->minimumValue));
    if (limits->maximumValue && v > *limits->maximumValue)
        return refuse(ValueProblem::aboveMaximum,
                      describeValue(value) + " is above the maximum " + number(*limits->maximumValue));

    double low = limits->minimumValue.value_or(format ? format->low : -kUnbounded);
    double high = limits->maximumValue.value_or(format ? format->high : kUnbounded);
    if (format) low = std::max(low, format->low), high = std::min(high, format->high);
    double fitted = v;
    if (limits->stepValue && *limits->stepValue > 0)
        fitted = toGrid(v, limits->minimumValue.value_or(0.0), *limits->stepValue, low, high);
    if (format && format->whole) fitted = std::clamp(std::round(fitted), std::ceil(low), std::floor(high));
    if (fitted == v) return accept(value);
    if ((format && format->whole) || (numberValue->kind() == NSNumber::Kind::integer && fitted == std::floor(fitted)))
        return accept(NSNumber::numberWithLongLong(static_cast<long long>(fitted)));
    return accept(NSNumber::numberWithDouble(fitted));
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
