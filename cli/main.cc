// glimmora: runs the simulated device's processes and the tools around them.
#include <cstdlib>
#include <iostream>
#include <string>

#include <Foundation/DeviceDirectory.h>

#include "Commands.h"
#include "DemoChild.h"

namespace {

// Refuses, before the command does anything, a device directory it could not use (one others can
// write to, one of another user, not a directory): otherwise a command that reads before it writes
// would first report on the device as if it were usable. make-video, service (whose units run on
// the default device) and a demo on a temporary device of its own use no chosen device.
void refuseUnusableDevice(const CLI::App& app) {
    if (app.got_subcommand("make-video") || app.got_subcommand("service")) return;
    const char* chosen = std::getenv("GLIMMORA_DEVICE");
    if (app.got_subcommand("demo") && (chosen == nullptr || *chosen == '\0')) return;
    if (device::Status problem = device::checkDeviceDirectory(device::deviceDirectory()); !problem.ok()) {
        std::cerr << "glimmora: " << problem.message() << std::endl;
        throw CLI::RuntimeError(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    endWithTheDemo();
    CLI::App app{
        "Glimmora: the lights of the home follow the colour of the video being watched.\n"
        "Runs the processes of a simulated device and the tools to look into it."};
    app.require_subcommand(1);
    app.fallthrough();
    std::string device;
    app.add_option("--device", device,
                   "The device directory (default: $GLIMMORA_DEVICE, else ~/.local/share/glimmora/device). A missing "
                   "one is made private (0700); one that others can write to is refused")
        ->envname("GLIMMORA_DEVICE")
        // An empty name would quietly mean the default device, which is not what was asked for.
        ->check(CLI::Validator(
            [](std::string& value) {
                return value.empty() ? std::string(
                                           "an empty name is not a device directory; leave --device out for "
                                           "the default one")
                                     : std::string();
            },
            "DIR"));
    // Child processes and every part of the device find the directory through the environment.
    app.parse_complete_callback([&] {
        if (!device.empty()) setenv("GLIMMORA_DEVICE", device.c_str(), 1);
        refuseUnusableDevice(app);
    });

    addAppCommand(app);
    addSpringBoardCommand(app);
    addPrefsCommand(app);
    addHomeCommand(app);
    addPlayCommand(app);
    addDemoCommand(app);
    addLightsCommand(app);
    addMakeVideoCommand(app);
    addServiceCommand(app);
    addSettingsCommand(app);

    CLI11_PARSE(app, argc, argv);
    return 0;
}
