// The controller's identity and its pairings: the file "hap-keys.json" in the device directory,
// mode 0600, replaced atomically (private temporary file, then rename). The identity is made when
// there is no file, but the file is written only with the first pairing, so a pairing that fails
// leaves nothing behind. A keyring that is not a regular file of its own (a symbolic link, a
// directory) or that other users can read is refused with the reason, never replaced: replacing it
// would cut this device off from every accessory paired with the identity it holds.
//
// Not locked by itself: whoever changes it holds the device's home lock (DeviceLock.h) across the
// read, the change and the write.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../base/Status.h"
#include "../base/StatusOr.h"
#include "Endpoint.h"

namespace device::hap {

struct ControllerIdentity {
    std::string pairingId;                // a UUID text made once
    std::array<uint8_t, 32> publicKey{};  // Ed25519
    std::array<uint8_t, 64> secretKey{};  // libsodium's Ed25519 secret key; never logged
};

struct AccessoryPairing {
    std::string pairingId;                // the accessory's identifier ("AA:BB:..."), as it sent it
    std::array<uint8_t, 32> publicKey{};  // its Ed25519 long-term public key
    Endpoint pairedAt{};                  // where it was paired (an empty host when not known)
};

class Keyring {
public:
    // The keyring of `directory` (the device directory); makes the identity when there is none
    // (kept in memory until the first pairing is added). An error says why the file cannot be used.
    static device::StatusOr<Keyring> open(const std::string& directory);

    const ControllerIdentity& controller() const { return controller_; }
    std::optional<AccessoryPairing> pairing(const std::string& accessoryPairingId) const;
    const std::vector<AccessoryPairing>& pairings() const { return pairings_; }
    // Adds or replaces the pairing of that accessory, clearing the pending note of where it was
    // paired; writes the file at once.
    device::Status addPairing(const AccessoryPairing& pairing);
    // Forgets that accessory (no error when it was not there); writes the file at once.
    device::Status removePairing(const std::string& accessoryPairingId);

    // Pair-setup under way with the accessory at an address: noted before pair-setup starts, so
    // that one cut off after the accessory kept this controller (but before its key reached this
    // device) is known and can be taken back. Adding the pairing made there clears the note.
    const std::vector<Endpoint>& pendingPairings() const { return pending_; }
    device::Status addPending(const Endpoint& at);
    // Clears the note. A keyring this opening made that is left with nothing is removed again,
    // so a pairing that failed leaves no identity behind.
    device::Status removePending(const Endpoint& at);
    // The file's path.
    const std::string& path() const { return path_; }
    // Whether the identity was made by this opening and is not in the file yet.
    bool isNew() const { return new_; }

private:
    device::Status save();

    std::string path_;
    ControllerIdentity controller_;
    std::vector<AccessoryPairing> pairings_;
    std::vector<Endpoint> pending_;
    bool new_ = false;
    bool madeHere_ = false;  // the file was first written by this opening
};

}  // namespace device::hap
