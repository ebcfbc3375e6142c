// Loading the system's library into a (child) test process, as the simulated processes do.
#pragma once

#include <dlfcn.h>
#include <string>

#include <Foundation/Foundation.h>
#include <Foundation/FoundationDevice.h>
#include <HBPreferences/HBPreferences.h>
#include <apps/SimulatedProcess.h>
#include <dispatch/dispatch.h>
#include <substrate/Loader.h>

// The library's exported globals and functions, found by name.
struct LoadedLibrary {
    HBPreferences** preferences = nullptr;
    BOOL* readyForUpdates = nullptr;
    NSObject** homeManager = nullptr;
    void (*runOnMainQueueWithoutDeadlocking)(dispatch_block_t) = nullptr;
    std::string error;
};

// Names this process `bundleIdentifier`, sets up its classes and loads the library.
inline LoadedLibrary loadLibraryAs(const std::string& bundleIdentifier) {
    LoadedLibrary loaded;
    device::FoundationDevice::setMainBundleIdentifier(bundleIdentifier.empty() ? nullptr : bundleIdentifier.c_str());
    device::registerProcessClasses(bundleIdentifier);
    loaded.error = device::loadTweakLibrary(device::tweakLibraryPath()).message();
    if (!loaded.error.empty()) return loaded;
    void* library = dlopen(device::tweakLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    loaded.preferences = static_cast<HBPreferences**>(dlsym(library, "preferences"));
    loaded.readyForUpdates = static_cast<BOOL*>(dlsym(library, "readyForUpdates"));
    loaded.homeManager = static_cast<NSObject**>(dlsym(library, "homeManager"));
    loaded.runOnMainQueueWithoutDeadlocking =
        reinterpret_cast<void (*)(dispatch_block_t)>(dlsym(library, "runOnMainQueueWithoutDeadlocking"));
    if (!loaded.preferences || !loaded.readyForUpdates || !loaded.homeManager ||
        !loaded.runOnMainQueueWithoutDeadlocking)
        loaded.error = "an exported symbol is missing";
    return loaded;
}
