// NSNumber: an immutable Boolean, integer or floating-point number. Safe to share between threads.
#pragma once

#include "../objc/runtime.h"

class NSNumber : public NSObject {
public:
    enum class Kind { boolean, integer, real };

    NSNumber() = default;
    NSNumber(Kind kind, long long integer, double real) : kind_(kind), integer_(integer), real_(real) {}
    static Class objcClass();

    static Strong<NSNumber> numberWithBool(BOOL value);
    static Strong<NSNumber> numberWithInteger(NSInteger value);
    static Strong<NSNumber> numberWithLongLong(long long value);
    static Strong<NSNumber> numberWithFloat(float value);
    static Strong<NSNumber> numberWithDouble(double value);
    // `[NSNumber alloc]`: a zero integer the caller owns, to be set up by an `init...` call.
    static NSNumber* alloc();
    // Sets the value and returns the receiver (the reference passes through).
    NSNumber* initWithInteger(NSInteger value);

    Kind kind() const { return kind_; }
    BOOL boolValue() const { return kind_ == Kind::real ? real_ != 0.0 : integer_ != 0; }
    NSInteger integerValue() const;
    long long longLongValue() const { return integerValue(); }
    float floatValue() const { return static_cast<float>(doubleValue()); }
    double doubleValue() const { return kind_ == Kind::real ? real_ : static_cast<double>(integer_); }

    // Numbers are equal when their values are, whatever their kinds (YES equals 1).
    bool isEqual(const NSObject* other) const override;
    size_t hash() const override;
    std::string description() const override;

private:
    Kind kind_ = Kind::integer;
    long long integer_ = 0;
    double real_ = 0.0;
};
