// The client facing an accessory that misbehaves: one that takes the connection and never answers,
// one that answers with bytes that are not HTTP, one that closes every connection, and an impostor
// presenting an identifier made to act on a terminal. Served by a listener on loopback inside the
// test program's loopback-only network.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include <Foundation/FoundationDevice.h>
#include <HomeKit/HomeKitQueue.h>
#include <accessories/HapTransport.h>

#include "hap/AccessoryClient.h"
#include "hap/Crypto.h"
#include "hap/Pairing.h"
#include "hap/Session.h"
#include "hap/Tlv8.h"
#include "support/TempDirectory.h"

using namespace device::hap;
using namespace std::chrono_literals;

namespace {

// Listens on 127.0.0.1 and hands each connection (at most 64) to `serve`; a connection `serve`
// keeps (returns true for) is held open until the listener goes, any other is closed at once.
class MisbehavingAccessory {
public:
    using Serve = std::function<bool(int connection)>;

    explicit MisbehavingAccessory(Serve handler) : serve_(std::move(handler)) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "could not listen on loopback";
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    // Each connection gets `reply` once something arrives (nothing when empty) and is held open.
    explicit MisbehavingAccessory(std::string reply)
        : MisbehavingAccessory([reply = std::move(reply)](int connection) {
              char request[4096];
              if (!reply.empty() && read(connection, request, sizeof request) > 0) {
                  ssize_t sent = write(connection, reply.data(), reply.size());
                  (void)sent;
              }
              return true;
          }) {}
    ~MisbehavingAccessory() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
        for (int client : clients_) close(client);
    }
    Endpoint endpoint() const { return {"127.0.0.1", port_}; }
    // The connections taken so far.
    int accepted() const { return accepted_; }

private:
    void serve() {
        for (int served = 0; served < 64; ++served) {  // bounded: no test makes more connections
            int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            ++accepted_;
            if (serve_(client))
                clients_.push_back(client);
            else
                close(client);
        }
    }

    Serve serve_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::vector<int> clients_;
    std::thread thread_;
};

// The body of the one request on `connection`, read whole; nullopt when it ends or stays silent
// for seconds first.
std::optional<std::string> readRequestBody(int connection) {
    timeval patience{5, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::string request;
    char buffer[4096];
    while (request.size() < 64 * 1024) {
        size_t headerEnd = request.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
            size_t field = request.find("Content-Length: ");
            size_t length = field < headerEnd ? std::stoul(request.substr(field + 16)) : 0;
            if (request.size() >= headerEnd + 4 + length) return request.substr(headerEnd + 4, length);
        }
        ssize_t got = read(connection, buffer, sizeof buffer);
        if (got <= 0) return std::nullopt;
        request.append(buffer, static_cast<size_t>(got));
    }
    return std::nullopt;
}

// Answers pair-verify's first message as an accessory that holds none of the pairing's secrets:
// the session key it agrees is sound, so the controller reads what it presents, `identifier`,
// signed with zeros.
MisbehavingAccessory::Serve impostor(std::string identifier) {
    return [identifier = std::move(identifier)](int connection) {
        std::optional<std::string> body = readRequestBody(connection);
        auto m1 = Tlv8::decode(body.value_or(std::string()));
        const std::string* theirs = m1.ok() ? m1->find(kTlvPublicKey) : nullptr;
        auto ours = crypto::x25519KeyPair();
        auto shared = theirs ? crypto::x25519(ours.secretKey, *theirs) : std::nullopt;
        auto key = shared ? crypto::hkdf(crypto::view(*shared), "Pair-Verify-Encrypt-Salt", "Pair-Verify-Encrypt-Info")
                          : std::nullopt;
        if (!key) return true;
        std::string inner = Tlv8().add(kTlvIdentifier, identifier).add(kTlvSignature, std::string(64, '\0')).encode();
        std::string m2 = Tlv8()
                             .add(kTlvState, 2)
                             .add(kTlvPublicKey, crypto::view(ours.publicKey))
                             .add(kTlvEncryptedData, crypto::seal(inner, {}, crypto::nonce("PV-Msg02"), *key))
                             .encode();
        std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/pairing+tlv8\r\nContent-Length: " +
                            std::to_string(m2.size()) + "\r\n\r\n" + m2;
        ssize_t sent = write(connection, reply.data(), reply.size());
        (void)sent;
        return true;
    };
}

