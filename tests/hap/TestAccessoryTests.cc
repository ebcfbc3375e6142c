// The ground the HAP tests stand on: the loopback-only network and the test accessory in it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "apps/LoopbackNetwork.h"
#include "support/ChildProcess.h"
#include "support/TestAccessory.h"

namespace {

// A TCP connection to 127.0.0.1:`port`; -1 with errno set when refused.
int connectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    int error = errno;
    close(fd);
    errno = error;
    return -1;
}

// Sends `request` and reads until the headers have come (at most 5 s); returns the status line.
std::string statusLineOf(int fd, const std::string& request) {
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return "write failed";
    std::string response;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (response.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0) continue;
        char buffer[1024];
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        response.append(buffer, static_cast<size_t>(got));
    }
    return response.substr(0, response.find("\r\n"));
}

}  // namespace

TEST(TestAccessory, AnswersAnUnverifiedRequestWith470AndClosesItsPortWhenStopped) {
    TestAccessory accessory;
    ASSERT_TRUE(accessory.start());

    int fd = connectTo(accessory.port());
    ASSERT_GE(fd, 0) << std::strerror(errno);
    EXPECT_EQ(statusLineOf(fd, "GET /accessories HTTP/1.1\r\nHost: lamp\r\n\r\n").substr(0, 13), "HTTP/1.1 470 ");
    close(fd);

    accessory.stop();
    EXPECT_FALSE(accessory.running());
    EXPECT_EQ(connectTo(accessory.port()), -1);
    EXPECT_EQ(errno, ECONNREFUSED);

    ASSERT_TRUE(accessory.restart());
    fd = connectTo(accessory.port());
    EXPECT_GE(fd, 0) << "the accessory listens again on the same port after a restart";
    if (fd >= 0) close(fd);
}

TEST(LoopbackNetwork, EntersANewNamespaceOnlyWhileSingleThreaded) {
    ASSERT_TRUE(device::inLoopbackOnlyNetwork());

    // With a second thread the namespace would hold only one of them: refused.
    std::promise<void> release;
    std::thread waiting([future = release.get_future()]() mutable { future.wait(); });
    device::Status refused = device::enterLoopbackOnlyNetwork();
    release.set_value();
    waiting.join();
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.message().find("threads"), std::string::npos) << refused.message();

#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under the thread checker a forked child has a thread of the checker's own besides its one";
#endif
    // A forked child has one thread: it enters a namespace of its own, where this process's
    // listener cannot be reached.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    uint16_t port = ntohs(address.sin_port);
    EXPECT_EQ(runInChild([&]() -> std::string {
                  int here = connectTo(port);
                  if (here < 0) return "the listener is not reachable before entering";
                  close(here);
                  device::Status entered = device::enterLoopbackOnlyNetwork();
                  if (!entered.ok()) return entered.message();
                  if (!device::inLoopbackOnlyNetwork()) return "not loopback-only after entering";
                  if (connectTo(port) >= 0 || errno != ECONNREFUSED) return "the old namespace's listener answered";
                  return {};
              }),
              "");
    close(listener);
}
