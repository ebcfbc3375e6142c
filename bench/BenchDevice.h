// The benchmarks' device across real processes: a fresh device directory whose home has ten colour
// lightbulbs in one selected room, "Screen", and a home screen (`glimmora springboard`) serving it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <activity/ProcessActivity.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

constexpr int kBenchLights = 10;

// The bench process itself uses the device too (its channel clients), so GLIMMORA_DEVICE points at
// it while the device lives.
class BenchDevice {
public:
    BenchDevice();
    ~BenchDevice();

    std::map<std::string, std::string> environment() const { return {{"GLIMMORA_DEVICE", directory_.path()}}; }
    const std::string& path() const { return directory_.path(); }
    // Runs `glimmora ARGUMENTS` on the device to its end, saying on standard error when it fails.
    void run(std::vector<std::string> arguments);
    device::ActivitySnapshot homeScreenActivity() const;

private:
    TempDirectory directory_;
    std::unique_ptr<BackgroundProcess> homeScreen_;
};
