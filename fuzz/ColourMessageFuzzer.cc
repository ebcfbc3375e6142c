// The colour message as the home-screen process handles it: the bytes are the text argument of
// `_updateColors:`, read by the colour server and applied by the light controller to the lights of
// the selected rooms of a small home, whose writes are waited for. Each input first applies a
// fixed colour, so what it changes does not depend on the inputs before it.
#include <chrono>
#include <fstream>

#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>
#include <HomeKit/HomeKit.h>
#include <UIKit/UIKit.h>

#include "FuzzSupport.h"
#include "capture/FrameColour.h"
#include "globals/Globals.h"
#include "home/HomeManager.h"
#include "platform/Settings.h"
#include "server/ColourServer.h"

namespace {

// Two selected rooms and one that is not; lights with and without metadata, with ranges of every
// kind, and one whose writes fail.
constexpr const char* kHome = R"({"homes": [
  {"name": "Casa", "uuid": "A0000000-0000-4000-8000-000000000001", "primary": true, "rooms": [
    {"name": "Living Room", "uuid": "B0000000-0000-4000-8000-000000000011", "accessories": [
      {"name": "Lamp", "latencyMs": 0, "services": [{"type": "lightbulb", "characteristics": [
        {"type": "power", "metadata": {"format": "bool"}},
        {"type": "brightness", "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100, "stepValue": 1}},
        {"type": "saturation", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 100}},
        {"type": "hue", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 360}}]}]},
      {"name": "Bare Bulb", "latencyMs": 0, "services": [{"type": "lightbulb", "characteristics": [
        {"type": "power"}, {"type": "brightness"}, {"type": "saturation"}, {"type": "hue"}]}]},
      {"name": "Odd Ranges", "latencyMs": 0, "services": [
        {"type": "lightbulb", "name": "Wide", "characteristics": [
          {"type": "brightness", "metadata": {"format": "int", "minimumValue": -1000000, "maximumValue": 1000000000}},
          {"type": "hue", "metadata": {"format": "float", "minimumValue": -360, "maximumValue": 0.001}}]},
        {"type": "lightbulb", "name": "Narrow", "characteristics": [
          {"type": "saturation", "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 0}},
          {"type": "hue", "metadata": {"format": "float", "minimumValue": 10, "maximumValue": 20, "stepValue": 5}}]}]},
      {"name": "Fan", "latencyMs": 0, "services": [{"type": "fan", "characteristics": [{"type": "power"}]}]}]},
    {"name": "Kitchen", "uuid": "B0000000-0000-4000-8000-000000000012", "accessories": [
      {"name": "Broken Lamp", "latencyMs": 0, "fault": "error", "services": [{"type": "lightbulb", "characteristics": [
        {"type": "power"}, {"type": "hue"}]}]}]},
    {"name": "Guest Room", "uuid": "B0000000-0000-4000-8000-000000000021", "accessories": [
      {"name": "Guest Lamp", "latencyMs": 0, "services": [{"type": "lightbulb", "characteristics": [
        {"type": "power"}, {"type": "brightness"}]}]}]}]}]})";

HomeManager* controller = nullptr;

template <class F>
bool runUntil(F condition, std::chrono::milliseconds limit) {
    const auto deadline = RunLoopClock::now() + limit;
    while (!condition()) {
        if (RunLoopClock::now() >= deadline) return false;
        NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode,
                                                     RunLoopClock::now() + std::chrono::milliseconds(1));
    }
    return true;
}

// Hands `text` to the colour server and waits for every write it caused.
void handle(std::string text) {
    colourServer::updateColors(nil, SEL_(_updateColors:), NSString::stringWithString(std::move(text)).get());
    const bool settled = runUntil(
        [] {
            for (const auto& [characteristic, inFlight] : controller->updating())
                if (inFlight) return false;
            return true;
        },
        std::chrono::seconds(5));
    if (!settled) fuzz::fail("the lights' writes did not complete");
}

std::vector<fuzz::Seed> makeSeeds() {
    // Messages as the video apps make them, and the shapes the server reads differently.
    std::vector<fuzz::Seed> seeds;
    const double colours[][4] = {{1, 0.5, 0.25, 1}, {0, 0, 0, 1}, {1, 1, 1, 1}, {0.2, 0.9, 0.4, 1}, {0, 0, 0, 0}};
    for (const auto& c : colours) {
        Strong<NSString> message =
            colorMessageFromColor(UIColor::colorWithRed_green_blue_alpha(c[0], c[1], c[2], c[3]));
        seeds.push_back({"sent-" + std::to_string(seeds.size()), message->string()});
    }
    seeds.push_back({"five-fields", "1,0,0,1,7"});
    seeds.push_back({"three-fields", "1,0,0"});
    seeds.push_back({"not-numbers", "x,1e39,-2,nan"});
    seeds.push_back({"exponents", " 1e-3,\t+.5,0x1p-2,INF"});
    return seeds;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    const std::string& device = fuzz::deviceDirectory();
    std::ofstream(device + "/home.json") << kHome;
    Strong<HBPreferences> settings =
        Strong<HBPreferences>::adopt(HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier()));
    for (const char* room : {"B0000000-0000-4000-8000-000000000011", "B0000000-0000-4000-8000-000000000012"})
        settings->setObject_forKey(NSNumber::numberWithBool(true).get(), NSString::stringWithUTF8String(room).get());

    controller = makeObject<HomeManager>().detach();
    controller->init();
    homeManager = controller;
    if (!runUntil([] { return controller->hasPrimaryHome(); }, std::chrono::seconds(10)))
        fuzz::fail("the home did not load");
    if (controller->lights().size() != 5) fuzz::fail("the home does not have the five selected lights");
    // Past the catalogue's publication two seconds after the controller was made, so that no input
    // meets it.
    runUntil([] { return false; }, std::chrono::milliseconds(2100));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    handle("0,0,0,0");
    handle(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
