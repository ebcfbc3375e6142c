// Changing the device's home as a whole: installing a new home description with the accessory
// state brought in line, and the rules that keep real lamps' pairings reachable through every
// change. The caller holds the home lock (lockHomeChanges) across reading, checking and
// installing, so that no other change slips in between.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "../homes/HomeDescription.h"
#include "AccessoryStore.h"

#include "../base/Status.h"
#include "../hap/Keyring.h"

namespace device {

class DeviceLock;

// The start of every change of the home and the keyring: opens the device directory (its path in
// `*directory`), takes the home lock (held until `*lock` goes) and reads the home description to
// edit (an empty one when there is none).
Status beginHomeChange(std::string* directory, DeviceLock* lock, HomesDescription* description);

// Writes `edited` and installs it, checked and with its identifiers resolved, bringing the
// accessory state in line. Under the home lock.
Status installEditedHome(const HomesDescription& edited);

// Installs `text` (already parsed as `description`) as the device's home.json and synchronises
// the accessory state with it.
Status installHome(std::string_view text, const HomesDescription& description, AccessoryStore::Sync sync);

// Ok when `next` keeps every paired lamp of `current` (by its pairing identifier); else an error
// naming the lamps that would be dropped and how to unpair them first. A lamp dropped from the
// home description keeps its pairing on the lamp and its keys here, and no command could reach
// it by name any more.
Status checkPairedLampsKept(const HomesDescription& current, const HomesDescription& next, std::string_view change);

// The keyring's pairings that no accessory of `description` uses: left by a pairing that was
// interrupted, or by a home description replaced by hand. `glimmora home unpair ID` removes them.
std::vector<hap::AccessoryPairing> pairingsWithoutLamp(const hap::Keyring& keyring,
                                                       const HomesDescription& description);

}  // namespace device
