// A real lamp's reachability as the home screen's HomeKit sees it: the lamp killed turns its
// HMAccessory unreachable and tells the accessory's delegate; the lamp back, reachable again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include <HomeKit/HomeKit.h>

#include "support/TestAccessory.h"
#include "system/DeviceProcesses.h"

namespace system_test {
namespace {

using namespace std::chrono_literals;

std::atomic<int> reachabilityCalls{0};
std::atomic<int> callsOffMain{0};

void didUpdateReachability(id, SEL, id) {
    reachabilityCalls++;
    if (!NSThread::isMainThread()) callsOffMain++;
}

Strong<NSObject> makeAccessoryDelegate() {
    static Class cls = [] {
        Class c = objc_allocateClassPair(NSObject::objcClass(), "LampReachabilityDelegate", 0);
        class_addMethod(c, sel_registerName("accessoryDidUpdateReachability:"),
                        reinterpret_cast<IMP>(didUpdateReachability), "v24@0:8@16");
        objc_registerClassPair(c);
        return c;
    }();
    return Strong<NSObject>::adopt(class_createInstance(cls, 0));
}

template <class F>
bool runMainUntil(F condition, std::chrono::seconds limit) {
    auto deadline = RunLoopClock::now() + limit;
    while (!condition()) {
        if (RunLoopClock::now() >= deadline) return false;
        NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode, RunLoopClock::now() + 20ms);
    }
    return true;
}

class LampReachability : public DeviceTest {
protected:
    void TearDown() override { unsetenv("GLIMMORA_DEVICE"); }
    TestAccessory lamp;
};

TEST_F(LampReachability, AKilledLampTurnsUnreachableAndTellsTheDelegateAndComesBack) {
    ASSERT_TRUE(lamp.start());
    installHome(homeOf("Flat", {room("Lounge", Json::array())}), {});
    ProcessResult paired = glimmora({"home", "pair", "Desk Lamp", "--room", "Lounge", "--address", "127.0.0.1",
                                     "--port", std::to_string(lamp.port()), "--code", lamp.code()});
    ASSERT_EQ(paired.exitCode, 0) << paired.err;

    setenv("GLIMMORA_DEVICE", devicePath().c_str(), 1);
    auto manager = Strong<HMHomeManager>::adopt(HMHomeManager::alloc()->init());
    ASSERT_TRUE(runMainUntil([&] { return manager->homes()->count() > 0; }, 10s));
    auto* home = static_cast<HMHome*>(manager->homes()->firstObject());
    ASSERT_EQ(home->accessories()->count(), 1u);
    Strong<HMAccessory> accessory(static_cast<HMAccessory*>(home->accessories()->firstObject()));
    Strong<NSObject> delegate = makeAccessoryDelegate();
    accessory->setDelegate(delegate.get());
    // Its session is verified soon after the homes arrive.
    runMainUntil([] { return false; }, 1s);
    EXPECT_TRUE(accessory->isReachable());
    reachabilityCalls = 0;

    lamp.kill();
    EXPECT_TRUE(runMainUntil([&] { return !accessory->isReachable(); }, 30s)) << "still reachable";
    EXPECT_EQ(reachabilityCalls.load(), 1);

    ASSERT_TRUE(lamp.restart());
    EXPECT_TRUE(runMainUntil([&] { return accessory->isReachable(); }, 60s)) << "never reachable again";
    EXPECT_EQ(reachabilityCalls.load(), 2);
    EXPECT_EQ(callsOffMain.load(), 0);
    accessory->setDelegate(nil);
}

}  // namespace
}  // namespace system_test
