// A real HomeKit accessory for tests: tests/accessory/accessory.js (on hap-nodejs) run with Node as
// a child process, with lightbulbs that have On, Brightness, Saturation and Hue. It runs only inside
// a loopback-only network (device/apps/LoopbackNetwork.h): outside one, `start` fails the test.
#pragma once

#include <gtest/gtest.h>
#include <cstdint>
#include <memory>
#include <string>

#include "Subprocess.h"
#include "TempDirectory.h"

class TestAccessory {
public:
    static constexpr const char* kSetupCode = "031-45-154";

    // One lightbulb accessory (`lights` 1) or a bridge of `lights` lightbulbs, named `name` (the
    // accessory's default when empty), on `port` (0: a free port, chosen at the first start). Each
    // object has a fresh storage folder of its own, kept across restarts.
    explicit TestAccessory(int lights = 1, uint16_t port = 0, std::string name = {});
    // Which of hap-nodejs's advertisers announces it over multicast DNS ("bonjour-hap", the
    // default, or "ciao"), from its next start.
    void setAdvertiser(std::string advertiser) { advertiser_ = std::move(advertiser); }
    // How many lightbulbs it has from its next start (a bridge whose lamps changed).
    void setLights(int lights) { lights_ = lights; }
    ~TestAccessory();
    TestAccessory(const TestAccessory&) = delete;
    TestAccessory& operator=(const TestAccessory&) = delete;

    // Starts the accessory and waits (at most 20 s) until it listens. Use as ASSERT_TRUE(a.start()).
    testing::AssertionResult start();
    // Ends it with SIGTERM, as a user would; it closes its port and keeps its pairings.
    void stop();
    // stop(), then start() again on the same port with the same storage: its pairings survive.
    testing::AssertionResult restart();
    // stop(), then start() again on another free port with the same identity and storage, as a
    // bridge restarted on a new port does: its pairings survive.
    testing::AssertionResult moveToAnotherPort();
    // A factory reset: stop(), its storage (pairings included) emptied, then start() again. Its
    // identifier stays, as a real lamp's does.
    testing::AssertionResult reset();
    // Ends it with SIGKILL, at once, as a crash or a pulled plug would.
    void kill();
    bool running();

    uint16_t port() const { return port_; }
    const char* code() const { return kSetupCode; }
    // The accessory's identifier, as it presents it in pairing ("0E:47:4C:00:..").
    const std::string& identifier() const { return identifier_; }
    // Its standard error, appended across restarts: one line per characteristic change.
    const std::string& logPath() const { return logPath_; }
    std::string log() const;

private:
    int lights_;
    uint16_t port_;
    std::string name_, identifier_, advertiser_ = "bonjour-hap";
    TempDirectory folder_;
    std::string storagePath_, logPath_;
    std::unique_ptr<BackgroundProcess> process_;
};
