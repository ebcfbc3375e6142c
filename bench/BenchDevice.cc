#include "BenchDevice.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <MRYIPC/ChannelSocket.h>
#include <apps/GlimmoraContract.h>
#include <nlohmann/json.hpp>

namespace {

std::string benchHome() {
    using json = nlohmann::ordered_json;
    auto percentage = [] {
        return json{{"format", "int"}, {"minimumValue", 0}, {"maximumValue", 100}, {"stepValue", 1}};
    };
    json accessories = json::array();
    for (int i = 1; i <= kBenchLights; ++i) {
        std::string name = "Bulb " + std::to_string(i);
        accessories.push_back(
            {{"name", name},
             {"services",
              {{{"type", "lightbulb"},
                {"name", name},
                {"characteristics",
                 {{{"type", "power"}, {"value", false}, {"metadata", {{"format", "bool"}}}},
                  {{"type", "brightness"}, {"value", 0}, {"metadata", percentage()}},
                  {{"type", "saturation"}, {"value", 0}, {"metadata", percentage()}},
                  {{"type", "hue"},
                   {"value", 0},
                   {"metadata",
                    {{"format", "float"}, {"minimumValue", 0}, {"maximumValue", 360}, {"stepValue", 1}}}}}}}}}});
    }
    json home = {
        {"homes",
         {{{"name", "Bench"}, {"primary", true}, {"rooms", {{{"name", "Screen"}, {"accessories", accessories}}}}}}}};
    return home.dump(2);
}

}  // namespace

BenchDevice::BenchDevice() {
    setenv("GLIMMORA_DEVICE", directory_.path().c_str(), 1);
    std::string homeFile = directory_.path() + "/bench-home.json";
    std::ofstream(homeFile) << benchHome();
    run({"home", "load", homeFile});
    run({"home", "select", "Screen"});
    homeScreen_ =
        std::make_unique<BackgroundProcess>(std::vector<std::string>{glimmoraCommand(), "springboard"}, environment());
    std::string path = device::ipc::channelSocketPath(device::kColourChannelName).value_or("");
    bool up = BackgroundProcess::waitFor([&] {
        int socket = device::ipc::connectChannel(path);
        if (socket >= 0) close(socket);
        return socket >= 0;
    });
    if (!up) std::fprintf(stderr, "the home screen did not serve: %s\n", homeScreen_->err().c_str());
}

BenchDevice::~BenchDevice() {
    homeScreen_.reset();
    unsetenv("GLIMMORA_DEVICE");
}

void BenchDevice::run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), glimmoraCommand());
    ProcessResult result = runProcess(arguments, environment());
    if (result.exitCode != 0) std::fprintf(stderr, "%s failed: %s\n", arguments[1].c_str(), result.err.c_str());
}

device::ActivitySnapshot BenchDevice::homeScreenActivity() const {
    device::ActivitySnapshot snapshot;
    device::readProcessActivity(directory_.path(), homeScreen_->pid(), snapshot);
    return snapshot;
}
