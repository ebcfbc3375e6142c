// A serving process under attack from its own clients: garbage, floods, and clients that never
// read their replies. The server is a separate process (tests/device/peers/channel_peer.cc); what
// must hold is that well-behaved clients are still served and the server's memory stays bounded.
#include <MRYIPC/MRYIPCCenter.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include <MRYIPC/ChannelFrame.h>
#include <MRYIPC/ChannelServer.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using namespace std::chrono_literals;
using device::ipc::FrameKind;

// Generous: the machine is shared and the sanitizer builds are slow.
constexpr auto kPatience = 60s;

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
long statusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

std::string frameOf(FrameKind kind, const char* selector, id argument) {
    std::string frame;
    EXPECT_EQ(device::ipc::encodeCall(kind, 9, 0, selector, argument, frame).message(), "");
    return frame;
}

bool decodes(const std::string& bytes) {
    device::ipc::Frame frame;
    return device::ipc::decodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), frame).ok();
}

// The byte strings of a client that talks nonsense, each meant for a connection of its own.
std::vector<std::string> garbage() {
    std::vector<std::string> bad;
    std::string good =
        frameOf(FrameKind::acknowledgedCall, "mark:", NSArray::arrayWithObjects({NSSTR("a"), NSSTR("b")}));
    for (size_t length = 1; length < good.size(); ++length) bad.push_back(good.substr(0, length));
    for (int version : {0, 1, 3, 0x7f, 0xff}) {
        std::string other = good;
        other[0] = static_cast<char>(version);
        bad.push_back(other);
    }
    std::string reply;
    EXPECT_TRUE(device::ipc::encodeReply(4, NSSTR("not asked"), reply).ok());
    bad.push_back(reply);
    bad.push_back(good + '\0');
    bad.push_back(std::string(device::ipc::kMaxFrameSize + 1, '\x02'));
    bad.push_back(good + std::string(100 * 1024, 'x'));
    std::mt19937 random(20240611);
    while (bad.size() < 300) {
        std::string bytes(1 + random() % 400, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        if (random() % 2) bytes[0] = 2;  // past the version check, into the decoder
        if (!decodes(bytes)) bad.push_back(bytes);
    }
    return bad;
}

int rawConnect(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether the server hung up on `fd` within `timeout`: end of file, or a reset when it closed
// without reading everything.
bool closedByServer(int fd, std::chrono::milliseconds timeout) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char byte;
    ssize_t received = recv(fd, &byte, 1, MSG_DONTWAIT);
    return received == 0 || (received < 0 && errno == ECONNRESET);
}

class ChannelAbuseTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("GLIMMORA_DEVICE", directory_.path().c_str(), 1);
        name_ = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "." +
                std::to_string(getpid());
    }

    // The serving process. ASan keeps freed memory in quarantine (256 MiB by default), which would
    // hide the server's own use; a small quarantine keeps its checks and shows what the server holds.
    std::unique_ptr<BackgroundProcess> serve(bool quiet) {
        std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
        std::vector<std::string> argv = {peer(), "serve", name_};
        if (quiet) argv.push_back("quiet");
        auto server = std::make_unique<BackgroundProcess>(
            argv, std::map<std::string, std::string>{{"ASAN_OPTIONS", asan + ":quarantine_size_mb=16"}});
        EXPECT_TRUE(BackgroundProcess::waitFor([&] { return server->out().find("serving") != std::string::npos; }));
        return server;
    }
    std::unique_ptr<BackgroundProcess> flood(const char* kind, const char* selector, long count, const char* mode,
                                             size_t bytes) {
        auto flooder = std::make_unique<BackgroundProcess>(std::vector<std::string>{
            peer(), "flood", name_, kind, selector, std::to_string(count), mode, std::to_string(bytes)});
        EXPECT_TRUE(BackgroundProcess::waitFor([&] { return flooder->out().find("flooding") != std::string::npos; }))
            << flooder->err();
        return flooder;
    }
    static std::string peer() { return buildDirectory() + "/channel_peer"; }
    std::string socketPath() const { return directory_.path() + "/ipc/" + name_; }
    MRYIPCCenter* center() { return MRYIPCCenter::centerNamed(NSString::stringWithString(name_)); }

    // A well-behaved client's acknowledged call: true when its reply came back as sent.
    bool echoed(const std::string& text) {
        auto reply = std::make_shared<std::atomic<bool>>(false);
        center()->callExternalMethod_withArguments_completion(SEL_(echo:), NSString::stringWithString(text),
                                                              makeBlock([reply, text](id answer) {
                                                                  auto* string = objc_cast<NSString>(answer);
                                                                  reply->store(string && string->string() == text);
                                                              }));
        return BackgroundProcess::waitFor([&] { return reply->load(); }, kPatience);
    }
    // A well-behaved client's fire-and-forget call: true when the server printed it. A call is
    // dropped when the socket is full, so it is sent again until it arrives.
    bool marked(const std::string& text, BackgroundProcess& server) {
        return BackgroundProcess::waitFor(
            [&] {
                center()->callExternalVoidMethod_withArguments(SEL_(mark:), NSString::stringWithString(text));
                return BackgroundProcess::waitFor(
                    [&] { return server.out().find("mark " + text + "\n") != std::string::npos; }, 1s);
            },
            kPatience);
    }

    TempDirectory directory_;
    std::string name_;
};

}  // namespace

