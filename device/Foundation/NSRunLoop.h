// NSRunLoop: a thread's event loop. It runs, in modes, the work posted to it (the main dispatch
// queue posts here) and its timers (display links are timers), and sleeps in between.
//
// Each thread has its own run loop (`currentRunLoop`); the main thread's is `mainRunLoop`. A run
// loop runs only on its own thread (debug builds check it); posting work, adding or removing timers
// and `stop` may be done from any thread. Posted work runs in the common modes (default and
// tracking), a timer in the modes it was added for.
//
// Inside, a run loop is a pump (it sleeps on a condition variable until woken or until the next
// thing is due) and queues ordered by due time: one for the posted work and one per mode for the
// timers, so a turn looks only at what is due in the mode it runs.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "../base/DelayedQueue.h"
#include "../base/MessagePump.h"
#include "../base/ThreadChecker.h"

#include "../objc/Block.h"
#include "../objc/runtime.h"

#include "NSString.h"

extern NSString* const NSDefaultRunLoopMode;
extern NSString* const NSRunLoopCommonModes;
extern NSString* const UITrackingRunLoopMode;

using RunLoopClock = std::chrono::steady_clock;

// A timer: fires its action at its fire time, then every interval (zero: once), until invalidated.
class RunLoopTimer : public NSObject {
public:
    RunLoopTimer(RunLoopClock::time_point fireTime, RunLoopClock::duration interval, std::function<void()> action)
        : fireTime_(fireTime), interval_(interval), action_(std::move(action)) {}
    static Class objcClass();

    // Stops the timer for good; it fires no more and leaves every run loop. Any thread.
    void invalidate() { valid_.store(false); }
    BOOL isValid() const { return valid_.load(); }

private:
    friend class NSRunLoop;
    RunLoopClock::time_point fireTime_;  // guarded by the run loop's lock
    RunLoopClock::duration interval_;
    std::function<void()> action_;
    std::atomic<bool> valid_{true};
};

class NSRunLoop : public NSObject {
public:
    static Class objcClass();
    static NSRunLoop* currentRunLoop();
    static NSRunLoop* mainRunLoop();

    void addTimer_forMode(RunLoopTimer* timer, NSString* mode);
    void removeTimer_forMode(RunLoopTimer* timer, NSString* mode);
    // Runs `block` on this run loop's thread, in the common modes, after the work posted before it.
    void performBlock(Block<void()>* block);

    // Runs in the default mode until `stop`.
    void run();
    // Runs in the default mode until `deadline` or `stop`, whichever comes first.
    void runUntilDate(RunLoopClock::time_point deadline);
    // Runs in `mode` once: does what is ready, or waits for the first thing to do until `deadline`.
    // Returns YES when something ran.
    BOOL runMode_beforeDate(NSString* mode, RunLoopClock::time_point deadline);
    // Makes the running `run` or `runUntilDate` return. Any thread.
    void stop();
    // The mode this run loop is running in now, or nil when it is not running.
    NSString* currentMode() const { return currentMode_; }

private:
    using TimerQueue = device::DelayedQueue<Strong<RunLoopTimer>>;

    static bool isCommonMode(NSString* mode);
    // Takes what is due now in `mode` out of the queues; the timers among it are moved on to their
    // next fire time. Under the lock.
    void takeDueLocked(NSString* mode, RunLoopClock::time_point now, std::vector<Strong<Block<void()>>>& work,
                       std::vector<Strong<RunLoopTimer>>& due, std::vector<Strong<RunLoopTimer>>& spent);
    void takeDueTimersLocked(TimerQueue& queue, RunLoopClock::time_point now, std::vector<Strong<RunLoopTimer>>& due,
                             std::vector<Strong<RunLoopTimer>>& spent);
    // The timers added for `mode`; null when there are none and `make` is false. Under the lock.
    TimerQueue* timersForLocked(NSString* mode, bool make);
    // When the next thing in `mode` comes due. Under the lock.
    RunLoopClock::time_point nextDueLocked(NSString* mode);
    void runWhileNotStopped(RunLoopClock::time_point deadline);

    device::ConditionPump pump_;
    mutable std::mutex lock_;                             // guards the queues and stopRequested_
    device::DelayedQueue<Strong<Block<void()>>> posted_;  // runs in the common modes
    // The timers by the mode they were added for; a handful of modes, looked up without allocating.
    std::vector<std::pair<Strong<NSString>, TimerQueue>> timers_;
    bool stopRequested_ = false;
    NSString* currentMode_ = nullptr;  // only its own thread reads and writes it
    device::ThreadChecker thread_;
};
