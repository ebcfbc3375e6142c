#include "NSNumber.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

Class NSNumber::objcClass() {
    static Class cls = objc_defineClass<NSNumber>("NSNumber", NSObject::objcClass());
    return cls;
}

Strong<NSNumber> NSNumber::numberWithBool(BOOL value) {
    return makeObject<NSNumber>(Kind::boolean, value ? 1 : 0, 0.0);
}
Strong<NSNumber> NSNumber::numberWithInteger(NSInteger value) {
    return makeObject<NSNumber>(Kind::integer, value, 0.0);
}
Strong<NSNumber> NSNumber::numberWithLongLong(long long value) {
    return makeObject<NSNumber>(Kind::integer, value, 0.0);
}
Strong<NSNumber> NSNumber::numberWithFloat(float value) { return makeObject<NSNumber>(Kind::real, 0, value); }
Strong<NSNumber> NSNumber::numberWithDouble(double value) { return makeObject<NSNumber>(Kind::real, 0, value); }

NSNumber* NSNumber::alloc() { return makeObject<NSNumber>().detach(); }

NSNumber* NSNumber::initWithInteger(NSInteger value) {
    kind_ = Kind::integer;
    integer_ = value;
    real_ = 0.0;
    return this;
}

NSInteger NSNumber::integerValue() const {
    if (kind_ != Kind::real) return static_cast<NSInteger>(integer_);
    // Out-of-range and non-finite values saturate instead of being undefined.
    if (std::isnan(real_)) return 0;
    if (real_ >= 9.2233720368547758e18) return std::numeric_limits<NSInteger>::max();
    if (real_ <= -9.2233720368547758e18) return std::numeric_limits<NSInteger>::min();
    return static_cast<NSInteger>(real_);
}

bool NSNumber::isEqual(const NSObject* other) const {
    auto* number = dynamic_cast<const NSNumber*>(other);
    if (number == nullptr) return false;
    if (kind_ != Kind::real && number->kind_ != Kind::real) return integer_ == number->integer_;
    return doubleValue() == number->doubleValue();
}

size_t NSNumber::hash() const { return std::hash<double>{}(doubleValue()); }

std::string NSNumber::description() const {
    char buffer[64];
    switch (kind_) {
        case Kind::boolean:
            return integer_ ? "YES" : "NO";
        case Kind::integer:
            std::snprintf(buffer, sizeof buffer, "%lld", integer_);
            return buffer;
        case Kind::real:
            std::snprintf(buffer, sizeof buffer, "%.17g", real_);
            return buffer;
    }
    return {};
}
