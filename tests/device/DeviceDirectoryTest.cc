// The device directory a user names is used as it is found: Glimmora changes the mode only of what
// it makes, refuses a directory others can write to, follows no symbolic link to change a mode,
// reads a device on a read-only disk, and says so when a store cannot be read or written.
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Foundation/Foundation.h>
#include <HomeKit/AccessoryStore.h>

#include "support/PrivateMount.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// -1 when `path` is missing.
int modeOf(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

ProcessResult glimmoraOn(const std::string& device, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {glimmoraCommand(), "--device", device});
    return runProcess(arguments);
}

class DeviceDirectory : public ::testing::Test {
protected:
    std::string at(const std::string& name) const { return scratch_.path() + "/" + name; }
    TempDirectory scratch_;
};

}  // namespace

TEST_F(DeviceDirectory, AnExistingDirectoryKeepsItsModeAndOneOthersCanWriteIsRefused) {
    struct Case {
        int mode;
        bool refused;
    };
    for (Case c : {Case{01777, true}, Case{0775, true}, Case{0755, false}, Case{0500, false}}) {
        const std::string device = at("mode-" + std::to_string(c.mode));
        ASSERT_EQ(mkdir(device.c_str(), 0700), 0);
        ASSERT_EQ(chmod(device.c_str(), c.mode), 0);
        for (auto arguments : std::vector<std::vector<std::string>>{{"prefs", "read", "com.tovek.glimmora"},
                                                                    {"home", "init"}}) {
            ProcessResult result = glimmoraOn(device, arguments);
            EXPECT_EQ(modeOf(device), c.mode) << std::oct << c.mode << " changed by " << arguments[0];
            if (!c.refused) continue;
            EXPECT_NE(result.exitCode, 0) << arguments[0];
            EXPECT_THAT(result.err, HasSubstr(device + " (mode " + (c.mode == 01777 ? "1777" : "0775") +
                                              ") can be written by other users"));
        }
    }
    // What Glimmora makes itself is private, parents and all.
    const std::string made = at("new/device");
    ProcessResult initialised = glimmoraOn(made, {"home", "init"});
    EXPECT_EQ(initialised.exitCode, 0) << initialised.err;
    EXPECT_EQ(modeOf(at("new")), 0700);
    EXPECT_EQ(modeOf(made), 0700);
}

TEST_F(DeviceDirectory, AStoreThatIsASymbolicLinkIsRefusedAndItsTargetKeepsItsMode) {
    const std::string device = at("device");
    ASSERT_EQ(mkdir(device.c_str(), 0700), 0);
    const std::string target = at("elsewhere");
    std::ofstream(target) << "not a database";
    ASSERT_EQ(chmod(target.c_str(), 0644), 0);
    ASSERT_EQ(symlink(target.c_str(), (device + "/preferences.sqlite3").c_str()), 0);
    ProcessResult result = glimmoraOn(device, {"prefs", "read", "com.tovek.glimmora"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_THAT(result.err, HasSubstr("preferences.sqlite3 is a symbolic link, which is not followed"));
    EXPECT_EQ(modeOf(target), 0644);
}

TEST_F(DeviceDirectory, EmptyDeviceNameIsRefusedByEveryCommand) {
    for (auto arguments : std::vector<std::vector<std::string>>{
             {"prefs", "read", "com.tovek.glimmora"}, {"home", "show"}, {"springboard"}, {"lights"}}) {
        std::vector<std::string> argv = {glimmoraCommand(), arguments[0], "--device", ""};
        argv.insert(argv.end(), arguments.begin() + 1, arguments.end());
        // Were the name taken for the default device, that would be here, not in the user's data.
        ProcessResult result = runProcess(argv, {{"XDG_DATA_HOME", scratch_.path()}}, std::chrono::seconds(10));
        EXPECT_NE(result.exitCode, 0) << arguments[0];
        EXPECT_EQ(modeOf(at("glimmora")), -1) << arguments[0] << " used the default device";
        EXPECT_THAT(result.err, HasSubstr("an empty name is not a device directory")) << arguments[0];
    }
}

TEST_F(DeviceDirectory, ADeviceOnAReadOnlyDiskIsReadAndWritesSayWhyTheyFail) {
    const std::string device = at("device");
    ASSERT_EQ(mkdir(device.c_str(), 0700), 0);
    PrivateMount disk(device, 4 << 20);
    if (!disk.problem().empty()) GTEST_SKIP() << "no disk to make read-only here: " << disk.problem();
    ASSERT_EQ(glimmoraOn(device, {"home", "init"}).exitCode, 0);
    ASSERT_EQ(glimmoraOn(device, {"prefs", "write", "com.tovek.glimmora", "Enabled", "NO", "--bool"}).exitCode, 0);
    ASSERT_EQ(disk.makeReadOnly(), "");

    ProcessResult read = glimmoraOn(device, {"prefs", "read", "com.tovek.glimmora", "Enabled"});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, "NO\n");
    ProcessResult shown = glimmoraOn(device, {"home", "show"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.err, "");
    ProcessResult written = glimmoraOn(device, {"prefs", "write", "com.tovek.glimmora", "Enabled", "YES", "--bool"});
    EXPECT_NE(written.exitCode, 0);
    EXPECT_THAT(written.err, HasSubstr("is read-only"));
    EXPECT_THAT(written.err, Not(HasSubstr("No such file")));
}

TEST_F(DeviceDirectory, ShowSaysTheRoomSelectionCannotBeReadFromADamagedStore) {
    const std::string device = at("device");
    ASSERT_EQ(glimmoraOn(device, {"home", "init"}).exitCode, 0);
    ASSERT_EQ(glimmoraOn(device, {"home", "select", "Kitchen"}).exitCode, 0);
    std::ofstream(device + "/preferences.sqlite3", std::ios::trunc) << std::string(8192, '\x07');
    ProcessResult shown = glimmoraOn(device, {"home", "show"});
    EXPECT_NE(shown.exitCode, 0);
    EXPECT_THAT(shown.err, HasSubstr("the room selection cannot be read"));
    EXPECT_THAT(shown.out, HasSubstr("\"Kitchen\""));
    EXPECT_THAT(shown.out, HasSubstr("selection unknown"));
    EXPECT_THAT(shown.out, Not(HasSubstr("not selected")));
}

TEST_F(DeviceDirectory, LoadRefusesWhatIsNotARegularFileWithoutWaitingForIt) {
    const std::string fifo = at("home.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ProcessResult loaded = glimmoraOn(at("device"), {"home", "load", fifo});
    EXPECT_FALSE(loaded.timedOut) << "home load waited for a writer";
    EXPECT_NE(loaded.exitCode, 0);
    EXPECT_THAT(loaded.err, HasSubstr(fifo + " is not a regular file"));
}

// Written once per colour, the accessory state's log must not grow to SQLite's 4 MB default.
TEST_F(DeviceDirectory, AccessoryStateLogStaysSmallUnderManyWrites) {
    AccessoryStore store(scratch_.path());
    for (int i = 0; i < 1500; ++i)
        ASSERT_EQ(store.write("lamp.hue." + std::to_string(i % 50), NSNumber::numberWithInteger(i)), "") << i;
    struct stat info {};
    ASSERT_EQ(stat((store.path() + "-wal").c_str(), &info), 0);
    EXPECT_LE(info.st_size, 1 << 20);
}
