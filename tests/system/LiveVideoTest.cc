// Live video across real processes: `glimmora play --live` on a private X screen (Xvfb) or a filter
// graph, the home screen writing what it sees to the lights; live sources that cannot be opened or
// that go away; `glimmora demo --live`.
#include <unistd.h>
#include <csignal>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <apps/VideoApp.h>

#include "DeviceProcesses.h"
#include "support/XScreen.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;

constexpr int kScreenWidth = 320, kScreenHeight = 240;

const LightState kLampAtFirst{true, 40, 40, 200};
const LightState kDeskAtFirst{true, 55, 45, 120};

Json flat() {
    return homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", kLampAtFirst)})}),
                           room("Study", {accessory("Desk", {colourBulb("Desk", kDeskAtFirst)})})});
}

class LiveVideo : public DeviceTest {
protected:
    void SetUp() override { installHome(flat(), {"Lounge"}); }

    // `glimmora play --live SOURCE OPTIONS...` started in the background.
    std::unique_ptr<BackgroundProcess> playLive(const std::string& source, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {"play", "--live", source};
        args.insert(args.end(), options.begin(), options.end());
        return start(args);
    }
};

class LiveScreen : public LiveVideo {
protected:
    void SetUp() override {
        if (!XScreen::available()) GTEST_SKIP() << "Xvfb or xlogo is not installed (Debian: xvfb, x11-apps)";
        LiveVideo::SetUp();
        screen_ = std::make_unique<XScreen>(kScreenWidth, kScreenHeight);
        ASSERT_FALSE(screen_->display().empty()) << "no X screen could be started";
    }
    std::unique_ptr<BackgroundProcess> paint(const std::string& colour, int x, int y, int width, int height) {
        auto window = screen_->paint(colour, x, y, width, height);
        EXPECT_TRUE(window) << "xlogo did not show a " << colour << " window";
        return window;
    }
    std::unique_ptr<XScreen> screen_;
};

TEST_F(LiveScreen, TheSelectedRoomsLightsFollowEachColourOnTheScreen) {
    auto homeScreen = startHomeScreen();
    auto red = paint("#e02020", 0, 0, kScreenWidth, kScreenHeight);
    auto app = playLive("x11:" + screen_->display(), {"--framerate", "15"});
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0xe0, 0x20, 0x20))) << app->err();
    // Each new window covers the one before: the screen changes colour.
    auto green = paint("#20c040", 0, 0, kScreenWidth, kScreenHeight);
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0x20, 0xc0, 0x40))) << app->err();
    auto blue = paint("#3040e0", 0, 0, kScreenWidth, kScreenHeight);
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0x30, 0x40, 0xe0))) << app->err();
    EXPECT_EQ(light("Desk"), kDeskAtFirst) << "a room that is not selected never changes";

    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, HasSubstr("showing x11:" + screen_->display() + " live (320x240, 15 fps, raw pictures)"));
    EXPECT_THAT(played.err, ::testing::ContainsRegex("took [1-9][0-9]* frames from x11:"));
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_TRUE(healthy(*homeScreen));
}

TEST_F(LiveScreen, ARegionFollowsTheColourInsideItOnly) {
    auto homeScreen = startHomeScreen();
    auto left = paint("#e02020", 0, 0, kScreenWidth / 2, kScreenHeight);
    auto right = paint("#3040e0", kScreenWidth / 2, 0, kScreenWidth / 2, kScreenHeight);
    auto app = playLive("x11:" + screen_->display() + "+160,0", {"--size", "160x240", "--framerate", "15"});
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0x30, 0x40, 0xe0))) << app->err();
    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, HasSubstr("live (160x240,"));
}

TEST_F(LiveScreen, AnXServerThatGoesAwayEndsTheAppAndSaysSo) {
    auto homeScreen = startHomeScreen();
    auto red = paint("#e02020", 0, 0, kScreenWidth, kScreenHeight);
    auto app = playLive("x11:" + screen_->display(), {"--framerate", "15"});
    ASSERT_TRUE(eventuallyShows("Lamp", lightColourOf(0xe0, 0x20, 0x20))) << app->err();
    screen_->kill();
    EXPECT_TRUE(eventually([&] { return !app->running(); })) << app->err();
    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, device::kLiveSourceLost) << played.err;
    EXPECT_THAT(played.err, HasSubstr("glimmora play: the source went away: x11:" + screen_->display()));
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_TRUE(healthy(*homeScreen));
}

