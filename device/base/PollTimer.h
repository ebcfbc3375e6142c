// PollTimer: a one-shot timer that a PollPump waits on like any descriptor (a timerfd). Arming and
// disarming it wakes no thread, so it costs a thread only a system call when it does not fire; when
// it fires, the kernel wakes the thread waiting on it. Arm, disarm and clear from any thread.
#pragma once

#include <poll.h>
#include <chrono>

#include "Status.h"

namespace device {

class PollTimer {
public:
    // Check `status()`: without its timerfd the timer never fires.
    PollTimer();
    ~PollTimer();
    PollTimer(const PollTimer&) = delete;
    PollTimer& operator=(const PollTimer&) = delete;

    const Status& status() const { return status_; }
    // Fires once, `delay` from now, replacing any earlier arming.
    void armAfter(std::chrono::nanoseconds delay);
    // Will not fire, and a firing not yet taken is forgotten.
    void disarm();
    // What a PollPump watches: readable once the timer has fired, until `clear`.
    pollfd watched() const { return {fd_, POLLIN, 0}; }
    // Takes the firing, so the descriptor is no longer readable.
    void clear();

private:
    Status status_;
    int fd_ = -1;
};

}  // namespace device
