// The device directory a user names is used as it is found: Glimmora changes the mode only of what
// it makes, refuses a directory others can write to, follows no symbolic link to change a mode,
// reads a device on a read-only disk, and says so when a store cannot be read or written.
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Foundation/Foundation.h>
#include <accessories/AccessoryStore.h>

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

class DeviceDirectory : public ::testing::Test {
protected:
    std::string at(const std::string& name) const { return scratch_.path() + "/" + name; }
    // `glimmora --device DEVICE arguments...`, with the default device inside the scratch directory.
    ProcessResult glimmora(const std::string& device, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {glimmoraCommand(), "--device", device});
        return runProcess(arguments, {{"GLIMMORA_DEVICE", ""}, {"XDG_DATA_HOME", scratch_.path()}},
                          std::chrono::seconds(10));
    }
    TempDirectory scratch_;
};

}  // namespace

TEST_F(DeviceDirectory, AnExistingDirectoryKeepsItsModeAndOneOthersCanWriteIsRefused) {
    const std::vector<std::vector<std::string>> commands = {{"prefs", "read", "com.tovek.glimmora"}, {"home", "init"}};
    using Case = std::pair<int, const char*>;  // a mode, and how a refusal names it ("" when it is used)
    for (auto [mode, text] : std::initializer_list<Case>{{01777, "1777"}, {0775, "0775"}, {0755, ""}, {0500, ""}}) {
        const std::string device = at(std::to_string(mode));
        ASSERT_EQ(mkdir(device.c_str(), 0700), 0);
        ASSERT_EQ(chmod(device.c_str(), mode), 0);
        for (const auto& arguments : commands) {
            ProcessResult result = glimmora(device, arguments);
            EXPECT_EQ(modeOf(device), mode) << std::oct << mode << " changed by " << arguments[0];
            if (*text == '\0') continue;
            EXPECT_NE(result.exitCode, 0) << arguments[0];
            EXPECT_THAT(result.err, HasSubstr(device + " (mode " + text + ") can be written by other users"));
        }
    }
    // What Glimmora makes itself is private, parents and all.
    EXPECT_EQ(glimmora(at("new/device"), {"home", "init"}).exitCode, 0);
    EXPECT_EQ(modeOf(at("new")), 0700);
    EXPECT_EQ(modeOf(at("new/device")), 0700);
}

// Refused before anything is read, written or started: a command that reads first would otherwise
// report on the device ("the device has no homes") as if it could use it.
TEST_F(DeviceDirectory, EveryCommandRefusesADirectoryOthersCanWriteBeforeDoingAnything) {
    const std::string device = at("shared");
    ASSERT_EQ(mkdir(device.c_str(), 0700), 0);
    ASSERT_EQ(chmod(device.c_str(), 01777), 0);
    const std::vector<std::vector<std::string>> commands = {{"home", "show"},
                                                            {"home", "select", "Kitchen"},
                                                            {"lights"},
                                                            {"springboard"},
                                                            {"app", "com.apple.mobilesafari"},
                                                            {"play", "--live", "lavfi:color=d=0.2"},
                                                            {"demo", "--live", "lavfi:color=d=0.2"}};
    for (const auto& arguments : commands) {
        ProcessResult result = glimmora(device, arguments);
        EXPECT_EQ(result.exitCode, 1) << arguments[0] << " " << arguments[1 % arguments.size()];
        EXPECT_THAT(result.err, HasSubstr(device + " (mode 1777) can be written by other users")) << arguments[0];
        EXPECT_EQ(result.out, "") << arguments[0];
    }
    EXPECT_EQ(modeOf(device), 01777);
    EXPECT_EQ(rmdir(device.c_str()), 0) << "something was put into the directory";
}

