// Channels between threads and processes: delivery, replies, lost servers and bad clients.
#include <MRYIPC/MRYIPCCenter.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <optional>
#include <thread>

#include <MRYIPC/ChannelFrame.h>

#include "ChannelValues.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using namespace std::chrono_literals;

// What the in-process target has been sent; shared by the target's methods and the tests.
struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<std::string, Strong<NSObject>>> calls;  // selector, argument
    bool gateOpen = true;
    int atGate = 0;  // calls that have reached the gate
};

Recorder& recorder() {
    static auto* shared = new Recorder;
    return *shared;
}

void record(id, SEL cmd, id argument) {
    std::lock_guard lock(recorder().lock);
    recorder().calls.emplace_back(sel_getName(cmd), Strong<NSObject>(argument));
    recorder().changed.notify_all();
}

id echo(id self, SEL cmd, id argument) {
    record(self, cmd, argument);
    return argument;
}

void waitAtGate(id self, SEL cmd, id argument) {
    std::unique_lock lock(recorder().lock);
    recorder().atGate++;
    recorder().changed.wait(lock, [] { return recorder().gateOpen; });
    lock.unlock();
    record(self, cmd, argument);
}

void fail(id, SEL, id) { NSException::raise(NSInvalidArgumentException, "refused"); }
int odd(id, SEL, id) { return 1; }

Strong<NSObject> makeTarget() {
    static Class cls = [] {
        Class c = objc_allocateClassPair(NSObject::objcClass(), "ChannelTestTarget", 0);
        objc_registerClassPair(c);
        class_addMethod(c, sel_registerName("record:"), reinterpret_cast<IMP>(record), "v@:@");
        class_addMethod(c, sel_registerName("note:"), reinterpret_cast<IMP>(record), "v@:@");
        class_addMethod(c, sel_registerName("echo:"), reinterpret_cast<IMP>(echo), "@@:@");
        class_addMethod(c, sel_registerName("waitAtGate:"), reinterpret_cast<IMP>(waitAtGate), "v@:@");
        class_addMethod(c, sel_registerName("fail:"), reinterpret_cast<IMP>(fail), "v@:@");
        class_addMethod(c, sel_registerName("odd:"), reinterpret_cast<IMP>(odd), "i@:@");
        return c;
    }();
    return Strong<NSObject>::adopt(class_createInstance(cls, 0));
}

// The fate of one acknowledged call, watched from the test.
struct Outcome {
    std::mutex lock;
    int completions = 0;
    Strong<NSObject> reply;
    std::thread::id thread;
    size_t recordedBefore = 0;  // calls the target had seen when the completion ran
};

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    return BackgroundProcess::waitFor(condition, timeout);
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        setenv("GLIMMORA_DEVICE", directory.path().c_str(), 1);
        name = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "." +
               std::to_string(getpid()) + "." + std::to_string(++serial);
        std::lock_guard lock(recorder().lock);
        recorder().calls.clear();
        recorder().gateOpen = true;
        recorder().atGate = 0;
    }

    MRYIPCCenter* center() { return MRYIPCCenter::centerNamed(NSString::stringWithString(name)); }
    std::string socketPath() const { return directory.path() + "/ipc/" + name; }

    void serveHere() {
        for (const char* action : {"record:", "note:", "echo:", "waitAtGate:", "fail:", "odd:"})
            center()->addTarget_action(target, sel_registerName(action));
    }
    std::unique_ptr<BackgroundProcess> servePeer() {
        auto peer = std::make_unique<BackgroundProcess>(std::vector<std::string>{peerPath(), "serve", name});
        EXPECT_TRUE(waitFor([&] { return peer->out().find("serving") != std::string::npos; }));
        return peer;
    }
    static std::string peerPath() { return buildDirectory() + "/channel_peer"; }

    // Sends an acknowledged call; the completion also keeps `token` until it is released.
    std::shared_ptr<Outcome> ask(const char* selector, id argument, std::shared_ptr<int> token = nullptr) {
        auto outcome = std::make_shared<Outcome>();
        center()->callExternalMethod_withArguments_completion(sel_registerName(selector), argument,
                                                              makeBlock([outcome, token](id reply) {
                                                                  std::lock_guard lock(outcome->lock);
                                                                  outcome->completions++;
                                                                  outcome->reply = reply;
                                                                  outcome->thread = std::this_thread::get_id();
                                                                  std::lock_guard seen(recorder().lock);
                                                                  outcome->recordedBefore = recorder().calls.size();
                                                              }));
        return outcome;
    }
    static bool completed(const std::shared_ptr<Outcome>& outcome, std::chrono::milliseconds timeout = 10s) {
        return waitFor(
            [&] {
                std::lock_guard lock(outcome->lock);
                return outcome->completions > 0;
            },
            timeout);
    }
    static int completions(const std::shared_ptr<Outcome>& outcome) {
        std::lock_guard lock(outcome->lock);
        return outcome->completions;
    }
    static size_t recorded() {
        std::lock_guard lock(recorder().lock);
        return recorder().calls.size();
    }
    // The call `index` the target received (a copy: the server may be adding to the list).
    static std::pair<std::string, Strong<NSObject>> call(size_t index) {
        std::lock_guard lock(recorder().lock);
        return index < recorder().calls.size() ? recorder().calls[index] : std::pair<std::string, Strong<NSObject>>();
    }

    TempDirectory directory;
    std::string name;
    Strong<NSObject> target = makeTarget();
};

