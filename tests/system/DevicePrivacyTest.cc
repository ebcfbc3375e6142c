// After a home screen and a video app have run, everything the device wrote is its user's alone:
// directories 0700, files and sockets 0600, even with a umask that lets everything through; the
// device directory the user made keeps its own mode.
#include <sys/stat.h>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include <apps/GlimmoraContract.h>

#include "DeviceProcesses.h"

namespace system_test {
namespace {

namespace fs = std::filesystem;

// The test's own inputs, written into the device directory by the test rather than the device.
const std::set<std::string> kTestInputs = {"test-home.json", "clip.mp4"};

class DevicePrivacy : public DeviceTest {
protected:
    void SetUp() override { savedUmask_ = umask(0); }
    void TearDown() override { umask(savedUmask_); }

    struct Entry {
        bool directory;
        unsigned mode;
    };
    // Every entry under the device directory, by path relative to it ("" for the directory itself).
    std::map<std::string, Entry> entries() const {
        std::map<std::string, Entry> found;
        std::error_code error;
        found[""] = {true, static_cast<unsigned>(fs::status(devicePath(), error).permissions())};
        for (auto it = fs::recursive_directory_iterator(devicePath(), error); it != fs::recursive_directory_iterator();
             it.increment(error)) {
            std::string relative = fs::relative(it->path(), devicePath()).string();
            if (kTestInputs.count(relative)) continue;
            // Files come and go while the processes run (a log and its index are removed at close).
            fs::file_status status = fs::symlink_status(it->path(), error);
            if (!error) found[relative] = {fs::is_directory(status), static_cast<unsigned>(status.permissions())};
        }
        return found;
    }

private:
    mode_t savedUmask_ = 0;
};

}  // namespace

TEST_F(DevicePrivacy, EverythingTheDeviceWroteIsPrivateAfterAHomeScreenAndAVideoAppRan) {
    ASSERT_EQ(chmod(devicePath().c_str(), 0755), 0);
    installHome(homeOf("Flat", {room("Lounge", {accessory("Lamp", {colourBulb("Lamp", {true, 80, 60, 30})})})}),
                {"Lounge"});
    const std::string clip = writeClip("clip.mp4", "red*10,blue*15");
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    ProcessResult played = glimmora({"play", clip});
    ASSERT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(eventuallyShows("Lamp", lightColourOf(0, 0, 255)));

    // Looked at while the home screen still has its databases and its channel open.
    std::map<std::string, Entry> found = entries();
    const std::string channel = std::string("ipc/") + device::kColourChannelName;
    for (const std::string& expected :
         std::vector<std::string>{"", "ipc", channel, "preferences.sqlite3", "accessories.sqlite3", "home.json"})
        EXPECT_TRUE(found.count(expected)) << expected << " is missing";
    // The device directory was the user's before, so it keeps the mode the user gave it.
    EXPECT_EQ(found[""].mode, 0755u);
    found.erase("");
    for (const auto& [path, entry] : found)
        EXPECT_EQ(entry.mode, entry.directory ? 0700u : 0600u) << path << " has mode " << std::oct << entry.mode;
    EXPECT_TRUE(homeScreen->running()) << homeScreen->err();
}

}  // namespace system_test
