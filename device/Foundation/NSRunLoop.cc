#include "NSRunLoop.h"

#include <algorithm>
#include <iterator>

#include "NSThread.h"

NSString* const NSDefaultRunLoopMode = NSString::literal("kCFRunLoopDefaultMode");
NSString* const NSRunLoopCommonModes = NSString::literal("kCFRunLoopCommonModes");
NSString* const UITrackingRunLoopMode = NSString::literal("UITrackingRunLoopMode");

Class RunLoopTimer::objcClass() {
    static Class cls = objc_defineClass<NSObject>("NSTimer", NSObject::objcClass());
    return cls;
}

Class NSRunLoop::objcClass() {
    static Class cls = objc_defineClass<NSRunLoop>("NSRunLoop", NSObject::objcClass());
    return cls;
}

NSRunLoop* NSRunLoop::mainRunLoop() {
    // Lives as long as the process: other threads post to it until the very end.
    static NSRunLoop* main = makeObject<NSRunLoop>().detach();
    return main;
}

NSRunLoop* NSRunLoop::currentRunLoop() {
    if (NSThread::isMainThread()) return mainRunLoop();
    static thread_local Strong<NSRunLoop> own = makeObject<NSRunLoop>();
    return own.get();
}

bool NSRunLoop::serves(NSString* entryMode, NSString* runningMode) const {
    if (entryMode->isEqual(runningMode)) return true;
    return entryMode->isEqual(NSRunLoopCommonModes) &&
           (runningMode->isEqual(NSDefaultRunLoopMode) || runningMode->isEqual(UITrackingRunLoopMode));
}

void NSRunLoop::addTimer_forMode(RunLoopTimer* timer, NSString* mode) {
    if (timer == nullptr || mode == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& entry : timers_) {
            if (entry.timer.get() == timer && entry.mode->isEqual(mode)) return;
        }
        timers_.push_back({timer, mode});
    }
    wakeUp_.notify_all();
}

void NSRunLoop::removeTimer_forMode(RunLoopTimer* timer, NSString* mode) {
    std::vector<TimerEntry> removed;  // released outside the lock
    std::lock_guard<std::mutex> guard(lock_);
    auto gone = std::stable_partition(timers_.begin(), timers_.end(), [&](const TimerEntry& e) {
        return !(e.timer.get() == timer && mode && e.mode->isEqual(mode));
    });
    std::move(gone, timers_.end(), std::back_inserter(removed));
    timers_.erase(gone, timers_.end());
}

void NSRunLoop::performBlock(Block<void()>* block) {
    if (block == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        posted_.emplace_back(block);
    }
    wakeUp_.notify_all();
}

BOOL NSRunLoop::runMode_beforeDate(NSString* mode, RunLoopClock::time_point deadline) {
    NSString* outerMode = currentMode_;
    currentMode_ = mode;
    std::deque<Strong<Block<void()>>> work;
    std::vector<Strong<RunLoopTimer>> due;
    // Released after the lock: a timer's last release may release its target, whose dealloc may
    // come back to this run loop.
    std::vector<TimerEntry> expired;
    {
        std::unique_lock<std::mutex> guard(lock_);
        while (true) {
            auto gone = std::stable_partition(timers_.begin(), timers_.end(),
                                              [](const TimerEntry& e) { return e.timer->isValid(); });
            std::move(gone, timers_.end(), std::back_inserter(expired));
            timers_.erase(gone, timers_.end());
            RunLoopClock::time_point now = RunLoopClock::now();
            RunLoopClock::time_point wake = deadline;
            if (serves(NSRunLoopCommonModes, mode)) work.swap(posted_);
            for (auto& entry : timers_) {
                if (!serves(entry.mode, mode)) continue;
                RunLoopTimer* timer = entry.timer.get();
                if (timer->fireTime_ <= now) {
                    if (std::find(due.begin(), due.end(), entry.timer) == due.end()) due.push_back(entry.timer);
                } else {
                    wake = std::min(wake, timer->fireTime_);
                }
            }
            // Advance each due timer now, so a timer added for two modes fires once.
            for (auto& timer : due) {
                if (timer->interval_ <= RunLoopClock::duration::zero()) continue;
                timer->fireTime_ += timer->interval_;
                // A loop that fell behind skips the missed fires instead of bursting.
                if (timer->fireTime_ <= now) timer->fireTime_ = now + timer->interval_;
            }
            if (!work.empty() || !due.empty() || stopRequested_ || now >= deadline) break;
            if (wake == RunLoopClock::time_point::max()) wakeUp_.wait(guard);
            else wakeUp_.wait_until(guard, wake);
        }
    }
    for (auto& block : work) (*block)();
    for (auto& timer : due) {
        if (!timer->isValid()) continue;
        if (timer->interval_ <= RunLoopClock::duration::zero()) timer->invalidate();
        timer->action_();
    }
    currentMode_ = outerMode;
    return !work.empty() || !due.empty();
}

void NSRunLoop::runWhileNotStopped(RunLoopClock::time_point deadline) {
    while (true) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopRequested_) {
                stopRequested_ = false;
                return;
            }
        }
        if (RunLoopClock::now() >= deadline) return;
        runMode_beforeDate(NSDefaultRunLoopMode, deadline);
    }
}

void NSRunLoop::run() { runWhileNotStopped(RunLoopClock::time_point::max()); }

void NSRunLoop::runUntilDate(RunLoopClock::time_point deadline) { runWhileNotStopped(deadline); }

void NSRunLoop::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopRequested_ = true;
    }
    wakeUp_.notify_all();
}
