#include "RealAccessoryPairing.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>

#include "../Foundation/DeviceDirectory.h"
#include "../Foundation/DeviceLock.h"
#include "../Foundation/PrintableText.h"
#include "../homes/CharacteristicValue.h"
#include "../homes/HomeDescription.h"
#include "../homes/HomeDescriptionWriter.h"
#include "../homes/TypeNames.h"
#include "AccessoryStore.h"

#include "../hap/AccessoryDatabase.h"
#include "../hap/Keyring.h"
#include "../hap/Pairing.h"
#include "../hap/PairingRemoval.h"
#include "../hap/Session.h"
#include "../hap/Tlv8.h"
#include "HomeChanges.h"
#include "LightbulbEntries.h"

namespace device {

namespace {

namespace hap = device::hap;

constexpr std::chrono::milliseconds kExchangeTimeout{10000};
// How long each write to a paired accessory may take before it counts as failed.
constexpr int kWriteTimeoutMs = 3000;

std::string quote(const std::string& text) { return quotedPrintable(text); }

// The home `name` names (empty: the primary one, else the first; one is made when there is none).
HomeDescription* findHome(HomesDescription& description, const std::string& name, Status* problem) {
    std::vector<HomeDescription>& homes = description.homes;
    if (!name.empty()) {
        for (HomeDescription& home : homes)
            if (home.name == name) return &home;
        *problem = Status::error("there is no home named " + quote(name));
        return nullptr;
    }
    for (HomeDescription& home : homes)
        if (home.primary) return &home;
    if (homes.empty()) {
        HomeDescription made;
        made.name = "Home";
        made.primary = true;
        homes.push_back(std::move(made));
    }
    return &homes.front();
}

// Removes this controller's pairing on the accessory.
Status removeOnAccessory(const hap::Endpoint& endpoint, const hap::ControllerIdentity& controller,
                         const hap::AccessoryPairing& pairing) {
    StatusOr<std::unique_ptr<hap::Session>> session =
        hap::Session::open(endpoint, controller, pairing, kExchangeTimeout);
    if (!session.ok()) return session.status();
    return hap::removePairing(**session, controller.pairingId);
}

// Every accessory entry of the description, with the list that holds it.
struct EntryPlace {
    HomeDescription* home;
    std::vector<AccessoryDescription>* accessories;
    size_t index;
    AccessoryDescription& entry() const { return (*accessories)[index]; }
};

std::vector<EntryPlace> accessoryEntries(HomesDescription& description) {
    std::vector<EntryPlace> places;
    for (HomeDescription& home : description.homes)
        for (RoomDescription& room : home.rooms)
            for (size_t i = 0; i < room.accessories.size(); ++i) places.push_back({&home, &room.accessories, i});
    return places;
}

// Whether `entry` is a real lamp's reached with the pairing `pairingId`.
bool usesPairing(const AccessoryDescription& entry, const std::string& pairingId) {
    return entry.hap && entry.hap->pairingId == pairingId;
}

// Removes the entries at `places` (of one description), last first so the others' indexes hold.
void eraseEntries(std::vector<EntryPlace> places) {
    std::sort(places.begin(), places.end(), [](const EntryPlace& a, const EntryPlace& b) {
        return a.accessories != b.accessories ? a.accessories < b.accessories : a.index > b.index;
    });
    for (const EntryPlace& place : places) place.accessories->erase(place.accessories->begin() + place.index);
}

// A message to go on with "; ..." or inside parentheses: without its own final full stop.
std::string clause(const std::string& message) {
    return !message.empty() && message.back() == '.' ? message.substr(0, message.size() - 1) : message;
}

bool isBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
}

// The pairing of this device's that the accessory at `endpoint` proves it holds, if any: one of
// `candidates`, each tried with a verified session (which sends nothing once verified).
std::optional<hap::AccessoryPairing> ownPairingAt(const hap::Endpoint& endpoint, const hap::Keyring& keyring,
                                                  const std::vector<hap::AccessoryPairing>& candidates) {
    for (const hap::AccessoryPairing& candidate : candidates) {
        if (hap::Session::open(endpoint, keyring.controller(), candidate, kExchangeTimeout).ok()) return candidate;
    }
    return std::nullopt;
}

// Takes back a pairing with the accessory at `endpoint` that pair-setup may have left there
// without this device learning its key, and clears the note of it; ok when nothing is left.
Status takeBackInterrupted(const hap::Endpoint& endpoint, hap::Keyring& keyring) {
    const std::vector<hap::Endpoint>& pending = keyring.pendingPairings();
    if (std::find(pending.begin(), pending.end(), endpoint) == pending.end()) return Status::OK();
    StatusOr<bool> withdrawn = hap::withdrawUnconfirmedPairing(endpoint, keyring.controller(), kExchangeTimeout);
    if (!withdrawn.ok())
        return Status::error("a pairing with the accessory at " + endpoint.text() +
                             " was cut off, and the accessory could not be asked to forget it (" +
                             clause(withdrawn.status().message()) + "); `glimmora home unpair " + endpoint.text() +
                             "` tries again, `--forget` forgets it here only");
    return keyring.removePending(endpoint);
}

std::string alreadyPairedText(const hap::Endpoint& endpoint, const hap::AccessoryPairing& pairing,
                              const HomesDescription& description) {
    std::string text = "the accessory at " + endpoint.text() + " is already paired with this device, as " +
                       printable(pairing.pairingId);
    for (const HomeDescription& home : description.homes)
        for (const RoomDescription& room : home.rooms)
            for (const AccessoryDescription& accessory : room.accessories)
                if (usesPairing(accessory, pairing.pairingId))
                    return text + " (the accessory " + quote(accessory.name) +
                           " in the home); `glimmora home unpair` it first to pair it anew";
    return text +
           ", but no accessory in the home uses that pairing (a pairing that was interrupted); `glimmora home "
           "unpair " +
           pairing.pairingId + "` removes it, then pair again";
}

}  // namespace

