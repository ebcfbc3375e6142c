// What the device writes is its user's alone, whatever the umask, and a channel serves only peers
// of its own user.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>
#include <MRYIPC/ChannelSocket.h>
#include <accessories/AccessoryStore.h>

#include "support/TempDirectory.h"

namespace {

// -1 when `path` is missing.
int modeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// Runs the test body with umask 0, so anything created without an explicit private mode shows.
class OpenUmask {
public:
    OpenUmask() : saved_(umask(0)) {}
    ~OpenUmask() { umask(saved_); }

private:
    mode_t saved_;
};

class PrivacyTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1); }
    std::string at(const std::string& name) const { return device_.path() + "/" + name; }

    static Strong<HBPreferences> open() {
        return Strong<HBPreferences>::adopt(HBPreferences::alloc()->initWithIdentifier(NSSTR("com.tovek.glimmora")));
    }

    TempDirectory device_;
};

}  // namespace

TEST_F(PrivacyTest, SettingsDatabaseAndItsCompanionsArePrivateWhateverTheUmask) {
    OpenUmask open0;
    ASSERT_EQ(chmod(device_.path().c_str(), 0755), 0);
    auto prefs = open();
    prefs->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR("Active"));
    ASSERT_EQ(prefs->lastError(), "");
    // The connection stays open, so the write-ahead log and its index are there to be seen. The
    // directory was the user's before the device used it, so it keeps the mode the user gave it.
    EXPECT_EQ(modeOf(device_.path()), 0755);
    for (const char* suffix : {"", "-wal", "-shm"})
        EXPECT_EQ(modeOf(at("preferences.sqlite3") + suffix), 0600) << suffix;
}

TEST_F(PrivacyTest, SettingsFilesLeftOpenByAnEarlierVersionAreNarrowed) {
    auto prefs = open();
    prefs->setObject_forKey(NSSTR("kept"), NSSTR("Key"));
    // Another connection holds the database, so the log and index outlive the first one.
    auto holder = open();
    ASSERT_FALSE(holder->boolForKey(NSSTR("Active")));
    for (const char* suffix : {"", "-wal", "-shm"})
        ASSERT_EQ(chmod((at("preferences.sqlite3") + suffix).c_str(), 0644), 0) << suffix;
    prefs = nullptr;
    Strong<NSObject> kept = open()->objectForKey(NSSTR("Key"));
    EXPECT_TRUE(kept && kept->isEqual(NSSTR("kept")));
    for (const char* suffix : {"", "-wal", "-shm"})
        EXPECT_EQ(modeOf(at("preferences.sqlite3") + suffix), 0600) << suffix;
}

TEST_F(PrivacyTest, AccessoryStateAndLogLeftOpenByAnEarlierVersionAreNarrowed) {
    AccessoryStore first(device_.path());
    ASSERT_EQ(first.write("lamp.power", NSNumber::numberWithBool(YES)).message(), "");
    for (const char* suffix : {"", "-wal", "-shm"})
        ASSERT_EQ(chmod((at("accessories.sqlite3") + suffix).c_str(), 0644), 0) << suffix;
    std::ofstream(at("system.log")) << "an earlier line\n";
    ASSERT_EQ(chmod(at("system.log").c_str(), 0644), 0);

    AccessoryStore second(device_.path());
    std::unordered_map<std::string, Strong<NSObject>> state;
    ASSERT_EQ(second.readAll(&state).message(), "");
    EXPECT_TRUE(state["lamp.power"] && state["lamp.power"]->isEqual(NSNumber::numberWithBool(YES)));
    for (const char* suffix : {"", "-wal", "-shm"})
        EXPECT_EQ(modeOf(at("accessories.sqlite3") + suffix), 0600) << suffix;
    // The first connection keeps its locks: it still writes, and the second sees the write.
    EXPECT_EQ(first.write("lamp.power", NSNumber::numberWithBool(NO)).message(), "");
    ASSERT_EQ(second.readAll(&state).message(), "");
    EXPECT_TRUE(state["lamp.power"] && state["lamp.power"]->isEqual(NSNumber::numberWithBool(NO)));

    NSLog("a later line");
    EXPECT_EQ(modeOf(at("system.log")), 0600);
    std::ifstream log(at("system.log"));
    std::string firstLine;
    std::getline(log, firstLine);
    EXPECT_EQ(firstLine, "an earlier line") << "narrowing keeps what the log held";
}

TEST_F(PrivacyTest, SystemLogIsPrivateWhateverTheUmask) {
    OpenUmask open0;
    NSLog("a line for the system log");
    EXPECT_EQ(modeOf(at("system.log")), 0600);
}

TEST_F(PrivacyTest, PrivateFileRefusesWhatIsNotAFileOfThisUser) {
    OpenUmask open0;
    EXPECT_EQ(device::ensurePrivateFile(at("missing"), /*create=*/false).message(), "");
    EXPECT_EQ(modeOf(at("missing")), -1) << "created without being asked to";
    EXPECT_EQ(device::ensurePrivateFile(at("made"), /*create=*/true).message(), "");
    EXPECT_EQ(modeOf(at("made")), 0600);
    ASSERT_EQ(mkdir(at("directory").c_str(), 0755), 0);
    EXPECT_NE(device::ensurePrivateFile(at("directory"), true).message().find("not a regular file"), std::string::npos);
    if (geteuid() == 0) {
        int fd = ::open(at("theirs").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(fchown(fd, 65534, 65534), 0);
        close(fd);
        EXPECT_NE(device::ensurePrivateFile(at("theirs"), true).message().find("another user"), std::string::npos);
        EXPECT_EQ(modeOf(at("theirs")), 0644) << "another user's file was changed";
    }
}

// The check a channel server makes of every client it accepts. It must fail closed: a descriptor
// whose peer cannot be told is refused.
TEST_F(PrivacyTest, PeerCheckAdmitsOnlyThisUser) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    EXPECT_TRUE(device::ipc::peerIsSameUser(pair[0]));
    close(pair[0]);
    close(pair[1]);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_FALSE(device::ipc::peerIsSameUser(pipeEnds[0]));
    close(pipeEnds[0]);
    close(pipeEnds[1]);

    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    TempDirectory open;
    ASSERT_EQ(chmod(open.path().c_str(), 0777), 0);
    std::string path = open.path() + "/socket";
    int listening = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    ASSERT_EQ(listen(listening, 1), 0);
    pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on: the parent may have threads.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(3);
        char byte;
        ssize_t ignored = read(fd, &byte, 1);  // until the parent has looked and hung up
        (void)ignored;
        _exit(0);
    }
    pollfd waiting{listening, POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 30'000), 1) << "the other user's client did not connect";
    int accepted = accept(listening, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    EXPECT_FALSE(device::ipc::peerIsSameUser(accepted));
    close(accepted);
    close(listening);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
