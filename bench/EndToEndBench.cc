// End-to-end benchmarks across real processes: a home screen (`glimmora springboard`) driving
// ten lightbulbs of a selected room, and video apps (`glimmora play`) or channel clients feeding
// it. Figures come from the processes' activity records (what the device saw) and their CPU
// times, so each benchmark runs once per repetition and reports its figure as the manual time.
//
// - EndToEndLatency: a frame entering the video app (a display-link tick, a sample enqueued) to
//   the characteristic write issued in the home screen, median and 99th percentile, for each
//   path alone, in the steady state (the first second of the playing left out).
// - ColourServerFlood: colour messages per second the home screen takes from ten clients that
//   send as fast as they can; ColourServerTenAppsAt60Hz: whether it keeps up with ten apps at
//   60 messages a second each.
// - CpuPerVideoSecond: CPU time a video app spends per second of 1080p H.264 video on each
//   capture path, each alone, from runs with the library off and on.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <Foundation/Foundation.h>
#include <MRYIPC/ChannelClient.h>
#include <MRYIPC/ChannelSocket.h>
#include <activity/ProcessActivity.h>
#include <apps/GlimmoraContract.h>
#include <media/TestPattern.h>
#include <nlohmann/json.hpp>

#include "BenchDevice.h"
#include "SceneClip.h"
#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

constexpr const char* kChannel = device::kColourChannelName;

