// A device on a disk that fills up while its processes run: nothing dies, the live view says which
// process runs without its activity record, and once there is room again the lights follow anew.
#include <unistd.h>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "DeviceProcesses.h"
#include "support/PrivateMount.h"

namespace system_test {
namespace {

// Writes `path` until the disk holding it is full (a test disk holds far less than 64 MB).
bool fillDisk(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    std::string chunk(16 * 1024, 'x');
    for (int i = 0; i < 4096 && out.write(chunk.data(), chunk.size()).flush();) ++i;
    return out.fail();
}

class FullDisk : public DeviceTest {};

TEST_F(FullDisk, TheHomeScreenRunsOnWithoutItsRecordAndFollowsAgainOnceThereIsRoom) {
    PrivateMount disk(devicePath(), 1 << 20);
    if (!disk.problem().empty()) GTEST_SKIP() << "no small disk to fill here: " << disk.problem();
    installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", {true, 80, 60, 30})})})}),
                {"Lounge"});
    const std::string blue = writeClip("blue.mp4", "blue*10");
    const std::string red = writeClip("red.mp4", "red*10");
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(eventually([&] { return serving(); })) << homeScreen->err();

    const std::string filler = devicePath() + "/filler";
    ASSERT_TRUE(fillDisk(filler));
    ProcessResult played = glimmora({"play", blue});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(eventually([&] { return homeScreen->err().find("without an activity record") != std::string::npos; }))
        << homeScreen->err();
    ASSERT_TRUE(homeScreen->running()) << homeScreen->err();

    // The live view, written to a pipe, names the process it cannot count.
    auto view = start({"lights"});
    const std::string missing = "activity record missing for process " + std::to_string(homeScreen->pid());
    EXPECT_TRUE(eventually([&] { return view->out().find(missing) != std::string::npos; })) << view->out();
    view->stop();

    ASSERT_EQ(unlink(filler.c_str()), 0);
    played = glimmora({"play", red});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(255, 0, 0)));
    EXPECT_TRUE(homeScreen->running()) << homeScreen->err();
}

}  // namespace
}  // namespace system_test