TEST_F(DeviceDirectory, AStoreThatIsASymbolicLinkIsRefusedAndItsTargetKeepsItsMode) {
    ASSERT_EQ(mkdir(at("device").c_str(), 0700), 0);
    std::ofstream(at("elsewhere")) << "not a database";
    ASSERT_EQ(chmod(at("elsewhere").c_str(), 0644), 0);
    ASSERT_EQ(symlink(at("elsewhere").c_str(), at("device/preferences.sqlite3").c_str()), 0);
    ProcessResult result = glimmora(at("device"), {"prefs", "read", "com.tovek.glimmora"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_THAT(result.err, HasSubstr("preferences.sqlite3 is a symbolic link, which is not followed"));
    EXPECT_EQ(modeOf(at("elsewhere")), 0644);
}

TEST_F(DeviceDirectory, ImpossibleInputIsRefusedAtOnce) {
    // An empty device name, for every command; before, it meant the default device.
    for (const char* command : {"prefs", "home", "springboard", "lights"}) {
        std::vector<std::string> arguments = {command};
        if (arguments[0] == "prefs") arguments.insert(arguments.end(), {"read", "com.tovek.glimmora"});
        if (arguments[0] == "home") arguments.push_back("show");
        ProcessResult result = glimmora("", arguments);
        EXPECT_NE(result.exitCode, 0) << command;
        EXPECT_THAT(result.err, HasSubstr("an empty name is not a device directory")) << command;
        EXPECT_EQ(modeOf(at("glimmora")), -1) << command << " used the default device";
    }
    // A FIFO as a home description, which no writer will ever fill.
    ASSERT_EQ(mkfifo(at("home.fifo").c_str(), 0600), 0);
    ProcessResult loaded = glimmora(at("device"), {"home", "load", at("home.fifo")});
    EXPECT_FALSE(loaded.timedOut) << "home load waited for a writer";
    EXPECT_THAT(loaded.err, HasSubstr(at("home.fifo") + " is not a regular file"));
}

TEST_F(DeviceDirectory, ADeviceOnAReadOnlyDiskIsReadAndWritesSayWhyTheyFail) {
    const std::string device = at("device");
    ASSERT_EQ(mkdir(device.c_str(), 0700), 0);
    PrivateMount disk(device, 4 << 20);
    if (!disk.problem().empty()) GTEST_SKIP() << "no disk to make read-only here: " << disk.problem();
    ASSERT_EQ(glimmora(device, {"home", "init"}).exitCode, 0);
    ASSERT_EQ(glimmora(device, {"prefs", "write", "com.tovek.glimmora", "Enabled", "NO", "--bool"}).exitCode, 0);
    ASSERT_EQ(disk.makeReadOnly(), "");

    ProcessResult read = glimmora(device, {"prefs", "read", "com.tovek.glimmora", "Enabled"});
    EXPECT_EQ(read.out, "NO\n") << read.err;
    ProcessResult shown = glimmora(device, {"home", "show"});
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.err, "") << "the accessory state and the selection are read too";
    ProcessResult written = glimmora(device, {"prefs", "write", "com.tovek.glimmora", "Enabled", "YES", "--bool"});
    EXPECT_NE(written.exitCode, 0);
    EXPECT_THAT(written.err, HasSubstr("is read-only"));
}

TEST_F(DeviceDirectory, ShowSaysTheRoomSelectionCannotBeReadFromADamagedStore) {
    const std::string device = at("device");
    ASSERT_EQ(glimmora(device, {"home", "init"}).exitCode, 0);
    ASSERT_EQ(glimmora(device, {"home", "select", "Kitchen"}).exitCode, 0);
    std::ofstream(device + "/preferences.sqlite3", std::ios::trunc) << std::string(8192, '\x07');
    ProcessResult shown = glimmora(device, {"home", "show"});
    EXPECT_NE(shown.exitCode, 0);
    EXPECT_THAT(shown.err, HasSubstr("the room selection cannot be read"));
    EXPECT_THAT(shown.out, HasSubstr("selection unknown"));
    EXPECT_THAT(shown.out, Not(HasSubstr("not selected")));
}

// Written once per colour, the accessory state's log must not grow to SQLite's 4 MB default.
TEST_F(DeviceDirectory, AccessoryStateLogStaysSmallUnderManyWrites) {
    AccessoryStore store(scratch_.path());
    for (int i = 0; i < 1500; ++i)
        ASSERT_EQ(store.write("lamp.hue." + std::to_string(i % 50), NSNumber::numberWithInteger(i)).message(), "") << i;
    struct stat info {};
    ASSERT_EQ(stat((store.path() + "-wal").c_str(), &info), 0);
    EXPECT_LE(info.st_size, 1 << 20);
}
