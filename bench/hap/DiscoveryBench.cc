// Lamps found on the network, timed across real processes inside the loopback-only network:
// - from `glimmora home discover` starting to the test accessory's row on its output (the process's
//   start included), with each of hap-nodejs's advertisers;
// - from a paired lamp coming back on another port (the accessory listening and announcing) to its
//   first change logged by the lamp (and, as a counter, to the home screen logging that it moved:
//   the advertiser probes its name for about 750 ms before it announces), while the home screen follows a clip whose
//   colour changes every frame: the browser hearing it, the home recording the new port, the running home making the
//   lamp's link anew, a verified session, and the write.
// Each runs once per repetition and reports manual time.
#include <benchmark/benchmark.h>

#include <fstream>
#include <optional>
#include <thread>

#include "GlimmoraCommand.h"
#include "LampFollowing.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"
#include "support/TestAccessory.h"

namespace {

void DiscoverToFirstListed(benchmark::State& state) {
    TestAccessory lamp;
    lamp.setAdvertiser(state.range(0) == 0 ? "bonjour-hap" : "ciao");
    TempDirectory device;
    if (!lamp.start()) {
        state.SkipWithError("the test accessory did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // its own announcements are over
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        BackgroundProcess discover({glimmoraCommand(), "--device", device.path(), "home", "discover", "--seconds", "5"},
                                   {});
        bool listed = BackgroundProcess::waitFor(
            [&] {
                if (discover.out().find(lamp.identifier()) != std::string::npos) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return false;
            },
            std::chrono::seconds(5));
        const auto seen = std::chrono::steady_clock::now();
        if (!listed) {
            state.SkipWithError("the accessory was not listed within 5 s");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(seen - started).count());
        discover.stop(SIGTERM);
    }
    state.SetLabel(state.range(0) == 0 ? "bonjour-hap" : "ciao");
}
BENCHMARK(DiscoverToFirstListed)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void MovedLampToFirstWrite(benchmark::State& state) {
    for (auto _ : state) {
        TestAccessory lamp;
        TempDirectory device;
        const std::string home = device.path() + "/empty-home.json";
        std::ofstream(home) << R"({"homes": [{"name": "Home", "rooms": [{"name": "Screen"}]}]})";
        const std::string clip = device.path() + "/colours.mp4";
        const device::Status written = writeChangingClip(clip, 30);
        if (!lamp.start() || !written.ok() || !glimmora(device.path(), {"home", "load", home}) ||
            !glimmora(device.path(), {"home", "select", "Screen"}) ||
            !glimmora(device.path(),
                      {"home", "pair", "Lamp", "--room", "Screen", "--code", lamp.code(), "--id", lamp.identifier()})) {
            state.SkipWithError("the device could not be set up");
            return;
        }
        std::map<std::string, std::string> environment{{"GLIMMORA_DEVICE", device.path()}};
        BackgroundProcess homeScreen({glimmoraCommand(), "springboard"}, environment);
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the colour server
        BackgroundProcess app({glimmoraCommand(), "play", "--player-layer", clip}, environment);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        lamp.stop();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const size_t before = fileSize(lamp.logPath());
        if (!lamp.moveToAnotherPort()) {
            state.SkipWithError("the lamp did not come back");
            return;
        }
        const auto back = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> heard;
        bool writtenTo = BackgroundProcess::waitFor(
            [&] {
                if (!heard && homeScreen.err().find("moved to") != std::string::npos)
                    heard = std::chrono::steady_clock::now();
                if (fileSize(lamp.logPath()) > before) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return false;
            },
            std::chrono::seconds(15));
        const auto seen = std::chrono::steady_clock::now();
        if (!writtenTo || !app.running()) {
            state.SkipWithError(writtenTo ? "the clip ended first" : "no write reached the moved lamp in 15 s");
            return;
        }
        if (heard) state.counters["heard_ms"] = std::chrono::duration<double>(*heard - back).count() * 1000;
        double seconds = std::chrono::duration<double>(seen - back).count();
        state.SetIterationTime(seconds);
        state.counters["first_write_ms"] = seconds * 1000;
    }
}
BENCHMARK(MovedLampToFirstWrite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
