// A home change to the first write to a new lamp, across real processes: the home screen serving
// and a video app playing a clip whose colour changes every frame, then `glimmora home pair` adds
// the test accessory to the selected room. The figure runs from `home pair` returning to the lamp
// logging its first change (so it includes the lamp's own handling of the write, an upper bound on
// the write being issued); it runs once per repetition and reports it as manual time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "GlimmoraCommand.h"
#include "LampFollowing.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"
#include "support/TestAccessory.h"

namespace {

void HomeChangeToFirstLampWrite(benchmark::State& state) {
    for (auto _ : state) {
        TestAccessory lamp(1, 18261);
        TempDirectory device;
        const std::string home = device.path() + "/empty-home.json";
        std::ofstream(home) << R"({"homes": [{"name": "Home", "rooms": [{"name": "Screen"}]}]})";
        const std::string clip = device.path() + "/colours.mp4";
        const device::Status written = writeChangingClip(clip, 20);
        if (!lamp.start() || !written.ok() || !glimmora(device.path(), {"home", "load", home}) ||
            !glimmora(device.path(), {"home", "select", "Screen"})) {
            state.SkipWithError("the device could not be set up");
            return;
        }
        std::map<std::string, std::string> environment{{"GLIMMORA_DEVICE", device.path()}};
        BackgroundProcess homeScreen({glimmoraCommand(), "springboard"}, environment);
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the colour server
        BackgroundProcess app({glimmoraCommand(), "play", "--player-layer", clip}, environment);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const size_t before = fileSize(lamp.logPath());
        if (!glimmora(device.path(), {"home", "pair", "Lamp", "--room", "Screen", "--address", "127.0.0.1", "--port",
                                      std::to_string(lamp.port()), "--code", lamp.code()})) {
            state.SkipWithError("the lamp could not be paired");
            return;
        }
        const auto paired = std::chrono::steady_clock::now();
        bool written_to = waitForGrowth(lamp.logPath(), before, std::chrono::seconds(10));
        const auto seen = std::chrono::steady_clock::now();
        if (!written_to || !app.running()) {
            state.SkipWithError(written_to ? "the clip ended first" : "no write reached the new lamp in 10 s");
            return;
        }
        double seconds = std::chrono::duration<double>(seen - paired).count();
        state.SetIterationTime(seconds);
        state.counters["first_write_ms"] = seconds * 1000;
    }
}
BENCHMARK(HomeChangeToFirstLampWrite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
