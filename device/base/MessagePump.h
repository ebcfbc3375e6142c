// Message pumps: how a thread waits for its next piece of work. A pump only waits and wakes; what
// the work is, and when it is due, is its owner's queue. Two kinds:
// - ConditionPump sleeps on a condition variable (run loops, dispatch queues, task runners);
// - PollPump sleeps in ppoll on file descriptors as well (the IO sequence, the channel's server).
// A wake is never lost: `wake` before the wait makes the next wait return at once. A wait may also
// return early for no reason, so the owner looks at its queue again after each one.
#pragma once

#include <poll.h>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Clock.h"
#include "StatusOr.h"

namespace device {

class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Sleeps until `wake` is called or `deadline` (time_point::max(): none) passes.
    virtual void waitUntil(SteadyClock::time_point deadline) = 0;
    // Ends the current wait, or the next one if no thread waits now. Any thread.
    virtual void wake() = 0;
};

class ConditionPump final : public MessagePump {
public:
    void waitUntil(SteadyClock::time_point deadline) override;
    void wake() override;

private:
    std::mutex lock_;
    std::condition_variable woken_;
    // Each wake lets one wait return, so several threads may share the pump and each be woken.
    uint64_t pendingWakes_ = 0;
};

class PollPump final : public MessagePump {
public:
    // A pump; an error when its eventfd, without which it could not be woken, cannot be made (the
    // process has no descriptor left).
    static StatusOr<std::unique_ptr<PollPump>> make();
    ~PollPump() override;
    PollPump(const PollPump&) = delete;
    PollPump& operator=(const PollPump&) = delete;

    void waitUntil(SteadyClock::time_point deadline) override;
    void wake() override;
    // Sleeps until one of `watched` is ready (its `revents` say how), `wake` is called or `deadline`
    // passes. Entries with a negative descriptor are left out, as poll does.
    void waitUntil(std::vector<pollfd>& watched, SteadyClock::time_point deadline);

private:
    explicit PollPump(int wakeFd) : wakeFd_(wakeFd) {}

    const int wakeFd_;
    std::vector<pollfd> polled_;
};

}  // namespace device
