// CADisplayLink on the main run loop: modes, pausing, rate, the selector's argument, and who holds
// whom while a link is scheduled.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include <Foundation/Foundation.h>
#include <QuartzCore/CADisplayLink.h>
#include <objc/ObjcDevice.h>

namespace {

using namespace std::chrono_literals;

// A link's target, counting the ticks it is sent.
class TickCounter : public NSObject {
public:
    static Class objcClass() {
        static Class cls = [] {
            Class c = objc_defineClass<TickCounter>("DisplayLinkTestTickCounter", NSObject::objcClass());
            class_addMethod(c, sel_registerName("update"), reinterpret_cast<IMP>(+[](id self, SEL) {
                                auto* counter = static_cast<TickCounter*>(self);
                                counter->updates++;
                                if (counter->onTick) counter->onTick(nullptr);
                            }),
                            "v16@0:8");
            class_addMethod(c, sel_registerName("tick:"), reinterpret_cast<IMP>(+[](id self, SEL, id link) {
                                auto* counter = static_cast<TickCounter*>(self);
                                counter->linkTicks++;
                                counter->lastLink = link;
                                if (counter->onTick) counter->onTick(objc_cast<CADisplayLink>(link));
                            }),
                            "v24@0:8@16");
            return c;
        }();
        return cls;
    }

    int updates = 0;
    int linkTicks = 0;
    id lastLink = nil;
    std::function<void(CADisplayLink*)> onTick;
};

class DisplayLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(NSThread::isMainThread()); }
    void TearDown() override {
        for (auto& link : links_) link->invalidate();
    }

    // A link made through the run-time, as the library makes one; invalidated after the test.
    Strong<CADisplayLink> makeLink(id target, SEL selector) {
        id made = objc_msgSend<id>(CADisplayLink::objcClass(), SEL_(displayLinkWithTarget:selector:), target, selector);
        auto link = Strong<CADisplayLink>::adopt(objc_cast<CADisplayLink>(made));
        links_.push_back(link);
        return link;
    }

    static void add(CADisplayLink* link, NSString* mode) {
        objc_msgSend<void>(link, SEL_(addToRunLoop:forMode:), NSRunLoop::currentRunLoop(), mode);
    }
    static void remove(CADisplayLink* link, NSString* mode) {
        objc_msgSend<void>(link, SEL_(removeFromRunLoop:forMode:), NSRunLoop::currentRunLoop(), mode);
    }

    static void runFor(NSString* mode, std::chrono::milliseconds time) {
        auto deadline = RunLoopClock::now() + time;
        while (RunLoopClock::now() < deadline) NSRunLoop::mainRunLoop()->runMode_beforeDate(mode, deadline);
    }
    // Runs the default mode until `condition` holds or ten seconds pass; says whether it held.
    template <class F>
    static bool runUntil(F condition) {
        auto deadline = RunLoopClock::now() + 10s;
        while (!condition() && RunLoopClock::now() < deadline) runFor(NSDefaultRunLoopMode, 5ms);
        return condition();
    }

    Strong<TickCounter> target = makeObject<TickCounter>();

private:
    std::vector<Strong<CADisplayLink>> links_;
};

TEST_F(DisplayLinkTest, TicksOnlyWhileTheRunLoopRunsInAModeItWasAddedFor) {
    auto link = makeLink(target, SEL_(update));
    runFor(NSDefaultRunLoopMode, 100ms);
    EXPECT_EQ(target->updates, 0) << "not scheduled yet";

    add(link, NSDefaultRunLoopMode);
    runFor(UITrackingRunLoopMode, 300ms);
    EXPECT_EQ(target->updates, 0) << "the run loop ran in another mode";

    runFor(NSDefaultRunLoopMode, 1000ms);
    EXPECT_GE(target->updates, 3) << "about 60 a second; a loaded machine still manages a few";
    EXPECT_LE(target->updates, 70) << "never more than the display's rate";

    // Added for the common modes, it ticks in tracking mode too.
    auto common = makeLink(target, SEL_(tick:));
    add(common, NSRunLoopCommonModes);
    runFor(UITrackingRunLoopMode, 300ms);
    EXPECT_GE(target->linkTicks, 1);
}

TEST_F(DisplayLinkTest, SendsItselfToASelectorThatTakesAnArgument) {
    auto link = makeLink(target, SEL_(tick:));
    add(link, NSDefaultRunLoopMode);
    ASSERT_TRUE(runUntil([&] { return target->linkTicks >= 1; }));
    EXPECT_EQ(target->lastLink, link.get());
    EXPECT_EQ(target->updates, 0);
    EXPECT_GT(objc_msgSend<CFTimeInterval>(link.get(), SEL_(timestamp)), 0.0);
    EXPECT_GT(link->targetTimestamp(), link->timestamp());
    EXPECT_DOUBLE_EQ(objc_msgSend<CFTimeInterval>(link.get(), SEL_(duration)), 1.0 / 60);
}

