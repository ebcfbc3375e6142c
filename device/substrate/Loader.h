// Loading the system's library into a process, as the code-injection framework does at launch.
#pragma once

#include <string>

namespace device {

// The library to load: $GLIMMORA_LIBRARY, else "libglimmora.so" next to the running program.
std::string tweakLibraryPath();

// Loads the library at `path` with dlopen, so that its constructor runs now, on this thread.
// Returns an empty string on success, else dlopen's reason. The library stays loaded.
std::string loadTweakLibrary(const std::string& path);

}  // namespace device
