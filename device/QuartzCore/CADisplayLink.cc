#include "CADisplayLink.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "activity/FrameOrigin.h"

namespace {

constexpr long maximumFramesPerSecond = 60;

CADisplayLink* asLink(id self) { return static_cast<CADisplayLink*>(self); }

id CADisplayLink_displayLinkWithTarget_selector(id, SEL, id target, SEL selector) {
    return CADisplayLink::displayLinkWithTarget_selector(target, selector).detach();
}
void CADisplayLink_addToRunLoop_forMode(id self, SEL, id runLoop, id mode) {
    asLink(self)->addToRunLoop_forMode(objc_cast<NSRunLoop>(runLoop), objc_cast<NSString>(mode));
}
void CADisplayLink_removeFromRunLoop_forMode(id self, SEL, id runLoop, id mode) {
    asLink(self)->removeFromRunLoop_forMode(objc_cast<NSRunLoop>(runLoop), objc_cast<NSString>(mode));
}
void CADisplayLink_invalidate(id self, SEL) { asLink(self)->invalidate(); }
BOOL CADisplayLink_isPaused(id self, SEL) { return asLink(self)->isPaused(); }
void CADisplayLink_setPaused(id self, SEL, BOOL paused) { asLink(self)->setPaused(paused); }
NSInteger CADisplayLink_preferredFramesPerSecond(id self, SEL) { return asLink(self)->preferredFramesPerSecond(); }
void CADisplayLink_setPreferredFramesPerSecond(id self, SEL, NSInteger rate) {
    asLink(self)->setPreferredFramesPerSecond(rate);
}
CFTimeInterval CADisplayLink_timestamp(id self, SEL) { return asLink(self)->timestamp(); }
CFTimeInterval CADisplayLink_targetTimestamp(id self, SEL) { return asLink(self)->targetTimestamp(); }
CFTimeInterval CADisplayLink_duration(id self, SEL) { return asLink(self)->duration(); }

}  // namespace

Class CADisplayLink::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<CADisplayLink>("CADisplayLink", NSObject::objcClass());
        auto add = [](Class target, const char* name, auto implementation, const char* types) {
            class_addMethod(target, sel_registerName(name), reinterpret_cast<IMP>(implementation), types);
        };
        add(object_getClass(c), "displayLinkWithTarget:selector:", CADisplayLink_displayLinkWithTarget_selector,
            "@32@0:8@16:24");
        add(c, "addToRunLoop:forMode:", CADisplayLink_addToRunLoop_forMode, "v32@0:8@16@24");
        add(c, "removeFromRunLoop:forMode:", CADisplayLink_removeFromRunLoop_forMode, "v32@0:8@16@24");
        add(c, "invalidate", CADisplayLink_invalidate, "v16@0:8");
        add(c, "isPaused", CADisplayLink_isPaused, "B16@0:8");
        add(c, "paused", CADisplayLink_isPaused, "B16@0:8");
        add(c, "setPaused:", CADisplayLink_setPaused, "v20@0:8B16");
        add(c, "preferredFramesPerSecond", CADisplayLink_preferredFramesPerSecond, "q16@0:8");
        add(c, "setPreferredFramesPerSecond:", CADisplayLink_setPreferredFramesPerSecond, "v24@0:8q16");
        add(c, "timestamp", CADisplayLink_timestamp, "d16@0:8");
        add(c, "targetTimestamp", CADisplayLink_targetTimestamp, "d16@0:8");
        add(c, "duration", CADisplayLink_duration, "d16@0:8");
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
    return link;
}

CADisplayLink::~CADisplayLink() {
    // Only reached once nothing schedules the link (a timer would still hold it), so the target is
    // normally released already; this covers a link whose run loop went away with it.
    for (LoopTimer& loopTimer : timers_) loopTimer.timer->invalidate();
    if (targetHeld_) objc_release(target_);
}

void CADisplayLink::checkThread() const {
    assert(std::this_thread::get_id() == thread_ && "a display link is used only on the thread that made it");
}

long CADisplayLink::effectiveRate() const {
    if (preferredFramesPerSecond_ <= 0 || preferredFramesPerSecond_ > maximumFramesPerSecond)
        return maximumFramesPerSecond;
    return preferredFramesPerSecond_;
}

CFTimeInterval CADisplayLink::duration() const { return 1.0 / maximumFramesPerSecond; }

void CADisplayLink::addToRunLoop_forMode(NSRunLoop* runLoop, NSString* mode) {
    checkThread();
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
    checkThread();
    if (runLoop == nil || mode == nil) return;
    auto found = std::find_if(schedules_.begin(), schedules_.end(), [&](const Schedule& s) {
        return s.runLoop.get() == runLoop && s.mode->isEqual(mode);
    });
    if (found == schedules_.end()) return;
    // The run loop may hold the last reference, and the target's dealloc may come back here.
    Strong<CADisplayLink> keepAlive(this);
    schedules_.erase(found);
    rebuildTimers();
    objc_release(adjustTargetHold());
}

void CADisplayLink::invalidate() {
    checkThread();
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
    checkThread();
    if (paused == paused_) return;
    Strong<CADisplayLink> keepAlive(this);
    paused_ = paused;
    rebuildTimers();
}

void CADisplayLink::setPreferredFramesPerSecond(NSInteger framesPerSecond) {
    checkThread();
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
        for (const Strong<NSString>& mode : loopTimer.modes) loopTimer.runLoop->removeTimer_forMode(loopTimer.timer, mode);
    }
    if (invalidated_) return;

    auto interval = std::chrono::duration_cast<RunLoopClock::duration>(std::chrono::duration<double>(1.0 / effectiveRate()));
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
    if (passesLink_) objc_msgSend<void>(target.get(), selector_, static_cast<id>(this));
    else objc_msgSend<void>(target.get(), selector_);
}