TEST_F(ChannelAbuseTest, ClientsSendingGarbageAreClosedAndTheOthersStayServed) {
    auto server = serve(/*quiet=*/false);
    std::vector<std::string> bad = garbage();
    for (size_t i = 0; i < bad.size(); ++i) {
        int fd = rawConnect(socketPath());
        ASSERT_GE(fd, 0) << "case " << i << ": " << std::strerror(errno);
        // Each fits the socket's send buffer (the oversized ones are 64 and 100 KiB), so all arrive.
        ASSERT_EQ(send(fd, bad[i].data(), bad[i].size(), MSG_NOSIGNAL), static_cast<ssize_t>(bad[i].size()))
            << "case " << i << ": " << std::strerror(errno);
        EXPECT_TRUE(closedByServer(fd, kPatience)) << "case " << i << " of " << bad[i].size() << " bytes";
        close(fd);
        if (i % 50 == 0) {
            EXPECT_TRUE(echoed("still served " + std::to_string(i))) << "after case " << i;
        }
    }
    EXPECT_TRUE(marked("last", *server));
    EXPECT_TRUE(server->running());
    ProcessResult result = server->stop();
    EXPECT_EQ(result.out.find("mark a"), std::string::npos) << "a cut-off or altered call was delivered";
    // Nothing but the server's own reports: a sanitizer or an exception would write here too.
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind("MRYIPC: ", 0), 0u) << line;
}

