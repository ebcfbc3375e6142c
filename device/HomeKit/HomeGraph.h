// Builds HomeKit's objects (homes, rooms, accessories, services, characteristics) from the home
// description and the accessories' stored state. Device only; HMHomeManager calls it on the
// HomeKit queue.
#pragma once

#include <string>

#include "../Foundation/Foundation.h"

#include "../base/Status.h"

struct LoadedHomes {
    Strong<NSArray> homes;   // HMHome objects in description order; empty on failure, never nil
    device::Status problem;  // why the description or the state could not be used
};

// Reads "home.json" from `directory`, gives every described characteristic without a row in the
// accessory state its described value, reads the state, and builds the objects. A missing or
// malformed description gives no homes. When the state cannot be read the homes are still built,
// with the described values, and the problem is reported; writes then try the state again.
// The home marked primary (else the first) is the one whose isPrimary is YES.
LoadedHomes loadHomes(const std::string& directory);
