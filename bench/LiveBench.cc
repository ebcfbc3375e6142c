// Live video benchmarks across real processes, on a private 1920x1080 X screen (Xvfb), grabbed
// whole at 60 frames a second by `glimmora play --live x11:...` with a home screen serving ten
// lights:
// - LiveCaptureToWrite: a frame's capture to the characteristic write it leads to, median and 99th
//   percentile, while the screen changes colour four times a second (a new window each time).
// - LiveCpu: the app's CPU time in percent of one core, split by thread: grabbing (the reading
//   thread: x11grab's copy of the screen), showing (the player thread: handing each picture to the
//   player view with the scale it is shown at), frame clock (the main thread: the snapshot of the
//   player view, its colour and the send), the rest (the channel, dispatch queues). Beside it, the
//   X server's own CPU: with shared memory it is the X server that copies the screen for the grab.
// Both need Xvfb and xlogo; they are skipped without them.
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <activity/ProcessActivity.h>

#include "BenchDevice.h"
#include "ThreadCpu.h"
#include "support/XScreen.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct LiveRun {
    device::LatencyHistogram latency;   // capture to write, frame clock path, after the first second
    std::map<std::string, double> cpu;  // percent of one core by role, after the first second
    double xServerCpu = 0;              // percent of one core
    std::string failure;
};

// Plays the screen for `seconds` after a second of warming up, changing its colour four times a
// second.
LiveRun liveRun(int seconds) {
    LiveRun run;
    XScreen screen(kWidth, kHeight);
    if (screen.display().empty()) {
        run.failure = "no X screen";
        return run;
    }
    BenchDevice device;
    const char* colours[] = {"#e02020", "#20c040", "#3040e0", "#e0c020", "#20c0c0", "#c020c0"};
    std::unique_ptr<BackgroundProcess> window = screen.paint(colours[0], 0, 0, kWidth, kHeight);
    BackgroundProcess app({glimmoraCommand(), "play", "--live", "x11:" + screen.display(), "--framerate", "60"},
                          device.environment());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const device::ActivitySnapshot before = device.homeScreenActivity();
    const std::map<std::string, double> cpuBefore = cpuByRole(app.pid());
    const std::map<std::string, double> xBefore = cpuByRole(screen.serverPid());
    const auto start = std::chrono::steady_clock::now();
    for (int change = 1; std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds); ++change) {
        const auto due = start + change * std::chrono::milliseconds(250);
        std::this_thread::sleep_until(due);
        std::unique_ptr<BackgroundProcess> next = screen.paint(colours[change % 6], 0, 0, kWidth, kHeight);
        if (next) window = std::move(next);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::map<std::string, double> cpuAfter = cpuByRole(app.pid());
    const std::map<std::string, double> xAfter = cpuByRole(screen.serverPid());
    for (const auto& [role, seconds] : xAfter)
        run.xServerCpu += (seconds - (xBefore.count(role) ? xBefore.at(role) : 0)) / elapsed * 100;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last writes
    const size_t path = static_cast<size_t>(device::CallKind::fireAndForget);
    run.latency = device.homeScreenActivity().latency[path].since(before.latency[path]);
    for (const auto& [role, seconds] : cpuAfter) {
        const auto earlier = cpuBefore.find(role);
        run.cpu[role] = (seconds - (earlier == cpuBefore.end() ? 0 : earlier->second)) / elapsed * 100;
    }
    ProcessResult ended = app.stop(SIGTERM);
    if (ended.exitCode != 0) run.failure = "the app failed: " + ended.err;
    return run;
}

const LiveRun& sharedRun() {
    static const LiveRun run = liveRun(6);
    return run;
}

bool skipWithoutX(benchmark::State& state) {
    if (XScreen::available()) return false;
    state.SkipWithError("Xvfb or xlogo is not installed");
    return true;
}

void LiveCaptureToWrite(benchmark::State& state) {
    if (skipWithoutX(state)) return;
    for (auto _ : state) {
        const LiveRun& run = sharedRun();
        if (!run.failure.empty() || run.latency.count() == 0) {
            state.SkipWithError(run.failure.empty() ? "no write was issued" : run.failure.c_str());
            return;
        }
        state.SetIterationTime(run.latency.percentileMicros(0.5) / 1e6);
        state.counters["median_ms"] = run.latency.percentileMicros(0.5) / 1000;
        state.counters["p99_ms"] = run.latency.percentileMicros(0.99) / 1000;
        state.counters["writes"] = static_cast<double>(run.latency.count());
        state.counters["limit_ms"] = 1000.0 / 60 + 3;
    }
}
BENCHMARK(LiveCaptureToWrite)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void LiveCpu(benchmark::State& state) {
    if (skipWithoutX(state)) return;
    for (auto _ : state) {
        const LiveRun& run = sharedRun();
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
        state.counters["x_server_percent"] = run.xServerCpu;
        state.SetIterationTime(total / 100);
    }
}
BENCHMARK(LiveCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
