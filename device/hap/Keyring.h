// The controller's identity and its pairings: the file "hap-keys.json" in the device directory,
// mode 0600, replaced atomically (private temporary file, then rename), created on first use.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Status.h"

namespace device::hap {

struct ControllerIdentity {
    std::string pairingId;                // a UUID text made once
    std::array<uint8_t, 32> publicKey{};  // Ed25519
    std::array<uint8_t, 64> secretKey{};  // libsodium's Ed25519 secret key; never logged
};

struct AccessoryPairing {
    std::string pairingId;                // the accessory's identifier ("AA:BB:..."), as it sent it
    std::array<uint8_t, 32> publicKey{};  // its Ed25519 long-term public key
};

class Keyring {
public:
    // The keyring of `directory` (the device directory); makes the identity when there is none.
    static std::optional<Keyring> open(const std::string& directory, device::Status* status = nullptr);

    const ControllerIdentity& controller() const { return controller_; }
    std::optional<AccessoryPairing> pairing(const std::string& accessoryPairingId) const;
    const std::vector<AccessoryPairing>& pairings() const { return pairings_; }
    // Adds or replaces the pairing of that accessory; writes the file at once.
    device::Status addPairing(const AccessoryPairing& pairing);
    // Forgets that accessory (no error when it was not there); writes the file at once.
    device::Status removePairing(const std::string& accessoryPairingId);
    // The file's path.
    const std::string& path() const { return path_; }

private:
    device::Status save() const;

    std::string path_;
    ControllerIdentity controller_;
    std::vector<AccessoryPairing> pairings_;
};

}  // namespace device::hap
