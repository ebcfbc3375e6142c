// The CPU a live source's app spends, by the role of each thread: "frame_clock" (the main thread,
// where the frame clock samples the player view), "grabbing" (the thread reading the source, and
// PipeWire's loop threads), "showing" (handing pictures to the player view) and "rest".
#pragma once

#include <sys/types.h>
#include <map>
#include <string>

// The user and system CPU seconds of each thread of `pid` so far, summed by role; empty when the
// process is gone.
std::map<std::string, double> cpuByRole(pid_t pid);