TEST_F(DisplayLinkTest, APausedLinkDoesNotTickUntilResumed) {
    auto link = makeLink(target, SEL_(update));
    objc_msgSend<void>(link.get(), SEL_(setPaused:), YES);
    add(link, NSDefaultRunLoopMode);
    EXPECT_TRUE(objc_msgSend<BOOL>(link.get(), SEL_(isPaused)));
    EXPECT_TRUE(objc_msgSend<BOOL>(link.get(), SEL_(paused)));
    runFor(NSDefaultRunLoopMode, 300ms);
    EXPECT_EQ(target->updates, 0);

    objc_msgSend<void>(link.get(), SEL_(setPaused:), NO);
    EXPECT_TRUE(runUntil([&] { return target->updates >= 2; }));
}

TEST_F(DisplayLinkTest, TicksNoFasterThanThePreferredRate) {
    auto link = makeLink(target, SEL_(update));
    EXPECT_EQ(objc_msgSend<NSInteger>(link.get(), SEL_(preferredFramesPerSecond)), 0);
    objc_msgSend<void>(link.get(), SEL_(setPreferredFramesPerSecond:), NSInteger{10});
    EXPECT_EQ(link->preferredFramesPerSecond(), 10);
    add(link, NSDefaultRunLoopMode);
    runFor(NSDefaultRunLoopMode, 500ms);
    // Missed ticks are skipped, never made up, so a slow machine only ever sees fewer.
    EXPECT_LE(target->updates, 7);
    EXPECT_TRUE(runUntil([&] { return target->updates >= 1; }));
}

TEST_F(DisplayLinkTest, HoldsItsTargetOnlyWhileScheduled) {
    const intptr_t unheld = objc_retainCount(target);
    auto link = makeLink(target, SEL_(update));
    EXPECT_EQ(objc_retainCount(target), unheld) << "an unscheduled link does not hold its target";
    add(link, NSDefaultRunLoopMode);
    EXPECT_EQ(objc_retainCount(target), unheld + 1);
    add(link, UITrackingRunLoopMode);
    add(link, NSDefaultRunLoopMode);
    EXPECT_EQ(objc_retainCount(target), unheld + 1) << "one reference, however many modes";
    remove(link, NSDefaultRunLoopMode);
    EXPECT_EQ(objc_retainCount(target), unheld + 1) << "still scheduled in tracking mode";
    remove(link, UITrackingRunLoopMode);
    EXPECT_EQ(objc_retainCount(target), unheld) << "removed from its last mode";

    add(link, NSDefaultRunLoopMode);
    EXPECT_EQ(objc_retainCount(target), unheld + 1);
    objc_msgSend<void>(link.get(), SEL_(invalidate));
    EXPECT_EQ(objc_retainCount(target), unheld) << "invalidated";
    add(link, NSDefaultRunLoopMode);
    EXPECT_EQ(objc_retainCount(target), unheld) << "an invalidated link never schedules again";
    runFor(NSDefaultRunLoopMode, 100ms);
    EXPECT_EQ(target->updates, 0);
}

// A retained associated object shows when the link is freed: its count drops back.
const char sentinelKey = 0;

TEST_F(DisplayLinkTest, TheRunLoopHoldsAScheduledLinkUntilItLeavesFromItsOwnTick) {
    for (bool invalidate : {true, false}) {
        SCOPED_TRACE(invalidate ? "invalidated in its tick" : "removed in its tick");
        auto sentinel = makeObject<NSObject>();
        const intptr_t unheldTarget = objc_retainCount(target);
        CADisplayLink* scheduled = nullptr;  // not held by the test
        {
            auto link = CADisplayLink::displayLinkWithTarget_selector(target, SEL_(tick:));
            objc_setAssociatedObject(link, &sentinelKey, sentinel, OBJC_ASSOCIATION_RETAIN);
            add(link, NSDefaultRunLoopMode);
            scheduled = link;
        }
        EXPECT_EQ(objc_retainCount(sentinel), 2) << "only the run loop holds the link, and it stays";
        int ticksAfterLeaving = 0;
        bool left = false;
        target->onTick = [&](CADisplayLink* link) {
            if (left) {
                ticksAfterLeaving++;
                return;
            }
            left = true;
            if (invalidate)
                link->invalidate();
            else
                link->removeFromRunLoop_forMode(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
        };
        bool leftInTime = runUntil([&] { return left; });
        EXPECT_TRUE(leftInTime);
        if (!leftInTime) scheduled->invalidate();  // so it does not outlive the test
        runFor(NSDefaultRunLoopMode, 100ms);
        target->onTick = nullptr;
        EXPECT_EQ(ticksAfterLeaving, 0);
        EXPECT_EQ(objc_retainCount(sentinel), 1) << "the link was freed";
        EXPECT_EQ(objc_retainCount(target), unheldTarget) << "and let go of its target";
    }
}

TEST_F(DisplayLinkTest, ALinkScheduledNowhereGoesWithItsLastOwner) {
    auto sentinel = makeObject<NSObject>();
    auto link = CADisplayLink::displayLinkWithTarget_selector(target, SEL_(update));
    objc_setAssociatedObject(link, &sentinelKey, sentinel, OBJC_ASSOCIATION_RETAIN);
    add(link, NSDefaultRunLoopMode);
    remove(link, NSDefaultRunLoopMode);
    link = nil;
    EXPECT_EQ(objc_retainCount(sentinel), 1);
}

}  // namespace