// A server whose queue is bounded, flooded twice. First with quick calls sent as fast as the server
// takes them (every one arrives and is delivered); then with the largest calls to a slow target,
// offered far faster than it handles them (the full socket turns most away), together with a
// client that sends calls and never reads the replies. The flooders connect first; during each
// flood a later, well-behaved client's calls are still delivered, and the server's peak memory
// stays far below what holding even a small share of the flood would take.
TEST_F(ChannelAbuseTest, FloodsNeitherStarveOtherClientsNorGrowTheServer) {
    auto server = serve(/*quiet=*/true);
    ProcessResult warm = runProcess({peer(), "send", name_, "200", "ack", "warming up"});
    ASSERT_EQ(warm.out, "replied 200\n") << warm.err;
    const long baseline = statusKiB(server->pid(), "VmRSS");
    ASSERT_GT(baseline, 0);

    constexpr long kQuickCalls = 250'000;
    auto quick = flood("void", "note:", kQuickCalls, "block", 32);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(echoed("quick " + std::to_string(i))) << i;
        EXPECT_TRUE(marked("quick " + std::to_string(i), *server)) << i;
    }
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !quick->running(); }, 4 * kPatience));
    const std::string all = std::to_string(kQuickCalls);
    EXPECT_EQ(quick->stop().out, "flooding\nsent " + all + " of " + all + "\n");

    constexpr size_t kLargest = device::ipc::kMaxFrameSize - 64;
    auto slow = flood("void", "slow:", 0, "drop", kLargest);
    auto deaf = flood("ack", "echo:", 0, "block", kLargest);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(echoed("slow " + std::to_string(i))) << i;
        EXPECT_TRUE(marked("slow " + std::to_string(i), *server)) << i;
    }
    // This process's client connected before the flooders; a client that connects after them is
    // served too (the peer waits ten seconds for its replies).
    ProcessResult late = runProcess({peer(), "send", name_, "5", "ack", "late"});
    EXPECT_EQ(late.out, "replied 5\n") << late.err;
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !deaf->running(); }, kPatience))
        << "a client that never reads its replies is still connected";
    EXPECT_TRUE(slow->running()) << "the slow target's flood ended early: " << slow->err();
    slow->stop();
    EXPECT_TRUE(echoed("after"));

    const long peak = statusKiB(server->pid(), "VmHWM");
    // The queue holds at most kMaxQueuedCalls calls of at most 64 KiB (4 MiB); the rest of the
    // bound is for the allocator's caches and the sanitizers' bookkeeping (about 50 MiB under
    // ASan). Holding the slow flood instead would take gigabytes within seconds.
    EXPECT_LT(peak - baseline, 192 * 1024) << "peak " << peak << " KiB, " << baseline << " KiB before the floods";
    EXPECT_TRUE(server->running());
    std::printf("server memory: %ld KiB before the floods, peak %ld KiB\n", baseline, peak);
}

// Clients that connect and then say nothing take every place; once they have been quiet for a
// while, a new client is let in in place of one of them, and the server says so.
TEST_F(ChannelAbuseTest, IdleClientsMakeRoomForANewOne) {
    auto server = serve(/*quiet=*/false);
    std::vector<int> idle;
    for (size_t i = 0; i < device::ipc::kMaxClients; ++i) {
        idle.push_back(rawConnect(socketPath()));
        ASSERT_GE(idle.back(), 0) << i << ": " << std::strerror(errno);
    }
    // A call made while the idle clients are fresh is refused; the client connects again for the
    // next, so calls are made until one is answered.
    bool served = BackgroundProcess::waitFor(
        [&] {
            auto reply = std::make_shared<std::atomic<bool>>(false);
            center()->callExternalMethod_withArguments_completion(SEL_(echo:), NSSTR("let in"),
                                                                  makeBlock([reply](id) { reply->store(true); }));
            return BackgroundProcess::waitFor([&] { return reply->load(); }, 1s);
        },
        kPatience);
    EXPECT_TRUE(served) << server->err();
    EXPECT_NE(server->err().find("had sent nothing"), std::string::npos) << server->err();
    size_t closed = 0;
    for (int fd : idle) {
        closed += closedByServer(fd, 0ms);
        close(fd);
    }
    EXPECT_GE(closed, 1u);
}

// Clients that ask far faster than they read the replies: the server does not wait for room in
// their sockets (each reply would hold up every queued call for most of a second) but closes them,
// so a well-behaved client's call is answered while they still flood.
TEST_F(ChannelAbuseTest, ClientsReadingRepliesSlowlyHoldUpNoOneElse) {
    auto server = serve(/*quiet=*/true);
    std::vector<std::unique_ptr<BackgroundProcess>> slowReaders;
    for (int i = 0; i < 3; ++i) slowReaders.push_back(flood("ack", "echo:", 0, "drip", 16 * 1024));
    std::this_thread::sleep_for(2s);  // time for the floods to fill the server's queue
    // Waiting for room, the server would answer this only after the dozens of calls queued before it,
    // at one a reader's read (0.9 s) each; far past this deadline.
    auto reply = std::make_shared<std::atomic<bool>>(false);
    center()->callExternalMethod_withArguments_completion(SEL_(echo:), NSSTR("through"),
                                                          makeBlock([reply](id) { reply->store(true); }));
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return reply->load(); }, 20s)) << server->err();
    for (auto& reader : slowReaders)
        EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !reader->running(); }, kPatience))
            << "a client that reads its replies too slowly is still connected";
    EXPECT_TRUE(server->running());
}
