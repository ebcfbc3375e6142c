// The settings store's hot paths: `boolForKey:` on an unchanged store, read on every video frame
// (the aim is well under a microsecond), a read just after another instance wrote, and a write.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <HBPreferences/HBPreferences.h>
#include <apps/GlimmoraContract.h>
#include <apps/GlimmoraSettings.h>

#include "support/TempDirectory.h"

namespace {

// An instance on a database of its own; the environment is put back, as other benchmarks rely on it.
Strong<HBPreferences> openInFreshDevice(const TempDirectory& device) {
    const char* previous = std::getenv("GLIMMORA_DEVICE");
    std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
    auto prefs = device::openGlimmoraSettings();
    if (saved)
        setenv("GLIMMORA_DEVICE", saved->c_str(), 1);
    else
        unsetenv("GLIMMORA_DEVICE");
    return prefs;
}

void BM_PreferencesBoolForKeyUnchanged(benchmark::State& state) {
    TempDirectory device;
    auto prefs = openInFreshDevice(device);
    prefs->setObject_forKey(NSNumber::numberWithBool(YES), NSSTR(device::kActiveKey));
    for (auto _ : state) benchmark::DoNotOptimize(prefs->boolForKey(NSSTR(device::kActiveKey)));
}
BENCHMARK(BM_PreferencesBoolForKeyUnchanged)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_PreferencesBoolForKeyAfterOtherWrite(benchmark::State& state) {
    TempDirectory device;
    auto reader = openInFreshDevice(device);
    auto writer = openInFreshDevice(device);
    BOOL value = NO;
    for (auto _ : state) {
        state.PauseTiming();
        value = !value;
        writer->setObject_forKey(NSNumber::numberWithBool(value), NSSTR(device::kActiveKey));
        state.ResumeTiming();
        if (reader->boolForKey(NSSTR(device::kActiveKey)) != value) state.SkipWithError("the write was not seen");
    }
}
BENCHMARK(BM_PreferencesBoolForKeyAfterOtherWrite)->Unit(benchmark::kMicrosecond);

void BM_PreferencesWrite(benchmark::State& state) {
    TempDirectory device;
    auto prefs = openInFreshDevice(device);
    for (int i = 0; i < 20; ++i)  // a store of realistic size, which each write reloads
        prefs->setObject_forKey(NSNumber::numberWithBool(YES), NSString::stringWithFormat("Room%d", i).get());
    BOOL value = NO;
    for (auto _ : state) {
        value = !value;
        prefs->setObject_forKey(NSNumber::numberWithBool(value), NSSTR(device::kActiveKey));
    }
    if (!prefs->lastError().empty()) state.SkipWithError(prefs->lastError().c_str());
}
BENCHMARK(BM_PreferencesWrite)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