int rawConnect(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    return fd;
}

// Whether the server has closed `fd` within `timeout`: end of file, or a reset when it closed
// without reading what was sent.
bool closedByServer(int fd, std::chrono::milliseconds timeout = 5s) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char byte;
    ssize_t received = recv(fd, &byte, 1, MSG_DONTWAIT);
    return received == 0 || (received < 0 && errno == ECONNRESET);
}

int countClosed(const std::vector<int>& sockets) {
    int closed = 0;
    for (int fd : sockets) closed += closedByServer(fd, 0ms);
    return closed;
}

}  // namespace

TEST_F(ChannelTest, CenterIsTheSameObjectForTheSameName) {
    MRYIPCCenter* first = center();
    EXPECT_EQ(first, center());
    EXPECT_EQ(first->name()->string(), name);
    EXPECT_NE(first, MRYIPCCenter::centerNamed(NSSTR("another.channel")));
    EXPECT_EQ(MRYIPCCenter::centerNamed(nil), nullptr);
}

TEST_F(ChannelTest, CallsReachTheTargetAndEachCompletionRunsOnceAfterIt) {
    serveHere();
    center()->callExternalVoidMethod_withArguments(SEL_(record:), everyKindValue());
    ASSERT_TRUE(waitFor([] { return recorded() == 1; }));
    EXPECT_EQ(call(0).first, "record:");
    EXPECT_TRUE(sameValue(call(0).second, everyKindValue()));

    std::vector<std::shared_ptr<Outcome>> outcomes;
    for (int i = 0; i < 20; ++i) outcomes.push_back(ask("echo:", NSNumber::numberWithInteger(i)));
    // Replies come in order on one connection: once the last has run, every earlier one has too.
    auto last = ask("echo:", NSSTR("last"));
    ASSERT_TRUE(completed(last));
    for (int i = 0; i < 20; ++i) {
        std::lock_guard lock(outcomes[i]->lock);
        EXPECT_EQ(outcomes[i]->completions, 1) << i;
        EXPECT_TRUE(sameValue(outcomes[i]->reply, NSNumber::numberWithInteger(i))) << i;
        EXPECT_GE(outcomes[i]->recordedBefore, static_cast<size_t>(i + 2)) << "completed before delivery";
        EXPECT_NE(outcomes[i]->thread, std::this_thread::get_id());
    }
}

TEST_F(ChannelTest, UnknownActionsBadShapesAndThrowingTargetsReplyNil) {
    serveHere();
    for (const char* selector : {"nobody:", "odd:", "fail:"}) {
        auto outcome = ask(selector, NSSTR("x"));
        ASSERT_TRUE(completed(outcome)) << selector;
        EXPECT_EQ(outcome->reply.get(), nil) << selector;
    }
    center()->callExternalVoidMethod_withArguments(SEL_(nobody:), NSSTR("x"));
    auto after = ask("echo:", makeBlock([](id) {}));  // an argument that cannot travel arrives as nil
    ASSERT_TRUE(completed(after));
    ASSERT_EQ(recorded(), 1u);
    EXPECT_EQ(call(0).second.get(), nil);
}

