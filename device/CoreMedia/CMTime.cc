#include "CMTime.h"

#include <cmath>
#include <limits>

namespace {

// Sort rank of the kinds of time, lowest first.
int rank(const CMTime& t) {
    if (CMTIME_IS_INVALID(t)) return 4;
    if (t.flags & kCMTimeFlags_PositiveInfinity) return 3;
    if (t.flags & kCMTimeFlags_Indefinite) return 2;
    if (t.flags & kCMTimeFlags_NegativeInfinity) return 0;
    return 1;
}

// numerator / denominator (denominator > 0) rounded to an integer by `method`.
__int128 divideRounded(__int128 numerator, __int128 denominator, CMTimeRoundingMethod method) {
    __int128 quotient = numerator / denominator;  // truncates toward zero
    __int128 remainder = numerator % denominator;
    if (remainder == 0) return quotient;
    const bool negative = numerator < 0;
    const __int128 awayFromZero = negative ? quotient - 1 : quotient + 1;
    switch (method) {
        case kCMTimeRoundingMethod_RoundTowardZero:
            return quotient;
        case kCMTimeRoundingMethod_RoundAwayFromZero:
            return awayFromZero;
        case kCMTimeRoundingMethod_RoundTowardPositiveInfinity:
            return negative ? quotient : awayFromZero;
        case kCMTimeRoundingMethod_RoundTowardNegativeInfinity:
            return negative ? awayFromZero : quotient;
        case kCMTimeRoundingMethod_QuickTime:  // toward zero when shrinking the scale, as QuickTime did
        case kCMTimeRoundingMethod_RoundHalfAwayFromZero:
        default: {
            __int128 twice = (remainder < 0 ? -remainder : remainder) * 2;
            return twice >= denominator ? awayFromZero : quotient;
        }
    }
}

}  // namespace

CMTime CMTimeMake(CMTimeValue value, int32_t timescale) {
    if (timescale <= 0) return kCMTimeInvalid;
    return CMTime{value, timescale, kCMTimeFlags_Valid, 0};
}

double CMTimeGetSeconds(CMTime time) {
    switch (rank(time)) {
        case 0:
            return -std::numeric_limits<double>::infinity();
        case 3:
            return std::numeric_limits<double>::infinity();
        case 1:
            if (time.timescale > 0) return static_cast<double>(time.value) / time.timescale;
            [[fallthrough]];
        default:
            return std::numeric_limits<double>::quiet_NaN();
    }
}

int32_t CMTimeCompare(CMTime time1, CMTime time2) {
    const int rank1 = rank(time1), rank2 = rank(time2);
    if (rank1 != rank2) return rank1 < rank2 ? -1 : 1;
    if (rank1 != 1) return 0;
    if (time1.epoch != time2.epoch) return time1.epoch < time2.epoch ? -1 : 1;
    // 64 x 32 bits fits in 128: exact, whatever the timescales.
    const __int128 left = static_cast<__int128>(time1.value) * time2.timescale;
    const __int128 right = static_cast<__int128>(time2.value) * time1.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

CMTime CMTimeConvertScale(CMTime time, int32_t newTimescale, CMTimeRoundingMethod method) {
    if (newTimescale <= 0) return kCMTimeInvalid;
    if (!CMTIME_IS_NUMERIC(time) || time.timescale <= 0) return time;
    if (time.timescale == newTimescale) return time;
    if (method == kCMTimeRoundingMethod_QuickTime && newTimescale < time.timescale)
        method = kCMTimeRoundingMethod_RoundTowardZero;
    const __int128 scaled = static_cast<__int128>(time.value) * newTimescale;
    const __int128 value = divideRounded(scaled, time.timescale, method);
    if (value > std::numeric_limits<CMTimeValue>::max()) return kCMTimePositiveInfinity;
    if (value < std::numeric_limits<CMTimeValue>::min()) return kCMTimeNegativeInfinity;
    CMTime result{static_cast<CMTimeValue>(value), newTimescale, time.flags, time.epoch};
    if (value * time.timescale != scaled) result.flags |= kCMTimeFlags_HasBeenRounded;
    return result;
}