// Runs `glimmora ARGUMENTS` to its end; returns its user and system CPU seconds (-1 on failure).
double cpuSecondsOf(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment) {
    std::vector<std::string> argv = {glimmoraCommand()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProcessResult result = runProcess(argv, environment, std::chrono::minutes(5));
    return result.exitCode == 0 ? result.cpuSeconds : -1;
}

// --- latency -----------------------------------------------------------------------------------

// Writes a clip whose colour changes every frame, `seconds` long.
void writeColourClip(const std::string& path, int seconds) {
    const char* colours[] = {"red", "green", "blue", "yellow", "cyan", "magenta", "orange", "white"};
    std::string pattern;
    for (int i = 0; i < 30 * seconds; ++i) pattern += std::string(i ? "," : "") + colours[i % 8];
    auto segments = parseTestPattern(pattern);
    ClipSettings settings{.codec = ClipCodec::mpeg4, .width = 640, .height = 360, .fps = 30, .gop = 30};
    const device::Status status = segments.ok() ? writeTestPatternClip(path, *segments, settings) : segments.status();
    if (!status.ok()) std::fprintf(stderr, "cannot write the clip: %s\n", status.message().c_str());
}

struct LatencyRun {
    device::LatencyHistogram steady;  // from the playing's second second to its end
    device::LatencyHistogram all;     // with the start: the home screen's first writes, and the
                                      // app's first snapshots, which fault in their memory
};

// A playing of a clip whose colour changes every frame, in which only the path `kind` captures:
// the frame clock alone when the app shows the video as a player layer does, the decoder path
// alone when it plays inline. The figures are those of the steady state, from one second in.
LatencyRun latencyRun(device::CallKind kind) {
    BenchDevice device;
    std::string clip = device.path() + "/colours.mp4";
    writeColourClip(clip, 7);
    const char* mode = kind == device::CallKind::fireAndForget ? "--player-layer" : "--inline";
    BackgroundProcess app({glimmoraCommand(), "play", mode, clip}, device.environment());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    device::ActivitySnapshot before = device.homeScreenActivity();
    if (!BackgroundProcess::waitFor([&] { return !app.running(); }, std::chrono::seconds(60)))
        std::fprintf(stderr, "the video app did not end\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last writes
    const size_t path = static_cast<size_t>(kind);
    LatencyRun run;
    run.all = device.homeScreenActivity().latency[path];
    run.steady = run.all.since(before.latency[path]);
    return run;
}

void EndToEndLatency(benchmark::State& state, device::CallKind kind) {
    for (auto _ : state) {
        const LatencyRun run = latencyRun(kind);
        if (run.steady.count() == 0) {
            state.SkipWithError("no write was issued");
            return;
        }
        state.SetIterationTime(run.steady.percentileMicros(0.5) / 1e6);
        state.counters["median_ms"] = run.steady.percentileMicros(0.5) / 1000;
        state.counters["p99_ms"] = run.steady.percentileMicros(0.99) / 1000;
        state.counters["writes"] = static_cast<double>(run.steady.count());
        state.counters["max_ms_with_start"] = run.all.percentileMicros(1.0) / 1000;
    }
}
BENCHMARK_CAPTURE(EndToEndLatency, frame_clock, device::CallKind::fireAndForget)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EndToEndLatency, decoder_path, device::CallKind::acknowledged)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// --- the colour server under load ----------------------------------------------------------------

// Ten clients, each on a thread and a connection of its own, send colour messages for `seconds`:
// `perSecond` each, or as fast as they can when 0. Returns the messages sent.
uint64_t sendFromTenClients(double seconds, int perSecond) {
    std::atomic<uint64_t> sent{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c) {
        clients.emplace_back([&, c] {
            device::ipc::ChannelClient client(kChannel);
            auto start = std::chrono::steady_clock::now();
            auto end = start + std::chrono::duration<double>(seconds);
            for (long i = 0;; ++i) {
                auto now = std::chrono::steady_clock::now();
                if (now >= end) break;
                if (perSecond > 0)
                    std::this_thread::sleep_until(start + std::chrono::duration<double>(double(i) / perSecond));
                char text[64];
                double level = static_cast<double>((i * 7 + c * 13) % 256) / 255;
                std::snprintf(text, sizeof text, "%f,%f,%f,%f", level, 1 - level, 0.5, 1.0);
                client.callVoid(device::kColourMethodName, NSString::stringWithUTF8String(text));
                ++sent;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    return sent;
}

void ColourServerFlood(benchmark::State& state) {
    for (auto _ : state) {
        BenchDevice device;
        const double seconds = 3;
        uint64_t before = device.homeScreenActivity()[device::Activity::callsReceivedFireAndForget];
        uint64_t sent = sendFromTenClients(seconds, 0);
        uint64_t received = device.homeScreenActivity()[device::Activity::callsReceivedFireAndForget] - before;
        double perSecond = static_cast<double>(received) / seconds;
        state.SetIterationTime(perSecond > 0 ? 1 / perSecond : 0);
        state.counters["msgs_per_s"] = perSecond;
        state.counters["offered_per_s"] = static_cast<double>(sent) / seconds;
    }
}
BENCHMARK(ColourServerFlood)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

void ColourServerTenAppsAt60Hz(benchmark::State& state) {
    for (auto _ : state) {
        BenchDevice device;
        uint64_t sent = sendFromTenClients(3, 60);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        device::ActivitySnapshot activity = device.homeScreenActivity();
        uint64_t received = activity[device::Activity::callsReceivedFireAndForget];
        state.SetIterationTime(3);
        state.counters["sent"] = static_cast<double>(sent);
        state.counters["received"] = static_cast<double>(received);
        state.counters["kept_up"] = sent ? static_cast<double>(received) / static_cast<double>(sent) : 0;
    }
}
BENCHMARK(ColourServerTenAppsAt60Hz)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// --- CPU per second of video -----------------------------------------------------------------------

struct CpuFigures {
    double frameClock = -1, decoderPath = -1, appAlone = -1;  // CPU seconds per second of video
};

const CpuFigures& cpuRun() {
    static const CpuFigures figures = [] {
        constexpr int kSeconds = 4;
        BenchDevice device;
        std::string clip = device.path() + "/scene-1080p.mp4";
        if (device::Status written = writeSceneClip(clip, ClipCodec::h264, 1920, 1080, 30 * kSeconds); !written.ok())
            std::fprintf(stderr, "cannot write the clip: %s\n", written.message().c_str());
        // `mode`: "" full screen (both paths), "--inline" (the decoder path alone) or
        // "--player-layer" (the frame clock alone; with the library off the same as full screen).
        auto cpu = [&](bool enabled, const std::string& mode) {
            device.run({"prefs", "write", device::kGlimmoraSettingsIdentifier, device::kEnabledKey,
                        enabled ? "YES" : "NO", "--bool"});
            std::vector<std::string> arguments = {"play", clip};
            if (!mode.empty()) arguments.push_back(mode);
            return cpuSecondsOf(arguments, device.environment());
        };
        double fullOff = cpu(false, ""), frameClockOn = cpu(true, "--player-layer"), inlineOff = cpu(false, "--inline"),
               inlineOn = cpu(true, "--inline");
        CpuFigures result;
        if (fullOff < 0 || frameClockOn < 0 || inlineOff < 0 || inlineOn < 0) return result;
        result.decoderPath = (inlineOn - inlineOff) / kSeconds;
        result.frameClock = (frameClockOn - fullOff) / kSeconds;
        result.appAlone = fullOff / kSeconds;
        return result;
    }();
    return figures;
}

void CpuPerVideoSecond(benchmark::State& state, int which) {
    for (auto _ : state) {
        const CpuFigures& figures = cpuRun();
        double value = which == 0 ? figures.frameClock : which == 1 ? figures.decoderPath : figures.appAlone;
        if (figures.appAlone < 0) {
            state.SkipWithError("a video app run failed");
            return;
        }
        state.SetIterationTime(std::max(value, 0.0));
        state.counters["core_percent"] = value * 100;
    }
}
BENCHMARK_CAPTURE(CpuPerVideoSecond, frame_clock, 0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CpuPerVideoSecond, decoder_path, 1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CpuPerVideoSecond, app_without_library, 2)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