bool isSetupCode(const std::string& code) {
    if (code.size() != 10 || code[3] != '-' || code[6] != '-') return false;
    for (size_t i = 0; i < code.size(); ++i)
        if (i != 3 && i != 6 && !std::isdigit(static_cast<unsigned char>(code[i]))) return false;
    return true;
}

Status pairRealAccessory(const RealAccessoryRequest& request, std::string* summary) {
    if (isBlank(request.name)) return Status::error("the accessory needs a name that is not blank");
    if (isBlank(request.room)) return Status::error("the accessory needs a room name that is not blank");
    if (!isSetupCode(request.setupCode))
        return Status::error("the setup code must have the form XXX-XX-XXX (digits, as printed on the accessory)");
    if (request.host.empty() || request.port == 0) return Status::error("the accessory needs an address and a port");
    auto interrupted = [&] { return request.interrupted && request.interrupted(); };

    // One change to the home and the keyring at a time, from the first read to the last write.
    std::string directory;
    DeviceLock lock;
    HomesDescription description;
    if (Status problem = beginHomeChange(&directory, &lock, &description); !problem.ok()) return problem;

    // Everything that can be checked here is checked before the accessory is touched.
    Status problem;
    HomeDescription* home = findHome(description, request.home, &problem);
    if (!home) return problem;
    hap::Endpoint endpoint{request.host, request.port};
    // The name may be taken only by the entry of a real lamp at this address: the same lamp, reset
    // and paired again, whose entry the new pairing replaces (checked once its identifier is known).
    for (const RoomDescription& room : home->rooms)
        for (const AccessoryDescription& accessory : room.accessories) {
            if (accessory.name != request.name) continue;
            bool sameLamp = accessory.hap && accessory.hap->host == request.host && accessory.hap->port == request.port;
            if (!sameLamp)
                return Status::error("the home " + quote(home->name) + " already has an accessory named " +
                                     quote(request.name));
        }
    StatusOr<hap::Keyring> keyring = hap::Keyring::open(directory);
    if (!keyring.ok()) return keyring.status();

    // A pair-setup with this address cut off before (a kill) may have left this controller on the
    // accessory: it is taken back first, or nothing goes on.
    if (Status resolved = takeBackInterrupted(endpoint, *keyring); !resolved.ok()) return resolved;

    // A lamp already paired with this device would refuse pair-setup as "paired with another
    // controller"; it is told apart by a verified session with the pairings recorded at its address.
    std::vector<hap::AccessoryPairing> here, elsewhere;
    for (const hap::AccessoryPairing& candidate : keyring->pairings())
        (candidate.pairedAt == endpoint ? here : elsewhere).push_back(candidate);
    if (std::optional<hap::AccessoryPairing> own = ownPairingAt(endpoint, *keyring, here))
        return Status::error(alreadyPairedText(endpoint, *own, description));
    if (interrupted()) return Status::error("interrupted before the accessory was paired");

    // Noted before pair-setup, so that however this process ends, the pairing is one a command reaches.
    if (problem = keyring->addPending(endpoint); !problem.ok()) return problem;
    StatusOr<hap::AccessoryPairing> pairing =
        hap::pairSetup(endpoint, request.setupCode, keyring->controller(), kExchangeTimeout);
    if (!pairing.ok()) {
        const Status& failed = pairing.status();
        std::string why = "pairing with " + endpoint.text() + " failed: " + clause(failed.message());
        if (failed.code() == hap::kPairSetupMayHavePaired) {
            if (Status taken = takeBackInterrupted(endpoint, *keyring); !taken.ok())
                return Status::error(why + "; " + clause(taken.message()));
        } else if (Status cleared = keyring->removePending(endpoint); !cleared.ok()) {
            return Status::error(why + "; " + clause(cleared.message()));
        }
        if (failed.code() == hap::kTlvErrorUnavailable)
            if (std::optional<hap::AccessoryPairing> own = ownPairingAt(endpoint, *keyring, elsewhere))
                return Status::error(alreadyPairedText(endpoint, *own, description));
        return Status::error(why);
    }
    pairing->pairedAt = endpoint;
    // The keys are kept before anything else, with where the lamp was paired: from here on, however
    // this process ends, the pairing is one `glimmora home show` lists and `home unpair` removes.
    if (problem = keyring->addPairing(*pairing); !problem.ok()) {
        Status removed = removeOnAccessory(endpoint, keyring->controller(), *pairing);
        if (removed.ok())
            return Status::error(clause(problem.message()) + "; the pairing was taken back on the accessory");
        return Status::error(clause(problem.message()) +
                             "; the pairing could not be taken back on the accessory either (" +
                             clause(removed.message()) + "), so it needs a reset before it pairs again");
    }
    // From here on a failure takes the pairing back on both sides.
    auto undo = [&](const std::string& why) {
        Status removed = removeOnAccessory(endpoint, keyring->controller(), *pairing);
        std::string text = why;
        if (!removed.ok()) {
            text += "; the pairing could not be removed on the accessory (" + clause(removed.message()) +
                    "), so its keys stay here: `glimmora home unpair " + pairing->pairingId +
                    "` removes it when the accessory can be reached, `--forget` removes it here only";
            return Status::error(text);
        }
        if (Status forgotten = keyring->removePairing(pairing->pairingId); !forgotten.ok())
            text +=
                "; the pairing was removed on the accessory, but its keys stay here: " + clause(forgotten.message());
        return Status::error(text);
    };
    const char* stopped = "interrupted; the pairing was taken back";
    if (interrupted()) return undo(stopped);

    StatusOr<std::unique_ptr<hap::Session>> session =
        hap::Session::open(endpoint, keyring->controller(), *pairing, kExchangeTimeout);
    if (!session.ok())
        return undo("the paired accessory could not be reached again: " + clause(session.status().message()));
    StatusOr<hap::HttpResponse> response = (*session)->request("GET", "/accessories", "", kExchangeTimeout);
    session.value().reset();
    if (interrupted()) return undo(stopped);
    if (!response.ok())
        return undo("the accessory's services could not be read: " + clause(response.status().message()));
    if (response->status != 200)
        return undo("the accessory answered " + std::to_string(response->status) + " when asked for its services");
    StatusOr<std::vector<hap::ServiceInfo>> services = hap::parseAccessoryDatabase(response->body);
    if (!services.ok()) return undo("the accessory's services cannot be read: " + clause(services.status().message()));
    std::vector<ServiceDescription> lightbulbs = lightbulbEntries(*services, request.name);
    if (lightbulbs.empty()) return undo("the accessory has no lightbulb, so nothing of it could follow the video");

    // An entry with this identifier is this lamp from before a reset: the new pairing replaces it.
    std::vector<EntryPlace> replaced;
    std::string replacedNames;
    for (const EntryPlace& place : accessoryEntries(description)) {
        const AccessoryDescription& entry = place.entry();
        if (usesPairing(entry, pairing->pairingId)) {
            replaced.push_back(place);
            replacedNames += (replacedNames.empty() ? "" : ", ") + quote(entry.name);
        } else if (place.home == home && entry.name == request.name) {
            return undo("the home " + quote(home->name) + " already has an accessory named " + quote(request.name));
        }
    }
    eraseEntries(replaced);

    std::vector<RoomDescription>& rooms = home->rooms;
    RoomDescription* room = nullptr;
    for (RoomDescription& candidate : rooms)
        if (candidate.name == request.room) room = &candidate;
    if (!room) {
        room = &rooms.emplace_back();
        room->name = request.room;
    }
    size_t lights = lightbulbs.size();
    AccessoryDescription& lamp = room->accessories.emplace_back();
    lamp.name = request.name;
    lamp.hap = HapAccessoryAddress{request.host, request.port, pairing->pairingId, request.configuration};
    lamp.timeoutMs = kWriteTimeoutMs;
    lamp.services = std::move(lightbulbs);
    if (problem = installEditedHome(description); !problem.ok())
        return undo("the accessory could not be recorded: " + clause(problem.message()));
    *summary = "Paired " + quote(request.name) + " (" + device::printable(pairing->pairingId) + ", " + endpoint.text() +
               ") into " + quote(request.room) + " of " + quote(home->name) + ": " + std::to_string(lights) +
               (lights == 1 ? " light" : " lights");
    if (!replacedNames.empty()) *summary += "; it replaces " + replacedNames + ", the same lamp paired before";
    return Status::OK();
}

