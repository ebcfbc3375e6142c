// A home loaded while a home screen serves the device: the home screen picks it up at once, so a
// new room's lights follow the next clip with no restart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceProcesses.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class HomeLoad : public DeviceTest {};

TEST_F(HomeLoad, ANewRoomLoadedWhileTheHomeScreenRunsFollowsTheNextClip) {
    const LightState lampAtFirst{false, 80, 60, 30};
    installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", lampAtFirst)})})}), {});
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(eventually([&] { return serving(); })) << homeScreen->err();

    installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", lampAtFirst)})}),
                                room("Study", {accessory("Desk", {colourBulb("Desk", {false, 10, 10, 10})})})}),
                {"Study"});
    ProcessResult played = glimmora({"play", "--inline", writeClip("clip.mp4", "red*6,#20c0e0*12")});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_THAT(played.err, Not(HasSubstr("restart")));
    EXPECT_TRUE(eventuallyShows("Desk", lightColourOf(0x20, 0xc0, 0xe0)));
    EXPECT_EQ(light("Lamp"), lampAtFirst) << "the lounge is not selected";
    EXPECT_TRUE(healthy(*homeScreen));
}

}  // namespace
}  // namespace system_test
