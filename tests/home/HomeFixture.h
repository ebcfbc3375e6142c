// What the light controller's tests share: a fresh device directory with a home description of the
// test's own, room switches, a controller whose HomeKit has delivered its homes, and waiting on the
// main run loop (the tests run on the main thread, as the controller does).
#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <Foundation/Foundation.h>
#include <HomeKit/HomeKit.h>

#include "home/HomeManager.h"
#include "platform/Settings.h"
#include "support/TempDirectory.h"

// The controller with its protected members in reach of the tests.
class ExposedHomeManager : public HomeManager {
public:
    static Class objcClass() { return HomeManager::objcClass(); }
    using HomeManager::writeCharacteristic;
};

class HomeTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1); }

    void writeHome(const std::string& json) { std::ofstream(device_.path() + "/home.json") << json; }

    static Strong<HBPreferences> settings() {
        return Strong<HBPreferences>::adopt(HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier()));
    }

    // Runs the main run loop until `condition` holds, for at most `limit`.
    template <class F>
    static bool runUntil(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto deadline = RunLoopClock::now() + limit;
        while (!condition()) {
            if (RunLoopClock::now() >= deadline) return false;
            NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode,
                                                         RunLoopClock::now() + std::chrono::milliseconds(10));
        }
        return true;
    }

    // A new controller (not the shared one) whose HomeKit has delivered the homes; for a home
    // description without homes, one that has had time to.
    static Strong<ExposedHomeManager> makeController(bool expectHomes = true) {
        auto controller = makeObject<ExposedHomeManager>();
        controller->init();
        if (expectHomes)
            runUntil([&] { return controller->hasPrimaryHome(); });
        else
            runUntil([] { return false; }, std::chrono::milliseconds(300));
        return controller;
    }

    static void select(const char* identifierText, bool on = true) {
        settings()->setObject_forKey(NSNumber::numberWithBool(on).get(),
                                     NSString::stringWithUTF8String(identifierText).get());
    }

    // The characteristic of `type` of a light, or nil.
    static HMCharacteristic* characteristic(HMService* light, NSString* type) {
        for (const Strong<NSObject>& object : *light->characteristics()) {
            auto* c = static_cast<HMCharacteristic*>(object.get());
            if (c->characteristicType()->isEqualToString(type)) return c;
        }
        return nil;
    }
    // The integer HomeKit holds for a characteristic, or -1 when it holds none.
    static long long held(HMCharacteristic* c) {
        Strong<NSObject> value = c->value();
        auto* number = objc_cast<NSNumber>(value.get());
        return number ? number->longLongValue() : -1;
    }

    // Waits until no write of `controller` is in flight.
    static bool settle(HomeManager* controller) {
        return runUntil([&] {
            for (const auto& [characteristic, inFlight] : controller->updating())
                if (inFlight) return false;
            return true;
        });
    }

    TempDirectory device_;
};
