// The HomeKit Accessory Protocol controller against the test accessory, over loopback: a write of
// all four lightbulb characteristics on a verified session (median and p99, and the controller's
// own CPU per write), the same through the persistent client, and pair-verify. A program of its
// own, since it must move into a loopback-only network before any thread starts.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <future>

#include "apps/LoopbackNetwork.h"
#include "hap/AccessoryClient.h"
#include "hap/AccessoryDatabase.h"
#include "hap/CharacteristicsJson.h"
#include "hap/Pairing.h"
#include "hap/Session.h"
#include "support/TempDirectory.h"
#include "support/TestAccessory.h"

using namespace device::hap;
using namespace std::chrono_literals;

namespace {

// One accessory, paired once, for every benchmark in the run.
struct Paired {
    TestAccessory accessory;
    TempDirectory keys;
    std::optional<Keyring> keyring;
    AccessoryPairing pairing;
    uint64_t on = 0, brightness = 0, saturation = 0, hue = 0;
    std::string error;

    Paired() {
        if (!accessory.start()) {
            error = "the test accessory did not start";
            return;
        }
        auto opened = Keyring::open(keys.path());
        if (!opened.ok()) {
            error = opened.status().message();
            return;
        }
        keyring = std::move(*opened);
        auto paired = pairSetup(endpoint(), accessory.code(), keyring->controller(), 10s);
        if (!paired.ok()) {
            error = paired.status().message();
            return;
        }
        pairing = *paired;
        auto session = Session::open(endpoint(), keyring->controller(), pairing, 5s);
        if (!session.ok()) {
            error = session.status().message();
            return;
        }
        auto answer = (*session)->request("GET", "/accessories", {}, 5s);
        if (!answer.ok()) {
            error = answer.status().message();
            return;
        }
        auto services = parseAccessoryDatabase(answer->body);
        if (!services.ok()) {
            error = services.status().message();
            return;
        }
        for (const auto& service : *services) {
            for (const auto& c : service.characteristics) {
                if (c.type == kOnCharacteristic) on = c.iid;
                if (c.type == kBrightnessCharacteristic) brightness = c.iid;
                if (c.type == kSaturationCharacteristic) saturation = c.iid;
                if (c.type == kHueCharacteristic) hue = c.iid;
            }
        }
    }
    Endpoint endpoint() const { return {"127.0.0.1", accessory.port()}; }

    // Four values that differ from the previous write's.
    std::vector<CharacteristicWrite> writes(int64_t i) const {
        return {{1, on, i % 2 ? "true" : "false"},
                {1, brightness, std::to_string(i % 100)},
                {1, saturation, std::to_string((i * 7) % 100)},
                {1, hue, std::to_string((i * 13) % 360)}};
    }
};

Paired& paired() {
    static Paired instance;
    return instance;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The calling thread's user and system CPU time so far, in seconds.
std::pair<double, double> threadUserAndSystemSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// Median and p99 of the iterations' times, as counters in milliseconds.
void reportLatencies(benchmark::State& state, std::vector<double>& seconds) {
    if (seconds.empty()) return;
    std::sort(seconds.begin(), seconds.end());
    state.counters["median_ms"] = seconds[seconds.size() / 2] * 1e3;
    state.counters["p99_ms"] = seconds[std::min(seconds.size() - 1, seconds.size() * 99 / 100)] * 1e3;
}

// PUT /characteristics with On, Brightness, Saturation and Hue on one verified session, on this
// thread: its CPU time is the controller's own (the accessory is another process).
void BM_HapWriteFourOnSession(benchmark::State& state) {
    Paired& p = paired();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    auto opened = Session::open(p.endpoint(), p.keyring->controller(), p.pairing, 5s);
    if (!opened.ok()) return state.SkipWithError(opened.status().message().c_str());
    Session& session = **opened;
    std::vector<double> seconds;
    double cpu = 0;
    int64_t i = 0;
    auto [userBefore, systemBefore] = threadUserAndSystemSeconds();
    for (auto _ : state) {
        std::string body = writeBody(p.writes(i++));
        double cpuBefore = threadCpuSeconds();
        auto started = std::chrono::steady_clock::now();
        auto answer = session.request("PUT", "/characteristics", body, 5s);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        cpu += threadCpuSeconds() - cpuBefore;
        if (!answer.ok() || answer->status != 204) return state.SkipWithError("a write was not taken");
    }
    auto [userAfter, systemAfter] = threadUserAndSystemSeconds();
    reportLatencies(state, seconds);
    double writes = static_cast<double>(seconds.size());
    state.counters["controller_cpu_us"] = cpu * 1e6 / writes;
    // The split, over the whole loop: system time is mostly loopback TCP, charged to the sender.
    state.counters["controller_user_us"] = (userAfter - userBefore) * 1e6 / writes;
    state.counters["controller_sys_us"] = (systemAfter - systemBefore) * 1e6 / writes;
}
BENCHMARK(BM_HapWriteFourOnSession)->Iterations(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same write through the persistent client the device's HomeKit uses (a queue and its thread).
void BM_HapWriteFourThroughClient(benchmark::State& state) {
    Paired& p = paired();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    AccessoryClient client(p.endpoint(), p.keyring->controller(), p.pairing, {}, {}, {});
    std::vector<double> seconds;
    int64_t i = 0;
    for (auto _ : state) {
        std::promise<bool> taken;
        auto started = std::chrono::steady_clock::now();
        client.write(p.writes(i++),
                     [&](device::Status status, std::vector<CharacteristicStatus>) { taken.set_value(status.ok()); });
        bool ok = taken.get_future().get();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        if (!ok) return state.SkipWithError("a write was not taken");
    }
    reportLatencies(state, seconds);
}
BENCHMARK(BM_HapWriteFourThroughClient)->Iterations(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Connect and pair-verify M1..M4.
void BM_HapPairVerify(benchmark::State& state) {
    Paired& p = paired();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    std::vector<double> seconds;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        auto session = Session::open(p.endpoint(), p.keyring->controller(), p.pairing, 5s);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        if (!session.ok()) return state.SkipWithError(session.status().message().c_str());
    }
    reportLatencies(state, seconds);
}
BENCHMARK(BM_HapPairVerify)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Before any thread: the accessory and everything talking to it stay on this machine.
    if (device::Status entered = device::enterLoopbackOnlyNetwork(); !entered.ok()) {
        std::fprintf(stderr, "hap bench: %s\n", entered.message().c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
