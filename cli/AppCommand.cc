#include <cstdlib>
#include <iostream>

#include <apps/SimulatedProcess.h>

#include "Commands.h"

namespace {

// Runs the process and ends this one without static destructors: the process's threads may still
// be serving, and must not have the ground pulled from under them.
[[noreturn]] void runAndExit(const device::ProcessOptions& options) {
    int status = device::runSimulatedProcess(options, std::cout);
    std::cout.flush();
    std::_Exit(status);
}

}  // namespace

void addAppCommand(CLI::App& app) {
    auto options = std::make_shared<device::ProcessOptions>();
    CLI::App* command = app.add_subcommand(
        "app",
        "Run a simulated iOS process with this bundle identifier: it sets up the classes such a process "
        "has, loads libglimmora.so and runs its main run loop until SIGINT or SIGTERM");
    command->add_option("BUNDLE_ID", options->bundleIdentifier,
                        "The bundle identifier, e.g. com.apple.springboard, com.apple.mobilesafari, "
                        "com.google.ios.youtube (none: a process without one)");
    command->add_flag("--describe", options->describe,
                      "Load the library, print every change it made to the run-time and each class it touched, "
                      "and exit");
    command->callback([options] { runAndExit(*options); });
}

void addSpringBoardCommand(CLI::App& app) {
    CLI::App* command =
        app.add_subcommand("springboard",
                           "Run the home screen (com.apple.springboard) until SIGINT or SIGTERM: with the library "
                           "enabled it serves the colour channel and drives the lights of the selected rooms");
    command->callback([] { runAndExit({"com.apple.springboard", false}); });
}