TEST_F(ChannelTest, BothFormsCrossProcessesWithTheArgumentUnchanged) {
    auto peer = servePeer();
    Strong<NSObject> value = everyKindValue();
    center()->callExternalVoidMethod_withArguments(SEL_(note:), value);
    EXPECT_TRUE(waitFor([&] { return peer->out().find("note " + value->description()) != std::string::npos; }));

    auto outcome = std::make_shared<std::optional<std::string>>();
    std::atomic<int> replies{0};
    Strong<NSObject> reply;
    center()->callExternalMethod_withArguments_completion(
        SEL_(echo:), value, makeBlock([&, outcome](id answer) {
            reply = answer;
            *outcome = peer->out();  // what the server had printed when the reply came
            replies++;
        }));
    ASSERT_TRUE(waitFor([&] { return replies == 1; }));
    EXPECT_TRUE(sameValue(reply, value));
    EXPECT_NE(outcome->value().find("echo " + value->description()), std::string::npos);

    ProcessResult client = runProcess({peerPath(), "send", name, "3", "ack", "1.000000,0.501961,0.250980,1.000000"});
    EXPECT_EQ(client.out, "replied 3\n") << client.err;
    EXPECT_TRUE(waitFor([&] { return peer->out().find("echo 1.000000,0.501961") != std::string::npos; }));
}

TEST_F(ChannelTest, CallsFromAnotherProcessReachThisServer) {
    serveHere();
    ProcessResult acknowledged =
        runProcess({peerPath(), "send", name, "5", "ack", "1.000000,0.501961,0.250980,1.000000"});
    EXPECT_EQ(acknowledged.out, "replied 5\n") << acknowledged.err;
    ASSERT_EQ(recorded(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(sameValue(call(i).second, NSSTR("1.000000,0.501961,0.250980,1.000000")));
    // The client is gone before its calls are read; they are delivered all the same.
    ProcessResult fireAndForget = runProcess({peerPath(), "send", name, "3", "void", "0.5"});
    EXPECT_EQ(fireAndForget.exitCode, 0);
    ASSERT_TRUE(waitFor([] { return recorded() == 8; }));
    EXPECT_EQ(call(7).first, "note:");
    EXPECT_TRUE(sameValue(call(7).second, NSSTR("0.5")));
}

TEST_F(ChannelTest, CallsWithoutAServerAreLostUntilOneComesUp) {
    auto token = std::make_shared<int>();
    center()->callExternalVoidMethod_withArguments(SEL_(note:), NSSTR("lost"));
    auto lost = ask("echo:", NSSTR("lost"), token);
    EXPECT_EQ(token.use_count(), 1) << "the completion of a lost call is kept";
    EXPECT_EQ(completions(lost), 0);

    auto peer = servePeer();
    center()->callExternalVoidMethod_withArguments(SEL_(note:), NSSTR("first"));
    EXPECT_TRUE(waitFor([&] { return peer->out().find("note first") != std::string::npos; }));
    EXPECT_EQ(peer->out().find("lost"), std::string::npos);
}

TEST_F(ChannelTest, RestartedServerIsReachedAndCallsInFlightAreReleased) {
    auto peer = servePeer();
    auto token = std::make_shared<int>();
    auto stuck = ask("hang:", NSSTR("x"), token);
    ASSERT_TRUE(waitFor([&] { return peer->out().find("hang") != std::string::npos; }));
    EXPECT_EQ(token.use_count(), 2);
    peer->stop(SIGKILL);  // leaves its socket file behind
    EXPECT_TRUE(waitFor([&] { return token.use_count() == 1; })) << "the completion of a lost call is kept";
    EXPECT_EQ(completions(stuck), 0);

    auto second = servePeer();
    center()->callExternalVoidMethod_withArguments(SEL_(note:), NSSTR("again"));
    EXPECT_TRUE(waitFor([&] { return second->out().find("note again") != std::string::npos; }));
}

TEST_F(ChannelTest, MisbehavingClientsAreClosedWhileOthersAreServed) {
    serveHere();
    {
        std::lock_guard lock(recorder().lock);
        recorder().gateOpen = false;
    }
    auto blocked = ask("waitAtGate:", NSSTR("held"));
    ASSERT_TRUE(waitFor([] {
        std::lock_guard lock(recorder().lock);
        return recorder().atGate == 1;
    }));

    std::string good;
    ASSERT_TRUE(device::ipc::encodeCall(device::ipc::FrameKind::voidCall, 0, 0, "record:", NSSTR("x"), good).ok());
    std::vector<std::pair<const char*, std::string>> bad = {
        {"garbage", "\xde\xad\xbe\xef"},
        {"truncated", good.substr(0, good.size() - 1)},
        {"oversized", std::string(device::ipc::kMaxFrameSize + 1, '\x01')},
        {"too deep", good.substr(0, good.size() - 6) +
                         [] {  // the value "x" takes 6 bytes
                             std::string nest;
                             for (int i = 0; i < 40; ++i) nest += std::string("\x06\x01\x00\x00\x00", 5);
                             return nest + '\x01';
                         }()},
    };
    // The delivery thread is held inside the target meanwhile: the connections are still checked.
    for (auto& [what, bytes] : bad) {
        int fd = rawConnect(socketPath());
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())) << what;
        EXPECT_TRUE(closedByServer(fd)) << what;
        close(fd);
    }
    center()->callExternalVoidMethod_withArguments(SEL_(record:), NSSTR("while held"));
    EXPECT_EQ(completions(blocked), 0);
    {
        std::lock_guard lock(recorder().lock);
        recorder().gateOpen = true;
        recorder().changed.notify_all();
    }
    ASSERT_TRUE(completed(blocked));
    ASSERT_TRUE(waitFor([] { return recorded() == 2; }));
    EXPECT_TRUE(sameValue(call(1).second, NSSTR("while held")));
}

