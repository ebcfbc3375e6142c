// A simulated iOS process: a real Linux process with a bundle identifier, the platform classes
// that exist in that kind of process, the system's library loaded, and the main run loop.
#pragma once

#include <ostream>
#include <string>

#include "../base/Status.h"

namespace device {

struct ProcessOptions {
    std::string bundleIdentifier;  // empty: a process without one
    bool describe = false;         // load, print what the library changed, and exit
};

// Runs the process on the calling (main) thread until SIGINT or SIGTERM, or, with `describe`,
// until the description is printed to `out`. Returns the exit status; failures are explained on
// standard error.
int runSimulatedProcess(const ProcessOptions& options, std::ostream& out);

// What every simulated process does before its main run loop: SIGINT and SIGTERM set to stop the
// main run loop, the bundle identifier, the platform classes and the library loaded. Call from the
// main thread before any other thread starts. An error says why when the library cannot be loaded.
Status prepareProcess(const std::string& bundleIdentifier);

// Registers the platform classes that exist in a process with this bundle identifier: SpringBoard
// in the home screen, the player classes in the video apps, neither elsewhere.
void registerProcessClasses(const std::string& bundleIdentifier);

}  // namespace device
