// ReportLimiter: lets problem reports through at a steady, bounded rate for as long as they come.
//
// A token bucket: up to `burst` reports at once, then one every `interval`. A client that misbehaves
// in a loop cannot flood the log, and a problem that starts an hour later is still reported. Every
// method may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace device::ipc {

class ReportLimiter {
public:
    using Clock = std::chrono::steady_clock;

    ReportLimiter(int burst, Clock::duration interval) : burst_(burst), interval_(interval), tokens_(burst) {}

    // Whether a report made at `now` may be written. When it may, `*leftOut` is how many reports
    // were held back since the last one written, for the report to say so.
    bool admit(Clock::time_point now, uint64_t* leftOut);

private:
    const int burst_;
    const Clock::duration interval_;
    std::mutex lock_;
    int tokens_;
    Clock::time_point refilled_{};  // when tokens_ was last topped up
    bool started_ = false;
    uint64_t heldBack_ = 0;
};

}  // namespace device::ipc