TEST_F(ChannelTest, ClientsBeyondTheLimitAreClosed) {
    serveHere();
    std::vector<int> sockets;
    for (int i = 0; i < 70; ++i) sockets.push_back(rawConnect(socketPath()));
    EXPECT_TRUE(waitFor([&] { return countClosed(sockets) >= 6; }));
    std::this_thread::sleep_for(200ms);  // time to close more, were the limit not kept
    EXPECT_EQ(countClosed(sockets), 6);
    for (int fd : sockets) close(fd);
    // The server notices the closed sockets in its own time; until then a new client finds no room.
    EXPECT_TRUE(waitFor([&] { return completed(ask("echo:", NSSTR("room again")), 200ms); }));
}

TEST_F(ChannelTest, SocketIsPrivateAndALiveServerKeepsItsChannel) {
    ASSERT_EQ(mkdir((directory.path() + "/ipc").c_str(), 0755), 0);
    auto peer = servePeer();
    struct stat info {};
    ASSERT_EQ(stat((directory.path() + "/ipc").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    testing::internal::CaptureStderr();
    serveHere();
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("already serves"), std::string::npos) << report;
    center()->callExternalVoidMethod_withArguments(SEL_(note:), NSSTR("still there"));
    EXPECT_TRUE(waitFor([&] { return peer->out().find("note still there") != std::string::npos; }));
}

TEST_F(ChannelTest, ClientsOfAnotherUserAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    serveHere();
    // Opened up on purpose, so that only the server's own check stands in the way.
    ASSERT_EQ(chmod(directory.path().c_str(), 0711), 0);
    ASSERT_EQ(chmod((directory.path() + "/ipc").c_str(), 0711), 0);
    ASSERT_EQ(chmod(socketPath().c_str(), 0666), 0);
    std::string frame;
    ASSERT_TRUE(
        device::ipc::encodeCall(device::ipc::FrameKind::voidCall, 0, 0, "record:", NSSTR("intruder"), frame).ok());
    std::string path = socketPath();
    pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on: the parent has threads.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(3);
        send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        _exit(closedByServer(fd) ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    center()->callExternalVoidMethod_withArguments(SEL_(record:), NSSTR("owner"));
    ASSERT_TRUE(waitFor([] { return recorded() == 1; }));
    EXPECT_TRUE(sameValue(call(0).second, NSSTR("owner")));
}

TEST_F(ChannelTest, ImpossibleNamesAreReportedOnceAndDropCalls) {
    for (std::string bad : {"with/slash." + name, std::string(120, 'n') + name, name + ".lock"}) {
        MRYIPCCenter* center = MRYIPCCenter::centerNamed(NSString::stringWithString(bad));
        auto token = std::make_shared<int>();
        testing::internal::CaptureStderr();
        for (int i = 0; i < 3; ++i) {
            center->callExternalVoidMethod_withArguments(SEL_(note:), NSSTR("x"));
            center->callExternalMethod_withArguments_completion(SEL_(echo:), NSSTR("x"),
                                                                makeBlock([token](id) { FAIL(); }));
        }
        std::string report = testing::internal::GetCapturedStderr();
        EXPECT_EQ(token.use_count(), 1);
        EXPECT_NE(report.find(bad), std::string::npos) << report;
        EXPECT_EQ(report.find('\n'), report.size() - 1) << "reported more than once: " << report;
        center->addTarget_action(target, SEL_(echo:));
    }
}
