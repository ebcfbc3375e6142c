// A home loaded while a home screen serves the device: the home screen keeps the home it started
// with, and `home load` says so instead of leaving the user to wonder why the lights ignore it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceProcesses.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class HomeLoad : public DeviceTest {};

TEST_F(HomeLoad, LoadingWhileAHomeScreenServesSaysToRestartIt) {
    const std::string file = devicePath() + "/test-home.json";
    Json lamp = accessory("Lamp", {colourBulb("Lamp", {true, 80, 60, 30})});
    writeBytes(file, homeOf("Flat", {room("Lounge", {std::move(lamp)})}).dump());
    EXPECT_THAT(glimmora({"home", "load", file}).err, Not(HasSubstr("home screen")));
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(eventually([&] { return serving(); })) << homeScreen->err();
    ProcessResult served = glimmora({"home", "load", file});
    EXPECT_EQ(served.exitCode, 0) << served.err;
    EXPECT_THAT(served.err, HasSubstr("a home screen is running on this device and keeps the home it started with"));
}

}  // namespace
}  // namespace system_test
