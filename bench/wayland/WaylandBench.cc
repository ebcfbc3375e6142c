// A live Wayland screen across real processes: a private headless mutter (1920x1080, and 640x360,
// at 60 Hz; see tests/wayland/WaylandDesktop.h) shared through the ScreenCast portal to `glimmora play --live
// portal --framerate 60`, with a home screen serving ten lights, the screen changing colour four
// times a second (a new fullscreen window each time), as LiveBench does for an X screen:
// - WaylandCaptureToWrite: a frame's capture (mutter's stamp) to the characteristic write it leads
//   to, median and 99th percentile;
// - WaylandCpu: the app's CPU in percent of one core by thread: grabbing (the reading thread, which
//   runs the PipeWire loop and copies each picture out of shared memory, with PipeWire's own data
//   thread), showing, frame clock, the rest; beside it mutter's, which renders and copies the screen.
// Without a GPU mutter renders in software: at 1920x1080 it takes most of a two-core machine, and
// the latency shows that; the small monitor shows the chain itself.
#include <benchmark/benchmark.h>

#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <activity/ProcessActivity.h>

#include "../BenchDevice.h"
#include "../ThreadCpu.h"
#include "wayland/WaylandDesktop.h"

namespace {

struct Run {
    device::LatencyHistogram latency;
    std::map<std::string, double> cpu;
    double compositorCpu = 0;
    std::string failure;
};

// A run on a virtual monitor `height` lines high (16:9), for `seconds`.
Run waylandRun(int height, int seconds) {
    Run run;
    WaylandDesktop desktop(height * 16 / 9, height);
    if (!desktop.failure().empty()) {
        run.failure = desktop.failure();
        return run;
    }
    BenchDevice device;
    const char* colours[] = {"#e02020", "#20c040", "#3040e0", "#e0c020", "#20c0c0", "#c020c0"};
    std::unique_ptr<BackgroundProcess> window = desktop.paint(colours[0]);
    BackgroundProcess app({glimmoraCommand(), "play", "--live", "portal", "--framerate", "60"}, device.environment());
    if (!desktop.answerShareDialog(true) ||
        !BackgroundProcess::waitFor([&] { return app.err().find(" live (") != std::string::npos; },
                                    std::chrono::seconds(60))) {
        run.failure = "the screen was not shared: " + app.err();
        return run;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const device::ActivitySnapshot before = device.homeScreenActivity();
    const auto cpuBefore = cpuByRole(app.pid());
    const auto mutterBefore = cpuByRole(desktop.compositorPid());
    const auto start = std::chrono::steady_clock::now();
    for (int change = 1; std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds); ++change) {
        std::this_thread::sleep_until(start + change * std::chrono::milliseconds(250));
        if (auto next = desktop.paint(colours[change % 6])) window = std::move(next);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto cpuAfter = cpuByRole(app.pid());
    for (const auto& [role, spent] : cpuByRole(desktop.compositorPid()))
        run.compositorCpu += (spent - (mutterBefore.count(role) ? mutterBefore.at(role) : 0)) / elapsed * 100;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last writes
    const size_t path = static_cast<size_t>(device::CallKind::fireAndForget);
    run.latency = device.homeScreenActivity().latency[path].since(before.latency[path]);
    for (const auto& [role, spent] : cpuAfter)
        run.cpu[role] = (spent - (cpuBefore.count(role) ? cpuBefore.at(role) : 0)) / elapsed * 100;
    ProcessResult ended = app.stop(SIGTERM);
    if (ended.exitCode != 0) run.failure = "the app failed: " + ended.err;
    return run;
}

// One run per monitor size, shared by the two benchmarks.
const Run& sharedRun(int height) {
    static std::map<int, Run> runs;
    auto found = runs.find(height);
    if (found == runs.end()) found = runs.emplace(height, waylandRun(height, 6)).first;
    return found->second;
}

bool skipWithoutDesktop(benchmark::State& state) {
    const std::string missing = WaylandDesktop::missing();
    if (missing.empty()) return false;
    state.SkipWithError((missing + " is not installed").c_str());
    return true;
}

void WaylandCaptureToWrite(benchmark::State& state) {
    if (skipWithoutDesktop(state)) return;
    for (auto _ : state) {
        const Run& run = sharedRun(static_cast<int>(state.range(0)));
        if (!run.failure.empty() || run.latency.count() == 0) {
            state.SkipWithError(run.failure.empty() ? "no write was issued" : run.failure.c_str());
            return;
        }
        state.SetIterationTime(run.latency.percentileMicros(0.5) / 1e6);
        state.counters["median_ms"] = run.latency.percentileMicros(0.5) / 1000;
        state.counters["p99_ms"] = run.latency.percentileMicros(0.99) / 1000;
        state.counters["writes"] = static_cast<double>(run.latency.count());
    }
}
BENCHMARK(WaylandCaptureToWrite)->Arg(1080)->Arg(360)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void WaylandCpu(benchmark::State& state) {
    if (skipWithoutDesktop(state)) return;
    for (auto _ : state) {
        const Run& run = sharedRun(static_cast<int>(state.range(0)));
        if (!run.failure.empty()) {
            state.SkipWithError(run.failure.c_str());
            return;
        }
        double total = 0;
        for (const auto& [role, percent] : run.cpu) {
            state.counters[role + "_percent"] = percent;
            total += percent;
        }
        state.counters["core_percent"] = total;
        state.counters["compositor_percent"] = run.compositorCpu;
        state.SetIterationTime(total / 100);
    }
}
BENCHMARK(WaylandCpu)->Arg(1080)->Arg(360)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
