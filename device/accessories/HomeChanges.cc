#include "HomeChanges.h"

#include <algorithm>

#include "../Foundation/DeviceDirectory.h"
#include "../Foundation/DeviceLock.h"
#include "../Foundation/PrintableText.h"
#include "../homes/HomeDescriptionWriter.h"

namespace device {

Status beginHomeChange(std::string* directory, DeviceLock* lock, HomesDescription* description) {
    *directory = deviceDirectory();
    if (Status problem = ensurePrivateDirectory(*directory); !problem.ok())
        return Status::error("the device directory cannot be used: " + problem.message());
    if (Status problem = lockHomeChanges(*directory, lock); !problem.ok()) return problem;
    std::string path = homeDescriptionPath();
    bool missing = false;
    Status problem = readHomeDescription(path, path, description, &missing);
    if (missing) {
        *description = HomesDescription();
        return Status::OK();
    }
    return problem;
}

Status installEditedHome(const HomesDescription& edited) {
    std::string text = writeHomeDescription(edited);
    HomesDescription description;
    if (Status problem = parseHomeDescription(text, "the new home description", &description); !problem.ok())
        return problem;
    return installHome(text, description, AccessoryStore::Sync::keepDescribed);
}

Status installHome(std::string_view text, const HomesDescription& description, AccessoryStore::Sync sync) {
    std::string directory = deviceDirectory();
    if (Status problem = installHomeDescription(directory, text); !problem.ok()) return problem;
    AccessoryStore store(directory);
    if (Status problem = store.synchronise(describedValues(description), sync); !problem.ok())
        return Status::error("the home description is installed, but the accessory state was not updated: " +
                             problem.message());
    return Status::OK();
}

namespace {

template <typename Visit>
void forEachPairedLamp(const HomesDescription& description, Visit visit) {
    for (const HomeDescription& home : description.homes)
        for (const RoomDescription& room : home.rooms)
            for (const AccessoryDescription& accessory : room.accessories)
                if (accessory.hap) visit(accessory);
}

}  // namespace

Status checkPairedLampsKept(const HomesDescription& current, const HomesDescription& next, std::string_view change) {
    std::vector<std::string> kept;
    forEachPairedLamp(next, [&](const AccessoryDescription& lamp) { kept.push_back(lamp.hap->pairingId); });
    std::string dropped;
    forEachPairedLamp(current, [&](const AccessoryDescription& lamp) {
        if (std::find(kept.begin(), kept.end(), lamp.hap->pairingId) != kept.end()) return;
        dropped += "\n  " + quotedPrintable(lamp.name) + " (" + printable(lamp.hap->pairingId) + ")";
    });
    if (dropped.empty()) return Status::OK();
    return Status::error(std::string(change) +
                         " would drop paired lamps, whose pairings would then stay on the lamps with nothing "
                         "here to remove them:" +
                         dropped +
                         "\nunpair them first (`glimmora home unpair NAME`), or keep their entries in the new home "
                         "description; nothing was changed");
}

std::vector<hap::AccessoryPairing> pairingsWithoutLamp(const hap::Keyring& keyring,
                                                       const HomesDescription& description) {
    std::vector<hap::AccessoryPairing> alone;
    for (const hap::AccessoryPairing& pairing : keyring.pairings()) {
        bool used = false;
        forEachPairedLamp(description, [&](const AccessoryDescription& lamp) {
            used = used || lamp.hap->pairingId == pairing.pairingId;
        });
        if (!used) alone.push_back(pairing);
    }
    return alone;
}

}  // namespace device
