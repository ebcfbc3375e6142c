#include "CADisplayLink.h"

#include <algorithm>
#include <cstring>

#include "../activity/FrameOrigin.h"
#include "../objc/MethodRegistration.h"

namespace {

constexpr long maximumFramesPerSecond = 60;

id CADisplayLink_displayLinkWithTarget_selector(id target, SEL selector) {
    return CADisplayLink::displayLinkWithTarget_selector(target, selector).detach();
}

}  // namespace

Class CADisplayLink::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<CADisplayLink>("CADisplayLink", NSObject::objcClass());
        objc_addClassMethod<&CADisplayLink_displayLinkWithTarget_selector>(c, "displayLinkWithTarget:selector:");
        objc_addInstanceMethod<&CADisplayLink::addToRunLoop_forMode>(c, "addToRunLoop:forMode:");
        objc_addInstanceMethod<&CADisplayLink::removeFromRunLoop_forMode>(c, "removeFromRunLoop:forMode:");
        objc_addInstanceMethod<&CADisplayLink::invalidate>(c, "invalidate");
        objc_addInstanceMethod<&CADisplayLink::isPaused>(c, "isPaused");
        objc_addInstanceMethod<&CADisplayLink::isPaused>(c, "paused");
        objc_addInstanceMethod<&CADisplayLink::setPaused>(c, "setPaused:");
        objc_addInstanceMethod<&CADisplayLink::preferredFramesPerSecond>(c, "preferredFramesPerSecond");
        objc_addInstanceMethod<&CADisplayLink::setPreferredFramesPerSecond>(c, "setPreferredFramesPerSecond:");
        objc_addInstanceMethod<&CADisplayLink::timestamp>(c, "timestamp");
        objc_addInstanceMethod<&CADisplayLink::targetTimestamp>(c, "targetTimestamp");
        objc_addInstanceMethod<&CADisplayLink::duration>(c, "duration");
        return c;
    }();
    return cls;
}

Strong<CADisplayLink> CADisplayLink::displayLinkWithTarget_selector(id target, SEL selector) {
    if (target == nil || selector == nullptr) return nil;
    Strong<CADisplayLink> link = makeObject<CADisplayLink>();
    link->target_ = target;
    link->selector_ = selector;
    const char* name = sel_getName(selector);
    link->passesLink_ = std::strchr(name, ':') != nullptr;
    link->thread_.check("a display link");  // the thread that makes the link is its own
    return link;
}

CADisplayLink::~CADisplayLink() {
    // Only reached once nothing schedules the link (a timer would still hold it), so the target is
    // normally released already; this covers a link whose run loop went away with it.
    for (LoopTimer& loopTimer : timers_) loopTimer.timer->invalidate();
    if (targetHeld_) objc_release(target_);
}

long CADisplayLink::effectiveRate() const {
    if (preferredFramesPerSecond_ <= 0 || preferredFramesPerSecond_ > maximumFramesPerSecond)
        return maximumFramesPerSecond;
    return preferredFramesPerSecond_;
}

CFTimeInterval CADisplayLink::duration() const { return 1.0 / maximumFramesPerSecond; }

void CADisplayLink::addToRunLoop_forMode(NSRunLoop* runLoop, NSString* mode) {
    thread_.check("a display link");
    if (runLoop == nil || mode == nil || invalidated_) return;
    for (const Schedule& s : schedules_) {
        if (s.runLoop.get() == runLoop && s.mode->isEqual(mode)) return;
    }
    Strong<CADisplayLink> keepAlive(this);
    schedules_.push_back({runLoop, mode});
    rebuildTimers();
    objc_release(adjustTargetHold());
}

void CADisplayLink::removeFromRunLoop_forMode(NSRunLoop* runLoop, NSString* mode) {
    thread_.check("a display link");
    if (runLoop == nil || mode == nil) return;
    auto found = std::find_if(schedules_.begin(), schedules_.end(),
                              [&](const Schedule& s) { return s.runLoop.get() == runLoop && s.mode->isEqual(mode); });
    if (found == schedules_.end()) return;
    // The run loop may hold the last reference, and the target's dealloc may come back here.
    Strong<CADisplayLink> keepAlive(this);
    schedules_.erase(found);
    rebuildTimers();
    objc_release(adjustTargetHold());
}

void CADisplayLink::invalidate() {
    thread_.check("a display link");
    if (invalidated_) return;
    Strong<CADisplayLink> keepAlive(this);
    invalidated_ = true;
    schedules_.clear();
    rebuildTimers();
    id released = adjustTargetHold();
    target_ = nil;
    objc_release(released);
}

void CADisplayLink::setPaused(BOOL paused) {
    thread_.check("a display link");
    if (paused == paused_) return;
    Strong<CADisplayLink> keepAlive(this);
    paused_ = paused;
    rebuildTimers();
}

void CADisplayLink::setPreferredFramesPerSecond(NSInteger framesPerSecond) {
    thread_.check("a display link");
    long before = effectiveRate();
    preferredFramesPerSecond_ = framesPerSecond;
    if (effectiveRate() == before) return;
    Strong<CADisplayLink> keepAlive(this);
    rebuildTimers();
}

id CADisplayLink::adjustTargetHold() {
    bool wanted = !invalidated_ && !schedules_.empty();
    if (wanted && !targetHeld_) {
        objc_retain(target_);
        targetHeld_ = true;
    } else if (!wanted && targetHeld_) {
        targetHeld_ = false;
        return target_;
    }
    return nil;
}

void CADisplayLink::rebuildTimers() {
    std::vector<LoopTimer> old;
    old.swap(timers_);
    for (LoopTimer& loopTimer : old) {
        loopTimer.timer->invalidate();
        for (const Strong<NSString>& mode : loopTimer.modes)
            loopTimer.runLoop->removeTimer_forMode(loopTimer.timer, mode);
    }
    if (invalidated_) return;

    auto interval =
        std::chrono::duration_cast<RunLoopClock::duration>(std::chrono::duration<double>(1.0 / effectiveRate()));
    // A paused link keeps a timer that never fires: the run loop still holds the link, as on iOS.
    RunLoopClock::time_point firstTick = paused_ ? RunLoopClock::time_point::max() : RunLoopClock::now() + interval;
    for (const Schedule& schedule : schedules_) {
        auto existing = std::find_if(timers_.begin(), timers_.end(),
                                     [&](const LoopTimer& t) { return t.runLoop.get() == schedule.runLoop.get(); });
        if (existing == timers_.end()) {
            // The timer holds the link while the run loop holds the timer.
            Strong<CADisplayLink> self(this);
            auto timer = makeObject<RunLoopTimer>(firstTick, interval, [self] { self->tick(); });
            timers_.push_back({schedule.runLoop, timer, {}});
            existing = timers_.end() - 1;
        }
        existing->modes.push_back(schedule.mode);
        existing->runLoop->addTimer_forMode(existing->timer, schedule.mode);
    }
}

void CADisplayLink::tick() {
    if (invalidated_ || paused_ || !targetHeld_) return;
    timestamp_ = CACurrentMediaTime();
    targetTimestamp_ = timestamp_ + 1.0 / effectiveRate();
    // The target stays held for the whole call even if the tick removes the link: the reference is
    // only dropped below, after the message returns.
    Strong<NSObject> target(target_);
    // A frame enters the process with each tick.
    device::FrameOriginScope origin({device::monotonicNanos(), device::CallKind::none});
    if (passesLink_)
        objc_msgSend<void>(target.get(), selector_, static_cast<id>(this));
    else
        objc_msgSend<void>(target.get(), selector_);
}
