// Following a Wayland screen across real processes: `glimmora play --live portal` on a private
// GNOME desktop (WaylandDesktop.h), the home screen writing what it sees to the lights; the desktop's
// dialog approved once and then remembered, cancelled, and a compositor that goes away.
#include <sys/stat.h>
#include <csignal>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <apps/VideoApp.h>

#include "../system/DeviceProcesses.h"
#include "WaylandDesktop.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;

constexpr int kWidth = 1280, kHeight = 720;
const LightState kLampAtFirst{true, 40, 40, 200};
const LightState kDeskAtFirst{true, 55, 45, 120};
const std::string kShowing = "glimmora play: com.apple.mobilesafari";

class WaylandScreen : public DeviceTest {
protected:
    void SetUp() override {
        if (const std::string missing = WaylandDesktop::missing(); !missing.empty())
            GTEST_SKIP() << missing << " is not installed (Debian: mutter, pipewire, wireplumber, "
                         << "xdg-desktop-portal, xdg-desktop-portal-gnome, dbus)";
        installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", kLampAtFirst)})}),
                                    room("Study", {accessory("Desk", {colourBulb("Desk", kDeskAtFirst)})})}),
                    {"Lounge"});
        desktop_ = std::make_unique<WaylandDesktop>(kWidth, kHeight);
        ASSERT_EQ(desktop_->failure(), "") << desktop_->logs();
    }
    void TearDown() override { desktop_.reset(); }

    std::unique_ptr<BackgroundProcess> paint(const std::string& colour) {
        auto window = desktop_->paint(colour);
        EXPECT_TRUE(window) << "no " << colour << " window showed\n" << desktop_->logs();
        return window;
    }
    // `glimmora play --live portal ...`, with the dialog answered when `answer` is given.
    std::unique_ptr<BackgroundProcess> playPortal(std::optional<bool> answer, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {"play", "--live", "portal"};
        args.insert(args.end(), options.begin(), options.end());
        auto app = start(args);
        if (answer) {
            EXPECT_TRUE(desktop_->answerShareDialog(*answer)) << "no dialog showed\n" << app->err();
        }
        return app;
    }
    bool showing(BackgroundProcess& app) {
        return eventually([&] { return app.err().find(" live (") != std::string::npos || !app.running(); }) &&
               app.err().find(" live (") != std::string::npos;
    }

    std::unique_ptr<WaylandDesktop> desktop_;
};

TEST_F(WaylandScreen, TheLightsFollowTheScreenAndTheSecondRunAsksNothing) {
    auto homeScreen = startHomeScreen();
    auto red = paint("#e02020");
    auto app = playPortal(true);
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0xe0, 0x20, 0x20))) << app->err() << desktop_->logs();
    auto green = paint("#20c040");
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0x20, 0xc0, 0x40))) << app->err();
    EXPECT_EQ(light("Desk"), kDeskAtFirst) << "a room that is not selected never changes";
    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, HasSubstr("showing portal:monitor live (1280x720, "));
    EXPECT_TRUE(onlyPlayerReports(played.err));

    // The desktop's token, kept for this user alone, lets the next run share the screen unasked.
    struct stat token {};
    ASSERT_EQ(stat((devicePath() + "/screencast-monitor.token").c_str(), &token), 0);
    EXPECT_EQ(token.st_mode & 0777, 0600u);
    auto blue = paint("#3040e0");
    auto again = playPortal(std::nullopt);
    EXPECT_TRUE(showing(*again)) << again->err() << desktop_->logs();
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0x30, 0x40, 0xe0))) << again->err();
    EXPECT_EQ(again->stop(SIGTERM).exitCode, 0);
    EXPECT_TRUE(healthy(*homeScreen));
}

// A refused share and a missing node stop the app before it starts, with the reason.
TEST_F(WaylandScreen, ACancelledDialogOrAMissingNodeIsAClearError) {
    auto red = paint("#e02020");
    auto app = playPortal(false, {"--forget-screen"});
    EXPECT_TRUE(eventually([&] { return !app->running(); }));
    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, 1) << played.err;
    EXPECT_THAT(played.err, HasSubstr("cannot open portal:monitor: the screen share was cancelled"));
    EXPECT_THAT(played.err, ::testing::Not(HasSubstr(" live (")));

    ProcessResult missing = glimmora({"play", "--live", "pipewire:no-such-node"});
    EXPECT_EQ(missing.exitCode, 1) << missing.err;
    EXPECT_THAT(missing.err, HasSubstr("cannot open pipewire:no-such-node: no PipeWire node \"no-such-node\""));
}

TEST_F(WaylandScreen, ACompositorThatGoesAwayEndsTheAppAndSaysSo) {
    auto homeScreen = startHomeScreen();
    auto red = paint("#e02020");
    auto app = playPortal(true);
    ASSERT_TRUE(eventuallyShows("Lamp", lightColourOf(0xe0, 0x20, 0x20))) << app->err() << desktop_->logs();
    desktop_->killCompositor();
    EXPECT_TRUE(eventually([&] { return !app->running(); })) << app->err();
    ProcessResult played = app->stop(SIGTERM);
    EXPECT_EQ(played.exitCode, device::kLiveSourceLost) << played.err;
    EXPECT_THAT(played.err, HasSubstr("glimmora play: the source went away: portal:monitor stopped giving frames"));
    EXPECT_TRUE(onlyPlayerReports(played.err));
    EXPECT_TRUE(healthy(*homeScreen));
}

}  // namespace
}  // namespace system_test
