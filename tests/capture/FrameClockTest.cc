// The full-screen player's frame clock: started on appearance, stopped on disappearance and
// deallocation, and on every tick with "Active" on one message made from that tick's snapshot.
#include <cmath>
#include <fstream>
#include <sstream>

#include <Foundation/FoundationDevice.h>
#include <Foundation/NSLog.h>
#include <objc/ObjcDevice.h>

#include "CaptureFixture.h"

namespace {

std::string systemLogText() {
    std::ifstream file(device::systemLogPath());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(FrameClockTest, AppearingStartsALinkThatSendsTheColourOfThePlayerView) {
    auto player = makePlayer(64, 128, 255);
    EXPECT_EQ(displayLinkOf(player), nil);
    objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);

    auto* link = objc_cast<CADisplayLink>(displayLinkOf(player));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->preferredFramesPerSecond(), 60);
    EXPECT_FALSE(link->isPaused());
    ASSERT_TRUE(runUntil([] { return server->count() >= 3; })) << server->count();
    for (const std::string& message : server->messages()) EXPECT_EQ(message, "1.000000,0.501961,0.250980,1.000000");

    objc_msgSend<void>(player.get(), SEL_(viewWillDisappear:), YES);
}

TEST_F(FrameClockTest, DisappearingStopsAndInvalidatesTheLinkAndLetsThePlayerGo) {
    std::atomic<bool> gone{false};
    {
        auto player = makePlayer(0, 0, 255);
        watchDeallocation(player, &gone);

        objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
        Strong<CADisplayLink> link(objc_cast<CADisplayLink>(displayLinkOf(player)));
        ASSERT_TRUE(runUntil([] { return server->count() >= 1; }));

        objc_msgSend<void>(player.get(), SEL_(viewWillDisappear:), YES);
        EXPECT_EQ(displayLinkOf(player), nil);
        EXPECT_TRUE(link->isPaused());
        EXPECT_FALSE(link->isValid());
        // The second call finds no link and does nothing.
        objc_msgSend<void>(player.get(), SEL_(viewDidDisappear:), YES);
        EXPECT_EQ(displayLinkOf(player), nil);

        size_t sent = server->count();
        runFor(std::chrono::milliseconds(200));
        EXPECT_LE(server->count(), sent + 1);  // at most one message still on its way
    }
    // Nothing holds the player any more: it is deallocated.
    EXPECT_TRUE(gone);
}

TEST_F(FrameClockTest, APlayerHeldOnlyByItsLinkSurvivesItsOwnDisappearance) {
    std::atomic<bool> gone{false};
    AVFullScreenViewController* player = makePlayer(0, 0, 255).detach();
    watchDeallocation(player, &gone);
    objc_msgSend<void>(player, SEL_(viewDidAppear:), YES);
    // The app lets go while the player is on screen: only the scheduled link holds it now.
    objc_release(player);
    EXPECT_FALSE(gone);
    objc_msgSend<void>(player, SEL_(viewWillDisappear:), YES);
    EXPECT_TRUE(gone);
}

TEST_F(FrameClockTest, AppearingAgainReplacesTheLinkSoOnlyOneTicks) {
    std::atomic<bool> gone{false};
    {
        auto player = makePlayer(0, 255, 0);
        watchDeallocation(player, &gone);

        objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
        Strong<CADisplayLink> first(objc_cast<CADisplayLink>(displayLinkOf(player)));
        objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
        auto* second = objc_cast<CADisplayLink>(displayLinkOf(player));
        EXPECT_NE(second, first.get());
        EXPECT_FALSE(first->isValid());
        EXPECT_TRUE(second->isValid());

        objc_msgSend<void>(player.get(), SEL_(viewDidDisappear:), YES);
    }
    // The replaced link no longer holds the player.
    EXPECT_TRUE(gone);
}

TEST_F(FrameClockTest, DeallocationTakesTheLinkOffTheRunLoopWithoutInvalidatingIt) {
    Strong<CADisplayLink> link;
    std::atomic<bool> gone{false};
    {
        auto player = makePlayer(0, 0, 0);
        watchDeallocation(player, &gone);
        objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
        link = objc_cast<CADisplayLink>(displayLinkOf(player));
        // Taken off the run loop by someone else, the link no longer holds the player, which goes
        // while the link is still in its property.
        link->removeFromRunLoop_forMode(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    }
    EXPECT_TRUE(gone);
    EXPECT_TRUE(link->isPaused());
    EXPECT_TRUE(link->isValid());
    EXPECT_EQ(objc_retainCount(link), 1);  // the test's reference is the only one left
}

TEST_F(FrameClockTest, ActiveOffSendsNothingAndOnAgainResumesAtTheNextTick) {
    auto player = makePlayer(255, 0, 0);
    setActive(false);
    objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
    runFor(std::chrono::milliseconds(300));
    EXPECT_EQ(server->count(), 0u);
    // The clock itself keeps going.
    EXPECT_NE(displayLinkOf(player), nil);

    setActive(true);
    EXPECT_TRUE(runUntil([] { return server->count() >= 2; }));
    EXPECT_EQ(server->messages().front(), "0.000000,0.000000,1.000000,1.000000");
    objc_msgSend<void>(player.get(), SEL_(viewDidDisappear:), YES);
}

TEST_F(FrameClockTest, APlayerViewWithNoAreaSendsNothing) {
    auto player = makePlayer(255, 255, 255);
    player->playerLayerView()->setBounds(CGRectZero);
    objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
    runFor(std::chrono::milliseconds(300));
    EXPECT_EQ(server->count(), 0u);
    objc_msgSend<void>(player.get(), SEL_(viewDidDisappear:), YES);
}

// A size that is not a number never reaches an image context (which would refuse it with a log
// line on every tick); the tick sends nothing, as for a picture that cannot be made at all.
TEST_F(FrameClockTest, APlayerViewOfASizeThatIsNotANumberAsksForNoContextAndSendsNothing) {
    const CGFloat nan = std::nan(""), infinity = INFINITY;
    for (CGSize size : {CGSizeMake(nan, 390), CGSizeMake(844, nan), CGSizeMake(infinity, 390)}) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        {
            std::lock_guard hold(server->lock);
            server->received.clear();
        }
        const std::string logBefore = systemLogText();
        auto player = makePlayer(255, 255, 255);
        player->playerLayerView()->setBounds(CGRect{{0, 0}, size});
        objc_msgSend<void>(player.get(), SEL_(viewDidAppear:), YES);
        runFor(std::chrono::milliseconds(200));
        EXPECT_EQ(server->count(), 0u);
        EXPECT_EQ(systemLogText().substr(logBefore.size()).find("UIGraphicsBeginImageContext"), std::string::npos);
        objc_msgSend<void>(player.get(), SEL_(viewDidDisappear:), YES);
    }
}

}  // namespace
