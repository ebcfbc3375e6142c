// CMTime: a rational time (value / timescale) with flags for validity and the non-numeric times
// (infinities, indefinite). A plain value: copy it freely between threads.
#pragma once

#include <cstdint>

typedef int64_t CMTimeValue;
typedef int32_t CMTimeScale;
typedef int64_t CMTimeEpoch;
typedef uint32_t CMTimeFlags;

enum : CMTimeFlags {
    kCMTimeFlags_Valid = 1u << 0,
    kCMTimeFlags_HasBeenRounded = 1u << 1,
    kCMTimeFlags_PositiveInfinity = 1u << 2,
    kCMTimeFlags_NegativeInfinity = 1u << 3,
    kCMTimeFlags_Indefinite = 1u << 4,
    kCMTimeFlags_ImpliedValueFlagsMask =
        kCMTimeFlags_PositiveInfinity | kCMTimeFlags_NegativeInfinity | kCMTimeFlags_Indefinite,
};

struct CMTime {
    CMTimeValue value;
    CMTimeScale timescale;
    CMTimeFlags flags;
    CMTimeEpoch epoch;
};

// An invalid time has every field zero; test with CMTIME_IS_INVALID, not by comparing with it.
inline constexpr CMTime kCMTimeInvalid = {0, 0, 0, 0};
inline constexpr CMTime kCMTimeZero = {0, 1, kCMTimeFlags_Valid, 0};
inline constexpr CMTime kCMTimeIndefinite = {0, 0, kCMTimeFlags_Valid | kCMTimeFlags_Indefinite, 0};
inline constexpr CMTime kCMTimePositiveInfinity = {0, 0, kCMTimeFlags_Valid | kCMTimeFlags_PositiveInfinity, 0};
inline constexpr CMTime kCMTimeNegativeInfinity = {0, 0, kCMTimeFlags_Valid | kCMTimeFlags_NegativeInfinity, 0};

#define CMTIME_IS_VALID(time) (((time).flags & kCMTimeFlags_Valid) != 0)
#define CMTIME_IS_INVALID(time) (!CMTIME_IS_VALID(time))
#define CMTIME_IS_POSITIVE_INFINITY(time) (CMTIME_IS_VALID(time) && ((time).flags & kCMTimeFlags_PositiveInfinity) != 0)
#define CMTIME_IS_NEGATIVE_INFINITY(time) (CMTIME_IS_VALID(time) && ((time).flags & kCMTimeFlags_NegativeInfinity) != 0)
#define CMTIME_IS_INDEFINITE(time) (CMTIME_IS_VALID(time) && ((time).flags & kCMTimeFlags_Indefinite) != 0)
#define CMTIME_IS_NUMERIC(time) \
    (((time).flags & (kCMTimeFlags_Valid | kCMTimeFlags_ImpliedValueFlagsMask)) == kCMTimeFlags_Valid)

enum CMTimeRoundingMethod : uint32_t {
    kCMTimeRoundingMethod_RoundHalfAwayFromZero = 1,
    kCMTimeRoundingMethod_RoundTowardZero = 2,
    kCMTimeRoundingMethod_RoundAwayFromZero = 3,
    kCMTimeRoundingMethod_QuickTime = 4,
    kCMTimeRoundingMethod_RoundTowardPositiveInfinity = 5,
    kCMTimeRoundingMethod_RoundTowardNegativeInfinity = 6,
    kCMTimeRoundingMethod_Default = kCMTimeRoundingMethod_RoundHalfAwayFromZero,
};

// value/timescale seconds, epoch 0. A timescale that is not positive gives kCMTimeInvalid.
CMTime CMTimeMake(CMTimeValue value, int32_t timescale);
// The time in seconds; NaN for invalid and indefinite times, +/-infinity for the infinities.
double CMTimeGetSeconds(CMTime time);
// -1, 0 or 1 as time1 is less than, equal to or greater than time2, in the order
// -infinity < numeric times < indefinite < +infinity < invalid; among numeric times a larger epoch
// is greater, then the rational values are compared exactly (different timescales are fine).
int32_t CMTimeCompare(CMTime time1, CMTime time2);
// `time` expressed in `newTimescale`, rounded by `method` (kCMTimeFlags_HasBeenRounded is set when
// the value changed by rounding). Non-numeric times come back unchanged; a non-positive timescale
// gives kCMTimeInvalid, and a value that does not fit gives the infinity of its sign.
CMTime CMTimeConvertScale(CMTime time, int32_t newTimescale, CMTimeRoundingMethod method);