// An identifier that retitles the terminal's window, clears its screen and forges a log line.
const char kHostileText[] = "\x1b]0;owned\x07\x1b[2J\nHomeKit: \"Desk Lamp\" is reachable again";

// Whether a terminal showing `text` would only print it: no control character, no newline.
bool terminalSafe(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

ControllerIdentity identity() {
    TempDirectory directory;
    return Keyring::open(directory.path())->controller();
}

TEST(ClientFaultTest, MalformedAnswersDropTheConnectionWithAReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"not HTTP", "\x16\x03\x01 garbage\r\n\r\n"},
        {"malformed chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nnothex\r\n"},
        {"malformed TLV8", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n\x06\x05\x02"},
    };
    for (const auto& [name, reply] : cases) {
        MisbehavingAccessory accessory(reply);
        auto session = Session::open(accessory.endpoint(), identity(), AccessoryPairing{"AA", {}}, 5s);
        EXPECT_FALSE(session.ok()) << name;
        EXPECT_NE(session.status().message().find(accessory.endpoint().text()), std::string::npos)
            << name << ": " << session.status().message();
    }
    // An event notification where pair-setup expects its answer is named as what it is.
    MisbehavingAccessory eventful("EVENT/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
    auto paired = pairSetup(eventful.endpoint(), "031-45-154", identity(), 5s);
    EXPECT_FALSE(paired.ok());
    EXPECT_NE(paired.status().message().find("event notification"), std::string::npos) << paired.status().message();
}

TEST(ClientFaultTest, ASilentAccessoryTimesOutAndPendingWritesFailWhenTheClientGoes) {
    MisbehavingAccessory accessory("");
    std::vector<bool> reachability;
    AccessoryClient::Options options;
    options.connectTimeout = 500ms;
    options.firstRetry = 60s;
    std::promise<device::Status> first, second, third;
    {
        AccessoryClient client(
            accessory.endpoint(), identity(), AccessoryPairing{"AA", {}}, {},
            {nullptr, [&](bool reachable, const device::Status&) { reachability.push_back(reachable); }}, options);
        client.write({{1, 10, "true"}}, [&](device::Status s, std::vector<CharacteristicStatus> statuses) {
            EXPECT_TRUE(statuses.empty());
            first.set_value(s);
        });
        device::Status timedOut = first.get_future().get();
        EXPECT_NE(timedOut.message().find("did not answer in time"), std::string::npos) << timedOut.message();

        // Two more, and the client goes at once: each still completes, with an error.
        client.write({{1, 11, "5"}}, [&](device::Status s, std::vector<CharacteristicStatus>) { second.set_value(s); });
        client.write({{1, 11, "6"}}, [&](device::Status s, std::vector<CharacteristicStatus>) { third.set_value(s); });
    }
    EXPECT_FALSE(second.get_future().get().ok());
    EXPECT_FALSE(third.get_future().get().ok());
    EXPECT_EQ(reachability, std::vector<bool>{false});
}

TEST(ClientFaultTest, TextFromTheAccessoryOrTheUserReachesAReasonEscaped) {
    MisbehavingAccessory accessory(impostor(kHostileText));
    const std::pair<const char*, Endpoint> cases[] = {
        {"an impostor's identifier", accessory.endpoint()},
        {"an address typed by the user", {std::string("lamp") + kHostileText, accessory.endpoint().port}},
    };
    for (const auto& [name, endpoint] : cases) {
        auto session = Session::open(endpoint, identity(), AccessoryPairing{"AA:BB", {}}, 5s);
        EXPECT_FALSE(session.ok()) << name;
        const device::Status& status = session.status();
        EXPECT_TRUE(terminalSafe(status.message())) << name << ": " << status.message();
        EXPECT_NE(status.message().find("\\x1b]0;owned\\x07"), std::string::npos) << name << ": " << status.message();
    }
}

TEST(ClientFaultTest, TheHomeScreenLogsAnImpostorAndItsOwnNamesEscaped) {
    MisbehavingAccessory accessory(impostor(kHostileText));
    TempDirectory device;
    auto keyring = Keyring::open(device.path());
    ASSERT_TRUE(keyring.ok()) << keyring.status().message();
    ASSERT_TRUE(keyring->addPairing({"AA:BB", {}}).ok());
    AccessoryDescription description;
    description.name = std::string("Desk\x1b[2J Lamp");
    description.identifier = "A1";
    description.hap = HapAccessoryAddress{accessory.endpoint().host, accessory.endpoint().port, "AA:BB"};
    setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
    auto lamp = device::HapTransport::make(description, std::make_shared<AccessoryStore>(device.path()), device.path(),
                                           homeKitQueue());
    dispatch_async(homeKitQueue(), makeBlock([lamp] { lamp->start({}); }));

    std::string log;
    for (int tries = 0; tries < 200 && log.find("cannot be reached") == std::string::npos; ++tries) {
        std::this_thread::sleep_for(50ms);
        std::stringstream text;
        text << std::ifstream(device::systemLogPath()).rdbuf();
        log = text.str();
    }
    std::promise<void> closed;
    dispatch_async(homeKitQueue(), makeBlock([lamp, &closed] {
                       lamp->close();
                       closed.set_value();
                   }));
    closed.get_future().wait();
    lamp.reset();
    unsetenv("GLIMMORA_DEVICE");
    ASSERT_NE(log.find("cannot be reached"), std::string::npos) << log;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(terminalSafe(line)) << line;
        // Each line NSLog writes starts with its time; a forged one would not.
        EXPECT_TRUE(!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) << line;
    }
}

