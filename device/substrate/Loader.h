// Loading the system's library into a process, as the code-injection framework does at launch.
#pragma once

#include <string>

#include "../base/Status.h"

namespace device {

// The library to load: $GLIMMORA_LIBRARY, else "libglimmora.so" next to the running program (the
// build tree), else in the installed tree's library folder beside the program's (bin/../lib/).
std::string tweakLibraryPath();

// Loads the library at `path` with dlopen, so that its constructor runs now, on this thread.
// An error gives dlopen's reason. The library stays loaded.
Status loadTweakLibrary(const std::string& path);

}  // namespace device
