// A frame entering the video app to a real lamp's answer, across real processes: the test
// accessory paired into a device with `glimmora home pair`, the home screen serving, and a video
// app showing a clip whose colour changes every frame. The figure comes from the home screen's
// activity record (from a frame's origin to the accessory's answer to its write), in the steady
// state, from one second in; it runs once per repetition and reports the median as manual time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include <activity/ProcessActivity.h>
#include "GlimmoraCommand.h"
#include "LampFollowing.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"
#include "support/TestAccessory.h"

namespace {

void FrameToRealLampAnswer(benchmark::State& state) {
    for (auto _ : state) {
        // A port below the range the kernel hands out to the other benchmarks' connections.
        TestAccessory lamp(1, 18260);
        TempDirectory device;
        std::string clip = device.path() + "/colours.mp4";
        const device::Status written = writeChangingClip(clip, 7, 640, 360);
        if (!lamp.start() || !written.ok() ||
            !glimmora(device.path(), {"home", "pair", "Lamp", "--room", "Screen", "--address", "127.0.0.1", "--port",
                                      std::to_string(lamp.port()), "--code", lamp.code()}) ||
            !glimmora(device.path(), {"home", "select", "Screen"})) {
            std::fprintf(stderr, "the accessory's log:\n%s\n", lamp.log().c_str());
            state.SkipWithError("the device could not be set up");
            return;
        }
        std::map<std::string, std::string> environment{{"GLIMMORA_DEVICE", device.path()}};
        BackgroundProcess homeScreen({glimmoraCommand(), "springboard"}, environment);
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the colour server and the lamp's session
        BackgroundProcess app({glimmoraCommand(), "play", "--player-layer", clip}, environment);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        device::ActivitySnapshot before;
        device::readProcessActivity(device.path(), homeScreen.pid(), before);
        if (!BackgroundProcess::waitFor([&] { return !app.running(); }, std::chrono::seconds(60)))
            std::fprintf(stderr, "the video app did not end\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        device::ActivitySnapshot after;
        device::readProcessActivity(device.path(), homeScreen.pid(), after);
        device::LatencyHistogram steady = after.acknowledgedLatency.since(before.acknowledgedLatency);
        if (steady.count() == 0) {
            state.SkipWithError("no write was answered");
            return;
        }
        state.SetIterationTime(steady.percentileMicros(0.5) / 1e6);
        state.counters["median_ms"] = steady.percentileMicros(0.5) / 1000;
        state.counters["p99_ms"] = steady.percentileMicros(0.99) / 1000;
        state.counters["answers"] = static_cast<double>(steady.count());
    }
}
BENCHMARK(FrameToRealLampAnswer)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
