// CADisplayLink: a timer in step with the display. Run-time class "CADisplayLink".
//
// A link sends its selector to its target once per frame while it is scheduled on a run loop
// (addToRunLoop:forMode:) and that run loop runs in one of the modes it was added for (a link
// added for NSRunLoopCommonModes ticks in each common mode), unless it is paused or invalidated.
// Ticks come at the preferred rate on the monotonic clock; a run loop that falls behind skips the
// missed ticks instead of bursting. The selector is sent through the run-time, with the link as its
// one argument when the selector's name ends in ':' and with none otherwise.
//
// Ownership, as on iOS: while the link is scheduled in at least one mode and not invalidated, it
// holds its target and the run loop holds it; removing it from its last mode or invalidating it
// releases both, so a link that is only scheduled stays alive and one that is scheduled nowhere
// goes with its last owner. Removing or invalidating a link from inside its own tick is safe. A
// link must be removed or invalidated before the thread of a (non-main) run loop it is on ends.
//
// Threads: a link is created, scheduled and changed on the thread whose run loop it is added to
// (the main thread in practice); debug builds check that one thread does all of it. Its ticks run on that thread.
//
// Run-time methods: +displayLinkWithTarget:selector: (gives a reference the caller owns: the
// device has no autorelease pools), -addToRunLoop:forMode:, -removeFromRunLoop:forMode:,
// -invalidate, -isPaused (also -paused), -setPaused:, -preferredFramesPerSecond,
// -setPreferredFramesPerSecond:, -timestamp, -targetTimestamp, -duration.
#pragma once

#include <vector>

#include "../Foundation/NSRunLoop.h"
#include "../Foundation/NSString.h"
#include "../objc/runtime.h"

#include "../base/ThreadChecker.h"
#include "CABase.h"

class CADisplayLink : public NSObject {
public:
    CADisplayLink() = default;
    ~CADisplayLink() override;
    static Class objcClass();

    // A new, unscheduled, unpaused link that will send `selector` to `target`; the caller owns it.
    // The target is not held until the link is scheduled. nil when `target` or `selector` is null.
    static Strong<CADisplayLink> displayLinkWithTarget_selector(id target, SEL selector);

    // Schedules the link on `runLoop` in `mode`; adding the same pair twice changes nothing. Ignored
    // for a nil argument or once the link is invalidated.
    void addToRunLoop_forMode(NSRunLoop* runLoop, NSString* mode);
    // Unschedules the link from `runLoop` in `mode`; a pair it is not scheduled in is ignored.
    void removeFromRunLoop_forMode(NSRunLoop* runLoop, NSString* mode);
    // Removes the link from every run loop and mode and releases the target, for good: the link
    // never ticks or schedules again. Calling it again does nothing.
    void invalidate();
    // NO once the link has been invalidated.
    BOOL isValid() const { return !invalidated_; }

    BOOL isPaused() const { return paused_; }
    // A paused link stays scheduled (and held) but does not tick.
    void setPaused(BOOL paused);
    // The rate asked for; 0 (the default) means the display's maximum, 60 here. Rates above the
    // maximum, or negative, tick at the maximum.
    NSInteger preferredFramesPerSecond() const { return preferredFramesPerSecond_; }
    void setPreferredFramesPerSecond(NSInteger framesPerSecond);

    // The time of the last tick (CACurrentMediaTime's clock), 0 before the first one.
    CFTimeInterval timestamp() const { return timestamp_; }
    // When the tick after the last one is due at the preferred rate; 0 before the first tick.
    CFTimeInterval targetTimestamp() const { return targetTimestamp_; }
    // The display's refresh interval, 1/60 s.
    CFTimeInterval duration() const;

private:
    struct Schedule {
        Strong<NSRunLoop> runLoop;
        Strong<NSString> mode;
    };
    // One timer per run loop, added for each of the link's modes on that loop.
    struct LoopTimer {
        Strong<NSRunLoop> runLoop;
        Strong<RunLoopTimer> timer;
        std::vector<Strong<NSString>> modes;
    };

    void tick();
    // Replaces the run-loop timers with ones that match the schedules, pause and rate now.
    void rebuildTimers();
    // Takes or drops the reference to the target as the link's state now asks; returns a target
    // to release, which the caller does last (its dealloc may come back to this link).
    id adjustTargetHold();
    long effectiveRate() const;

    id target_ = nil;  // held (retained) only while targetHeld_
    SEL selector_ = nullptr;
    bool passesLink_ = false;
    bool targetHeld_ = false;
    bool paused_ = false;
    bool invalidated_ = false;
    NSInteger preferredFramesPerSecond_ = 0;
    CFTimeInterval timestamp_ = 0;
    CFTimeInterval targetTimestamp_ = 0;
    std::vector<Schedule> schedules_;
    std::vector<LoopTimer> timers_;
    device::ThreadChecker thread_;
};