// At the slowest rate the next grab is 10 s away; a stop signal must not wait for it, in the app
// or in the demo, which would otherwise kill the app it is waiting for.
TEST_F(LiveScreen, AStopSignalEndsTheAppAtOnceWhileTheNextFrameIsSecondsAway) {
    const std::string ready = "SIGINT or SIGTERM ends it";
    for (int signal : {SIGINT, SIGTERM}) {
        auto app = playLive("x11:" + screen_->display(), {"--framerate", "0.1"});
        ASSERT_TRUE(eventually([&] { return app->err().find(ready) != std::string::npos || !app->running(); }));
        ASSERT_THAT(app->err(), HasSubstr(ready));
        kill(app->pid(), signal);
        EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !app->running(); }, std::chrono::seconds(5)))
            << "still running 5 s after signal " << signal;
        ProcessResult played = app->stop(SIGKILL);
        EXPECT_EQ(played.exitCode, 0) << played.err;
        EXPECT_THAT(played.err, HasSubstr(" frames from x11:")) << "the app ends with its report";
    }

    auto demo = start({"demo", "--live", "x11:" + screen_->display(), "--framerate", "0.1"});
    ASSERT_TRUE(eventually([&] { return readBytes(devicePath() + "/demo-app.log").find(ready) != std::string::npos; }))
        << demo->out() << demo->err();
    ProcessResult stopped = demo->stop(SIGINT);
    EXPECT_EQ(stopped.exitCode, 130) << stopped.out << stopped.err;
    EXPECT_THAT(stopped.err, ::testing::Not(HasSubstr("the video app"))) << "the app ended well";
}

// A colour source whose colour changes, and then ends: the same path as the screen.
TEST_F(LiveVideo, AFilterGraphIsALiveSourceToo) {
    auto homeScreen = startHomeScreen();
    // Red long enough to be seen on a loaded machine, then blue to the end.
    auto app = playLive("lavfi:color=c=0xe02020:s=64x48:r=10:d=8[a];color=c=0x3040e0:s=64x48:r=10:d=4[b];[a][b]concat");
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0xe0, 0x20, 0x20))) << app->err();
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0x30, 0x40, 0xe0))) << app->err();
    EXPECT_TRUE(eventually([&] { return !app->running(); })) << "the app ends with its source";
    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, HasSubstr(" live (64x48, "));
    EXPECT_THAT(played.err, HasSubstr("[a][b]concat ended"));
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_TRUE(healthy(*homeScreen));
}

// Nothing starts for a source that cannot be opened: the app names the source and the reason and
// exits non-zero before presenting any player.
TEST_F(LiveVideo, ASourceThatCannotBeOpenedIsRefusedClearly) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    // No X server on a display whose socket does not exist.
    std::string freeDisplay;
    for (int number = 400; number < 500 && freeDisplay.empty(); ++number)
        if (access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) != 0)
            freeDisplay = ":" + std::to_string(number);
    const std::vector<Case> cases = {
        {{"--live", "x11:" + freeDisplay}, "cannot open x11:" + freeDisplay + ": "},
        {{"--live", "v4l2:" + devicePath() + "/no-such-video"},
         "cannot open v4l2:" + devicePath() + "/no-such-video: "},
        {{"--live", "v4l2:/dev/null"}, "cannot open v4l2:/dev/null: "},
        {{"--live", "lavfi:nosuchfilter=1"}, "cannot open lavfi:nosuchfilter=1: "},
        {{"--live", "x11:otherhost:0"}, "is not a display of this machine"},
        {{"--live", "webcam:/dev/video0"}, "unknown kind \"webcam\""},
        {{"--live", "lavfi:color", "--size", "64x48"}, "--size picks a screen region"},
        {{"--live", "v4l2:/dev/video0", "--input-size", "64by48"}, "--input-size \"64by48\" is not WxH"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"play"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProcessResult played = glimmora(args);
        EXPECT_NE(played.exitCode, 0) << c.args[1];
        EXPECT_THAT(played.err, HasSubstr(c.message)) << c.args[1];
        EXPECT_THAT(played.err, ::testing::Not(HasSubstr(" live ("))) << "no player for " << c.args[1];
    }
}

TEST_F(LiveVideo, TheDemoFollowsALiveSource) {
    ProcessResult demo =
        glimmora({"demo", "--live", "lavfi:color=c=0x20c040:s=64x48:r=10:d=3"}, std::chrono::seconds(90));
    ASSERT_EQ(demo.exitCode, 0) << demo.out << demo.err;
    EXPECT_THAT(demo.out, HasSubstr("playing lavfi:color=c=0x20c040:s=64x48:r=10:d=3 live"));
    EXPECT_THAT(demo.out, HasSubstr("latency from frame to write: median"));
    EXPECT_TRUE(showsColour(light("Lamp"), lightColourOf(0x20, 0xc0, 0x40)));
}

}  // namespace
}  // namespace system_test
