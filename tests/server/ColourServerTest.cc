// The colour message handler: reading the message, the hand-off to the light controller on the
// main queue, and what it does with messages the sender never makes.
#include <atomic>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include <Foundation/Foundation.h>
#include <UIKit/UIKit.h>

#include "globals/Globals.h"
#include "home/HomeManager.h"
#include "server/ColourServer.h"

namespace {

// A controller that records the colours it is given, on which thread, and can be made to throw.
class RecordingHomeManager : public HomeManager {
public:
    static Class objcClass() { return HomeManager::objcClass(); }
    void applyColors(const std::vector<Strong<UIColor>>& colours) override {
        onMainThread = NSThread::isMainThread();
        received.push_back(colours);
        if (raise) NSException::raise(NSInvalidArgumentException, "the controller fails");
    }
    std::vector<std::vector<Strong<UIColor>>> received;
    bool onMainThread = false;
    bool raise = false;
};

class ColourServer : public ::testing::Test {
protected:
    void SetUp() override {
        // Not initialised: no HomeKit and no catalogue, just the hand-off.
        controller_ = makeObject<RecordingHomeManager>();
        homeManager = controller_.get();
    }
    void TearDown() override { homeManager = nullptr; }

    void handle(const char* message) {
        colourServer::updateColors(nil, SEL_(_updateColors:), NSString::stringWithUTF8String(message).get());
    }
    std::vector<double> lastComponents() {
        if (controller_->received.empty() || controller_->received.back().size() != 1) return {};
        const CGFloat* c = CGColorGetComponents(controller_->received.back()[0]->CGColor());
        return {c[0], c[1], c[2], c[3]};
    }

    Strong<RecordingHomeManager> controller_;
};

TEST_F(ColourServer, ReadsFourFieldsAsSinglePrecisionNumbers) {
    handle("1.000000,0.501961,0.250980,1.000000");
    ASSERT_EQ(controller_->received.size(), 1u);
    EXPECT_EQ(lastComponents(), (std::vector<double>{1.0, double(0.501961f), double(0.250980f), 1.0}));

    handle("1,0,0,1,7");  // a fifth field is ignored
    EXPECT_EQ(lastComponents(), (std::vector<double>{1, 0, 0, 1}));
    handle("x,1,0,1");  // a field that is not a number reads 0
    EXPECT_EQ(lastComponents(), (std::vector<double>{0, 1, 0, 1}));
    handle("2,-1,0.5,1");  // passed on unclamped
    EXPECT_EQ(lastComponents(), (std::vector<double>{2, -1, 0.5, 1}));
}

TEST_F(ColourServer, AMissingMessageIsTransparentBlackAndABrokenOneIsIgnored) {
    colourServer::updateColors(nil, SEL_(_updateColors:), nil);
    EXPECT_EQ(lastComponents(), (std::vector<double>{0, 0, 0, 0}));

    size_t handled = controller_->received.size();
    handle("");
    handle("1,0,0");
    colourServer::updateColors(nil, SEL_(_updateColors:), NSNumber::numberWithInteger(3).get());
    EXPECT_EQ(controller_->received.size(), handled);

    // Too large for a float: the colour is passed on as read, and the controller copes.
    handle("1e39,0,0,1");
    ASSERT_EQ(controller_->received.size(), handled + 1);
    EXPECT_TRUE(std::isinf(lastComponents()[0]));
}

TEST_F(ColourServer, OffTheMainThreadTheHandlerWaitsForTheHandOff) {
    std::atomic<bool> returned{false};
    std::thread channelThread([&] {
        handle("0.5,0.5,0.5,1");
        // The controller has run by the time the handler returns.
        EXPECT_EQ(controller_->received.size(), 1u);
        returned = true;
    });
    // Nothing reaches the controller until the main queue runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned);
    EXPECT_TRUE(controller_->received.empty());
    auto deadline = RunLoopClock::now() + std::chrono::seconds(10);
    while (!returned && RunLoopClock::now() < deadline)
        NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode,
                                                     RunLoopClock::now() + std::chrono::milliseconds(10));
    channelThread.join();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(controller_->onMainThread);
}

TEST_F(ColourServer, AnExceptionFromTheControllerIsSwallowed) {
    controller_->raise = true;
    EXPECT_NO_THROW(handle("1,1,1,1"));
    controller_->raise = false;
    handle("0,0,1,1");
    EXPECT_EQ(controller_->received.size(), 2u);
    EXPECT_EQ(lastComponents(), (std::vector<double>{0, 0, 1, 1}));
}

TEST_F(ColourServer, WithoutAControllerTheColourIsDropped) {
    homeManager = nullptr;
    EXPECT_NO_THROW(handle("1,1,1,1"));
    EXPECT_TRUE(controller_->received.empty());
}

}  // namespace
