// A home screen either serves its device's colour channel or says why it cannot and ends with a
// failure: whatever the length of the device's path, beside another home screen, on a device path
// that is not a directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include <MRYIPC/ChannelSocket.h>
#include <apps/GlimmoraContract.h>

#include "DeviceProcesses.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;

class HomeScreenServing : public DeviceTest {
protected:
    // `glimmora --device DEVICE args...`, for a device other than the test's own.
    static ProcessResult on(const std::string& device, std::vector<std::string> args) {
        args.insert(args.begin(), {glimmoraCommand(), "--device", device});
        return runProcess(args, {}, std::chrono::seconds(60));
    }
    static int servingProcess(const std::string& device) {
        return device::ipc::servingProcess(device + "/ipc/" + device::kColourChannelName);
    }
};

// The channel's socket path is far beyond the 107 bytes of a socket address; the colours of a
// played clip still all reach the home screen and the lights.
TEST_F(HomeScreenServing, ADevicePathOfAnyLengthIsServed) {
    const std::string device = devicePath() + "/" + std::string(120, 'd') + "/device";
    ASSERT_EQ(on(device, {"home", "init"}).exitCode, 0);
    ASSERT_EQ(on(device, {"home", "select", "Living Room"}).exitCode, 0);
    BackgroundProcess homeScreen({glimmoraCommand(), "--device", device, "springboard"});
    ASSERT_TRUE(eventually([&] { return servingProcess(device) == homeScreen.pid(); })) << homeScreen.err();

    ProcessResult played = on(device, {"play", "--inline", writeClip("clip.mp4", "red*12")});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    std::smatch counts;
    ASSERT_TRUE(
        std::regex_search(played.err, counts, std::regex("glimmora play: (\\d+) colours sent, (\\d+) delivered")))
        << played.err;
    EXPECT_GT(std::stol(counts[1]), 0) << played.err;
    EXPECT_EQ(counts[1], counts[2]) << played.err;
    EXPECT_TRUE(healthy(homeScreen));
}

// A second home screen on a served device refuses at once, naming the first; once the first has
// ended, the next one serves.
TEST_F(HomeScreenServing, ASecondHomeScreenRefusesAndTheNextServesOnceTheFirstHasEnded) {
    ASSERT_EQ(glimmora({"home", "init"}).exitCode, 0);
    auto first = startHomeScreen();
    ASSERT_TRUE(eventually([&] { return servingProcess(devicePath()) == first->pid(); })) << first->err();

    ProcessResult second = glimmora({"springboard"});
    EXPECT_EQ(second.exitCode, 1) << second.err;
    EXPECT_THAT(second.err, HasSubstr("cannot serve its colour channel: process " + std::to_string(first->pid()) +
                                      " (glimmora --device " + devicePath()));
    EXPECT_TRUE(healthy(*first));

    EXPECT_EQ(first->stop().exitCode, 0);
    auto next = startHomeScreen();
    EXPECT_TRUE(eventually([&] { return servingProcess(devicePath()) == next->pid(); })) << next->err();
    EXPECT_TRUE(healthy(*next));
}

TEST_F(HomeScreenServing, AHomeScreenThatCannotServeSaysWhyAndFails) {
    const std::string file = devicePath() + "/not-a-directory";
    writeBytes(file, "x");
    ProcessResult onFile = on(file, {"springboard"});
    EXPECT_EQ(onFile.exitCode, 1) << onFile.err;
    // Refused before the home screen starts, as every command refuses a device it cannot use.
    EXPECT_THAT(onFile.err, HasSubstr(file + " is not a directory"));
}

}  // namespace
}  // namespace system_test