TEST(ClientFaultTest, WritesDuringTheBackoffFailAtOnceWithTheLastReasonAndDialNothing) {
    MisbehavingAccessory accessory([](int) { return false; });  // refuses every session
    AccessoryClient::Options options;
    options.firstRetry = 60s;
    AccessoryClient client(accessory.endpoint(), identity(), AccessoryPairing{"AA", {}}, {}, {}, options);
    std::string firstReason;
    for (int i = 0; i < 20; ++i) {
        auto done = std::make_shared<std::promise<device::Status>>();
        client.write({{1, 10, std::to_string(i)}},
                     [done](device::Status s, std::vector<CharacteristicStatus>) { done->set_value(std::move(s)); });
        auto answered = done->get_future();
        ASSERT_EQ(answered.wait_for(10s), std::future_status::ready) << "write " << i;
        device::Status status = answered.get();
        ASSERT_FALSE(status.ok()) << "write " << i;
        if (i == 0) firstReason = status.message();
        EXPECT_EQ(status.message(), firstReason) << "write " << i;
    }
    EXPECT_EQ(accessory.accepted(), 1);
}

// Runs `work` on a thread of its own on which making an eventfd fails as it does when the process
// has no descriptor left (EMFILE); threads `work` starts inherit that. Every other call works.
template <class Work>
void withoutEventfds(Work work) {
    std::thread([&] {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_eventfd2, 1, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_eventfd, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EMFILE),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ADD_FAILURE() << "cannot filter this thread's calls: " << std::strerror(errno);
        work();
    }).join();
}

TEST(ClientFaultTest, AClientThatCouldNotBeWokenRefusesToStartAndFailsEveryWrite) {
    std::vector<std::string> reachability;
    std::unique_ptr<AccessoryClient> client;
    withoutEventfds([&] {
        client = std::make_unique<AccessoryClient>(
            Endpoint{"127.0.0.1", 9}, identity(), AccessoryPairing{"AA", {}}, std::vector<CharacteristicRef>{},
            AccessoryClient::Callbacks{nullptr,
                                       [&](bool reachable, const device::Status& why) {
                                           reachability.push_back(reachable ? "reachable" : why.message());
                                       }},
            AccessoryClient::Options{});
    });
    auto done = std::make_shared<std::promise<device::Status>>();
    client->write({{1, 10, "true"}},
                  [done](device::Status s, std::vector<CharacteristicStatus>) { done->set_value(std::move(s)); });
    auto answered = done->get_future();
    bool completed = answered.wait_for(5s) == std::future_status::ready;
    EXPECT_TRUE(completed) << "the write never completed";
    if (completed) {
        device::Status status = answered.get();
        EXPECT_NE(status.message().find("cannot wait for work"), std::string::npos) << status.message();
        EXPECT_EQ(reachability, std::vector<std::string>{status.message()});
    }

    // Its end must not wait on a thread nothing can wake: a bounded wait, and a client that
    // cannot end is left behind.
    auto gone = std::make_shared<std::promise<void>>();
    std::thread([client = client.release(), gone] {
        delete client;
        gone->set_value();
    }).detach();
    EXPECT_EQ(gone->get_future().wait_for(5s), std::future_status::ready) << "the client never ended";
}

}  // namespace