Status unpairRealAccessory(const std::string& nameOrId, bool forget, std::string* summary) {
    std::string directory;
    DeviceLock lock;
    HomesDescription description;
    if (Status problem = beginHomeChange(&directory, &lock, &description); !problem.ok()) return problem;
    Status problem;
    StatusOr<hap::Keyring> keyring = hap::Keyring::open(directory);
    if (!keyring.ok()) return keyring.status();

    // The lamp named so, else every entry of the pairing identified so, else a pairing kept here
    // with no entry at all.
    std::vector<EntryPlace> entries = accessoryEntries(description), chosen;
    for (const EntryPlace& place : entries)
        if (place.entry().name == nameOrId && place.entry().hap) chosen.push_back(place);
    if (chosen.size() > 1)
        return Status::error("more than one paired accessory is named " + quote(nameOrId) +
                             "; give its identifier instead (`glimmora home show --json` lists them)");
    std::string pairingId = chosen.empty() ? nameOrId : chosen.front().entry().hap->pairingId;
    if (chosen.empty())
        for (const EntryPlace& place : entries)
            if (usesPairing(place.entry(), pairingId)) chosen.push_back(place);
    std::optional<hap::AccessoryPairing> pairing = keyring->pairing(pairingId);
    // A pairing cut off before the accessory's key arrived is known by its address ("host:port").
    for (const hap::Endpoint& pending : keyring->pendingPairings()) {
        if (!chosen.empty() || pairing || pending.text() != nameOrId) continue;
        hap::Endpoint at = pending;
        Status taken = takeBackInterrupted(at, *keyring);
        if (!taken.ok() && !forget) return taken;
        if (!taken.ok()) {
            if (problem = keyring->removePending(at); !problem.ok()) return problem;
            *summary =
                "Forgot the interrupted pairing with " + at.text() + " (only here: " + clause(taken.message()) + ")";
            return Status::OK();
        }
        *summary = "Took back the interrupted pairing with " + at.text();
        return Status::OK();
    }
    if (chosen.empty() && !pairing)
        return Status::error("no paired accessory is named or identified " + quote(nameOrId) +
                             "; `glimmora home show` lists the lamps and the pairings kept here");

    // Another entry that stays with the same identifier still uses the pairing: only this entry goes.
    bool sharedWithOthers = false;
    for (const EntryPlace& place : entries)
        if (usesPairing(place.entry(), pairingId) &&
            std::none_of(chosen.begin(), chosen.end(), [&](const EntryPlace& c) {
                return c.accessories == place.accessories && c.index == place.index;
            }))
            sharedWithOthers = true;

    std::string what = chosen.size() == 1 ? quote(chosen.front().entry().name) : device::printable(pairingId);
    std::string note;
    if (sharedWithOthers) {
        note = " (its pairing stays: another accessory in the home uses it)";
    } else if (pairing) {
        hap::Endpoint endpoint = pairing->pairedAt;
        if (!chosen.empty()) endpoint = {chosen.front().entry().hap->host, chosen.front().entry().hap->port};
        Status removed = endpoint.host.empty()
                             ? Status::error("this device does not know where the accessory was paired")
                             : removeOnAccessory(endpoint, keyring->controller(), *pairing);
        if (!removed.ok() && !forget)
            return Status::error("the pairing could not be removed on the accessory" +
                                 (endpoint.host.empty() ? "" : " at " + endpoint.text()) + ": " +
                                 clause(removed.message()) + "; `glimmora home unpair " + nameOrId +
                                 " --forget` removes it from this device anyway (the accessory then needs a reset "
                                 "before it pairs again)");
        if (!removed.ok()) note = " (only here: " + clause(removed.message()) + ")";
        if (problem = keyring->removePairing(pairingId); !problem.ok()) return problem;
    } else {
        note = " (this device held no keys for it)";
    }
    if (!chosen.empty()) {
        eraseEntries(chosen);
        if (problem = installEditedHome(description); !problem.ok()) return problem;
    }
    *summary = "Unpaired " + what + note;
    return Status::OK();
}

}  // namespace device
