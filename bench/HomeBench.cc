// The home side's hot paths: one colour applied to a large home in the steady state (every write
// unchanged or in flight), and a colour message from the socket to the writes it causes.
#include <atomic>
#include <fstream>

#include <benchmark/benchmark.h>

#include <Foundation/Foundation.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <dispatch/dispatch.h>
#include <objc/MethodRegistration.h>

#include "globals/Globals.h"
#include "home/HomeManager.h"
#include "platform/Channel.h"
#include "platform/Settings.h"
#include "server/ColourServer.h"
#include "support/TempDirectory.h"

namespace {

// 20 rooms of 5 lightbulbs each, every light with power, brightness, saturation and hue.
std::string largeHome() {
    std::string rooms;
    for (int room = 0; room < 20; ++room) {
        std::string accessories;
        for (int light = 0; light < 5; ++light) {
            accessories += std::string(light ? "," : "") + R"({"name": "Light )" + std::to_string(room * 5 + light) +
                           R"(", "latencyMs": 0, "services": [{"type": "lightbulb", "characteristics": [
                  {"type": "power", "metadata": {"format": "bool"}},
                  {"type": "brightness", "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100}},
                  {"type": "saturation", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 100}},
                  {"type": "hue", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 360}}]}]})";
        }
        char uuid[40];
        std::snprintf(uuid, sizeof uuid, "B0000000-0000-4000-8000-%012d", room);
        rooms += std::string(room ? "," : "") + R"({"name": "Room )" + std::to_string(room) + R"(", "uuid": ")" + uuid +
                 R"(", "accessories": [)" + accessories + "]}";
    }
    return R"({"homes": [{"name": "Bench", "primary": true, "rooms": [)" + rooms + "]}]}";
}

void runMainLoopUntil(const std::function<bool()>& condition) {
    auto deadline = RunLoopClock::now() + std::chrono::seconds(20);
    while (!condition() && RunLoopClock::now() < deadline)
        NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode,
                                                     RunLoopClock::now() + std::chrono::milliseconds(2));
}

bool nothingInFlight(HomeManager* controller) {
    for (const auto& [characteristic, inFlight] : controller->updating())
        if (inFlight) return false;
    return true;
}

// A controller on the large home with rooms 0, 2, 4, ... selected, its homes delivered.
HomeManager* largeHomeController() {
    static TempDirectory device;
    static HomeManager* controller = [] {
        setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
        std::ofstream(device.path() + "/home.json") << largeHome();
        auto settings =
            Strong<HBPreferences>::adopt(HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier()));
        for (int room = 0; room < 20; room += 2) {
            char uuid[40];
            std::snprintf(uuid, sizeof uuid, "B0000000-0000-4000-8000-%012d", room);
            settings->setObject_forKey(NSNumber::numberWithBool(YES).get(), NSString::stringWithUTF8String(uuid).get());
        }
        HomeManager* made = HomeManager::sharedManager();
        runMainLoopUntil([made] { return made->lights().size() == 50; });
        return made;
    }();
    return controller;
}

void BM_ApplyColourSteadyState(benchmark::State& state) {
    HomeManager* controller = largeHomeController();
    std::vector<Strong<UIColor>> colour = {UIColor::colorWithRed_green_blue_alpha(0.8, 0.3, 0.1, 1.0)};
    controller->applyColors(colour);
    runMainLoopUntil([controller] { return nothingInFlight(controller); });
    // Every value is held now: each further call only reads, compares and writes nothing.
    for (auto _ : state) controller->applyColors(colour);
    state.SetLabel(std::to_string(controller->lights().size()) + " lights of 100, 10 of 20 rooms");
}
BENCHMARK(BM_ApplyColourSteadyState)->Unit(benchmark::kMicrosecond);

// The home screen's colour method: the library's handler.
void serveColourMessage(NSObject* self, NSObject* message) {
    colourServer::updateColors(self, updateColorsSelector(), message);
}

void BM_ColourMessageToWrites(benchmark::State& state) {
    HomeManager* controller = largeHomeController();
    homeManager = controller;
    static Strong<NSObject> server = [] {
        Class cls = objc_allocateClassPair(NSObject::objcClass(), "HomeBenchColourServer", 0);
        objc_registerClassPair(cls);
        objc_addInstanceMethod<&serveColourMessage>(cls, sel_getName(updateColorsSelector()));
        Strong<NSObject> target = Strong<NSObject>::adopt(class_createInstance(cls, 0));
        MRYIPCCenter::centerNamed(glimmoraServerName())->addTarget_action(target, updateColorsSelector());
        return target;
    }();
    MRYIPCCenter* center = MRYIPCCenter::centerNamed(glimmoraServerName());
    const char* messages[] = {"0.900000,0.100000,0.100000,1.000000", "0.100000,0.100000,0.900000,1.000000"};
    std::atomic<bool> handled{false};
    // The reply wakes this thread's run loop, so the wait ends as soon as it comes.
    auto done = makeBlock(
        [&handled](id) { dispatch_async(dispatch_get_main_queue(), makeBlock([&handled] { handled = true; })); });
    int turn = 0;
    for (auto _ : state) {
        handled = false;
        center->callExternalMethod_withArguments_completion(
            updateColorsSelector(), NSString::stringWithUTF8String(messages[turn++ % 2]).get(), done);
        // The hand-off runs on the main queue, which this thread serves while it waits.
        while (!handled)
            NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode,
                                                         RunLoopClock::now() + std::chrono::milliseconds(50));
    }
    state.SetLabel("acknowledged call: socket, parse, hand-off, 50 lights, reply");
    runMainLoopUntil([controller] { return nothingInFlight(controller); });
    homeManager = nullptr;
}
BENCHMARK(BM_ColourMessageToWrites)->Unit(benchmark::kMicrosecond);

}  // namespace
