// The library's exported globals and the main-queue helper, visible to other code in the process.
#pragma once

#include <dispatch/dispatch.h>

#include "platform/Settings.h"

class HomeManager;

#define GLIMMORA_EXPORT extern "C" __attribute__((visibility("default")))

// The settings store, opened once when the library loads; lives until the process ends.
GLIMMORA_EXPORT HBPreferences* preferences;
// Whether the decoder path may decode the next sample. Starts YES.
GLIMMORA_EXPORT BOOL readyForUpdates;
// The light controller of the home-screen process, set when the home screen has launched.
GLIMMORA_EXPORT HomeManager* homeManager;

// Runs `block` at once on the main thread, otherwise synchronously on the main queue; the block
// has finished when the call returns. Any thread.
GLIMMORA_EXPORT void runOnMainQueueWithoutDeadlocking(dispatch_block_t block);
