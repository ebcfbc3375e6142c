#include "TestAccessory.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "apps/LoopbackNetwork.h"

#ifndef GLIMMORA_TEST_ACCESSORY_DIR
#error "GLIMMORA_TEST_ACCESSORY_DIR must name the source tree's tests/accessory"
#endif

namespace {

// A port nothing listens on now, from the kernel; 0 when there is none.
uint16_t freePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// Node, from PATH (posix_spawn takes a path).
std::string nodeCommand() {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = folder + "/node";
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::string identifierFor(uint16_t port) {
    char text[32];
    std::snprintf(text, sizeof text, "0E:47:4C:00:%02X:%02X", port >> 8, port & 0xff);
    return text;
}

}  // namespace

TestAccessory::TestAccessory(int lights, uint16_t port, std::string name)
    : lights_(lights),
      port_(port != 0 ? port : freePort()),
      name_(std::move(name)),
      identifier_(identifierFor(port_)),
      storagePath_(folder_.path() + "/storage"),
      logPath_(folder_.path() + "/accessory.log") {
    std::filesystem::create_directory(storagePath_);
}

TestAccessory::~TestAccessory() { stop(); }

testing::AssertionResult TestAccessory::start() {
    if (!device::inLoopbackOnlyNetwork()) {
        return testing::AssertionFailure()
               << "refusing to start the test accessory: this process is not in a "
                  "loopback-only network (enter one first: device::enterLoopbackOnlyNetwork)";
    }
    if (running()) return testing::AssertionFailure() << "the test accessory is already running";
    if (port_ == 0) return testing::AssertionFailure() << "no free port for the test accessory";
    std::string accessoryDir = GLIMMORA_TEST_ACCESSORY_DIR;
    if (!std::filesystem::exists(accessoryDir + "/node_modules/hap-nodejs")) {
        return testing::AssertionFailure() << "the test accessory's packages are not installed in " << accessoryDir
                                           << "/node_modules: run scripts/setup --tests";
    }
    std::string node = nodeCommand();
    if (node.empty()) return testing::AssertionFailure() << "node is not installed: run scripts/setup --tests";

    std::vector<std::string> argv = {node,           accessoryDir + "/accessory.js",
                                     "--port",       std::to_string(port_),
                                     "--code",       kSetupCode,
                                     "--storage",    storagePath_,
                                     "--lights",     std::to_string(lights_),
                                     "--username",   identifier_,
                                     "--advertiser", advertiser_};
    if (!name_.empty()) argv.insert(argv.end(), {"--name", name_});
    process_ = std::make_unique<BackgroundProcess>(argv, std::map<std::string, std::string>{}, logPath_);

    std::string ready = "ready " + std::to_string(port_) + "\n";
    bool started = BackgroundProcess::waitFor(
        [&] { return process_->out().find(ready) != std::string::npos || !process_->running(); },
        std::chrono::seconds(20));
    if (started && process_->running()) return testing::AssertionSuccess();
    bool ended = !process_->running();
    process_.reset();
    return testing::AssertionFailure() << "the test accessory on port " << port_
                                       << (ended ? " ended before it was ready" : " was not ready within 20 s")
                                       << "; its log:\n"
                                       << log();
}

void TestAccessory::stop() {
    if (process_) process_->stop(SIGTERM);
    process_.reset();
}

testing::AssertionResult TestAccessory::restart() {
    stop();
    return start();
}

testing::AssertionResult TestAccessory::moveToAnotherPort() {
    stop();
    // The name stays too: it is announced, and a lamp's name does not change with its port.
    if (name_.empty()) name_ = (lights_ == 1 ? "Test Lamp " : "Test Bridge ") + std::to_string(port_);
    uint16_t next = 0;
    for (int tries = 0; tries < 10 && (next == 0 || next == port_); ++tries) next = freePort();
    port_ = next;
    return start();
}

testing::AssertionResult TestAccessory::reset() {
    stop();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(storagePath_, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return start();
}

void TestAccessory::kill() {
    if (process_) process_->stop(SIGKILL);
    process_.reset();
}

bool TestAccessory::running() { return process_ && process_->running(); }

std::string TestAccessory::log() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
