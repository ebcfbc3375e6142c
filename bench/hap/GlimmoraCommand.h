// Runs `glimmora --device DEVICE arguments...` to its end for the real-lamp benchmarks; false (with
// the command's standard error printed) when it fails.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "support/Subprocess.h"

inline bool glimmora(const std::string& device, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {glimmoraCommand(), "--device", device});
    ProcessResult result = runProcess(arguments, {});
    if (result.exitCode != 0) std::fprintf(stderr, "%s failed: %s\n", arguments[3].c_str(), result.err.c_str());
    return result.exitCode == 0;
}
