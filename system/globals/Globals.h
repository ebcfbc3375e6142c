// The library's exported globals and the main-queue helper, visible to other code in the process.
#pragma once

#include <dispatch/dispatch.h>

#include "platform/Settings.h"

class HomeManager;

#define GLIMMORA_EXPORT extern "C" __attribute__((visibility("default")))

// The settings store, opened once when the library loads; lives until the process ends.
GLIMMORA_EXPORT HBPreferences* preferences;
// Whether the decoder path may decode the next sample. Starts YES. A plain exported byte, but the
// library reads and writes it only with atomic loads and stores: the decoder's callback and the
// channel's completion set it on their own threads while the enqueuing thread reads it, and an
// unsynchronised byte shared so would be a data race.
GLIMMORA_EXPORT BOOL readyForUpdates;
// The light controller of the home-screen process, set when the home screen has launched.
GLIMMORA_EXPORT HomeManager* homeManager;

// Runs `block` at once on the main thread, otherwise synchronously on the main queue; the block
// has finished when the call returns. Any thread.
GLIMMORA_EXPORT void runOnMainQueueWithoutDeadlocking(dispatch_block_t block);
