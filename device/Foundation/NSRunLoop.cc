#include "NSRunLoop.h"

#include <algorithm>
#include <optional>

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

bool NSRunLoop::isCommonMode(NSString* mode) {
    return mode->isEqual(NSDefaultRunLoopMode) || mode->isEqual(UITrackingRunLoopMode);
}

NSRunLoop::TimerQueue* NSRunLoop::timersForLocked(NSString* mode, bool make) {
    for (auto& [timersMode, queue] : timers_) {
        if (timersMode->isEqual(mode)) return &queue;
    }
    if (!make) return nullptr;
    return &timers_.emplace_back(Strong<NSString>(mode), TimerQueue()).second;
}

void NSRunLoop::addTimer_forMode(RunLoopTimer* timer, NSString* mode) {
    if (timer == nullptr || mode == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        TimerQueue* queue = timersForLocked(mode, true);
        if (queue->contains([timer](const Strong<RunLoopTimer>& t) { return t.get() == timer; })) return;
        queue->push(timer->fireTime_, Strong<RunLoopTimer>(timer));
    }
    pump_.wake();
}

void NSRunLoop::removeTimer_forMode(RunLoopTimer* timer, NSString* mode) {
    if (timer == nullptr || mode == nullptr) return;
    std::vector<Strong<RunLoopTimer>> removed;  // released after the lock
    std::lock_guard<std::mutex> guard(lock_);
    if (TimerQueue* queue = timersForLocked(mode, false))
        removed = queue->removeIf([timer](const Strong<RunLoopTimer>& t) { return t.get() == timer; });
}

void NSRunLoop::performBlock(Block<void()>* block) {
    if (block == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        posted_.push(RunLoopClock::now(), Strong<Block<void()>>(block));
    }
    pump_.wake();
}

void NSRunLoop::takeDueTimersLocked(TimerQueue& queue, RunLoopClock::time_point now,
                                    std::vector<Strong<RunLoopTimer>>& due, std::vector<Strong<RunLoopTimer>>& spent) {
    std::vector<Strong<RunLoopTimer>> later;  // put back after the loop, so none is taken twice
    while (std::optional<Strong<RunLoopTimer>> entry = queue.popDue(now)) {
        Strong<RunLoopTimer>& timer = *entry;
        if (!timer->isValid()) {
            spent.push_back(std::move(timer));
        } else if (timer->fireTime_ > now) {
            // Already fired in another of its modes this time round: it waits for its next time.
            later.push_back(std::move(timer));
        } else {
            due.push_back(timer);
            if (timer->interval_ <= RunLoopClock::duration::zero()) {
                spent.push_back(std::move(timer));
                continue;
            }
            timer->fireTime_ += timer->interval_;
            // A loop that fell behind skips the missed fires instead of bursting.
            if (timer->fireTime_ <= now) timer->fireTime_ = now + timer->interval_;
            later.push_back(std::move(timer));
        }
    }
    for (Strong<RunLoopTimer>& timer : later) {
        RunLoopClock::time_point next = timer->fireTime_;
        queue.push(next, std::move(timer));
    }
}

void NSRunLoop::takeDueLocked(NSString* mode, RunLoopClock::time_point now, std::vector<Strong<Block<void()>>>& work,
                              std::vector<Strong<RunLoopTimer>>& due, std::vector<Strong<RunLoopTimer>>& spent) {
    bool common = isCommonMode(mode);
    if (common) {
        while (std::optional<Strong<Block<void()>>> block = posted_.popDue(now)) work.push_back(std::move(*block));
    }
    if (TimerQueue* queue = timersForLocked(mode, false)) takeDueTimersLocked(*queue, now, due, spent);
    if (common) {
        if (TimerQueue* queue = timersForLocked(NSRunLoopCommonModes, false))
            takeDueTimersLocked(*queue, now, due, spent);
    }
}

RunLoopClock::time_point NSRunLoop::nextDueLocked(NSString* mode) {
    bool common = isCommonMode(mode);
    RunLoopClock::time_point next = common ? posted_.nextDue() : RunLoopClock::time_point::max();
    if (TimerQueue* queue = timersForLocked(mode, false)) next = std::min(next, queue->nextDue());
    if (common) {
        if (TimerQueue* queue = timersForLocked(NSRunLoopCommonModes, false)) next = std::min(next, queue->nextDue());
    }
    return next;
}

BOOL NSRunLoop::runMode_beforeDate(NSString* mode, RunLoopClock::time_point deadline) {
    thread_.check("a run loop");
    if (mode == nullptr) return NO;
    NSString* outerMode = currentMode_;
    currentMode_ = mode;
    std::vector<Strong<Block<void()>>> work;
    std::vector<Strong<RunLoopTimer>> due;
    // Released after the lock: a timer's last release may release its target, whose dealloc may
    // come back to this run loop.
    std::vector<Strong<RunLoopTimer>> spent;
    {
        std::unique_lock<std::mutex> guard(lock_);
        while (true) {
            RunLoopClock::time_point now = RunLoopClock::now();
            takeDueLocked(mode, now, work, due, spent);
            if (!work.empty() || !due.empty() || stopRequested_ || now >= deadline) break;
            RunLoopClock::time_point wake = std::min(deadline, nextDueLocked(mode));
            guard.unlock();
            pump_.waitUntil(wake);
            guard.lock();
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
    pump_.wake();
}
