#include "ReportLimiter.h"

namespace device::ipc {

bool ReportLimiter::admit(Clock::time_point now, uint64_t* leftOut) {
    std::lock_guard hold(lock_);
    if (!started_) {
        started_ = true;
        refilled_ = now;
    }
    if (now > refilled_) {
        auto earned = (now - refilled_) / interval_;
        if (earned >= burst_ - tokens_) {
            tokens_ = burst_;
            refilled_ = now;
        } else if (earned > 0) {
            tokens_ += static_cast<int>(earned);
            refilled_ += earned * interval_;  // keeps the part of an interval already waited
        }
    }
    if (tokens_ == 0) {
        ++heldBack_;
        return false;
    }
    --tokens_;
    if (leftOut) *leftOut = heldBack_;
    heldBack_ = 0;
    return true;
}

}  // namespace device::ipc
