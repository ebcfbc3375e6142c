// A home change to the first write to a new lamp, across real processes: the home screen serving
// and a video app playing a clip whose colour changes every frame, then `glimmora home pair` adds
// the test accessory to the selected room. The figure runs from `home pair` returning to the lamp
// logging its first change (so it includes the lamp's own handling of the write, an upper bound on
// the write being issued); it runs once per repetition and reports it as manual time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include <media/ClipWriter.h>
#include <media/TestPattern.h>

#include "GlimmoraCommand.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"
#include "support/TestAccessory.h"

namespace {

size_t fileSize(const std::string& path) {
    std::ifstream file(path, std::ios::ate | std::ios::binary);
    return file ? static_cast<size_t>(file.tellg()) : 0;
}

void HomeChangeToFirstLampWrite(benchmark::State& state) {
    for (auto _ : state) {
        TestAccessory lamp(1, 18261);
        TempDirectory device;
        const std::string home = device.path() + "/empty-home.json";
        std::ofstream(home) << R"({"homes": [{"name": "Home", "rooms": [{"name": "Screen"}]}]})";
        const std::string clip = device.path() + "/colours.mp4";
        std::string pattern;
        const char* colours[] = {"red", "green", "blue", "yellow", "cyan", "magenta", "orange", "white"};
        for (int i = 0; i < 30 * 20; ++i) pattern += std::string(i ? "," : "") + colours[i % 8];
        auto segments = parseTestPattern(pattern);
        ClipSettings settings{.codec = ClipCodec::mpeg4, .width = 320, .height = 180, .fps = 30, .gop = 30};
        const device::Status written =
            segments.ok() ? writeTestPatternClip(clip, *segments, settings) : segments.status();
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
        bool written_to = BackgroundProcess::waitFor(
            [&] {
                if (fileSize(lamp.logPath()) > before) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return false;
            },
            std::chrono::seconds(10));
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
