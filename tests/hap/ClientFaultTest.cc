// The client facing an accessory that misbehaves: one that takes the connection and never answers,
// and one that answers with bytes that are not HTTP. Served by a listener on loopback inside the
// test program's loopback-only network.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "hap/AccessoryClient.h"
#include "hap/Session.h"
#include "support/TempDirectory.h"

using namespace device::hap;
using namespace std::chrono_literals;

namespace {

// Listens on 127.0.0.1; each connection gets `reply` once something arrives (nothing when empty)
// and is held open until the listener goes.
class MisbehavingAccessory {
public:
    explicit MisbehavingAccessory(std::string reply) : reply_(std::move(reply)) {
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
    ~MisbehavingAccessory() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
        for (int client : clients_) close(client);
    }
    Endpoint endpoint() const { return {"127.0.0.1", port_}; }

private:
    void serve() {
        for (int served = 0; served < 8; ++served) {  // bounded: no test makes more connections
            int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            clients_.push_back(client);
            char request[4096];
            if (!reply_.empty() && read(client, request, sizeof request) > 0) {
                ssize_t sent = write(client, reply_.data(), reply_.size());
                (void)sent;
            }
        }
    }

    std::string reply_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::vector<int> clients_;
    std::thread thread_;
};

ControllerIdentity identity() {
    TempDirectory directory;
    return Keyring::open(directory.path())->controller();
}

}  // namespace

TEST(ClientFaultTest, MalformedAnswersDropTheConnectionWithAReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"not HTTP", "\x16\x03\x01 garbage\r\n\r\n"},
        {"malformed chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nnothex\r\n"},
        {"malformed TLV8", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n\x06\x05\x02"},
    };
    for (const auto& [name, reply] : cases) {
        MisbehavingAccessory accessory(reply);
        device::Status status;
        EXPECT_FALSE(Session::open(accessory.endpoint(), identity(), AccessoryPairing{"AA", {}}, 5s, &status)) << name;
        EXPECT_FALSE(status.ok()) << name;
        EXPECT_NE(status.message().find(accessory.endpoint().text()), std::string::npos)
            << name << ": " << status.message();
    }
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
