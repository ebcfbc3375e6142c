// Pair-verify M1..M4: on a fresh connection to a paired accessory, an ephemeral X25519 exchange
// that both sides sign with their long-term keys, from which come the session's two keys.
#pragma once

#include <array>
#include <cstdint>

#include "../base/Clock.h"
#include "../base/StatusOr.h"
#include "Endpoint.h"
#include "Keyring.h"
#include "Socket.h"

namespace device::hap {

// The keys of a verified session: the controller's writes and its reads.
struct SessionKeys {
    std::array<uint8_t, 32> write{};
    std::array<uint8_t, 32> read{};
};

// Pair-verify M1..M4 on `socket`. The accessory must prove it holds `accessory`'s long-term key;
// without `accessory` its proof is not checked (see withdrawUnconfirmedPairing). A refusal at M4
// carries the accessory's TLV error as its code.
device::StatusOr<SessionKeys> pairVerify(Socket& socket, const Endpoint& endpoint, const ControllerIdentity& controller,
                                         const AccessoryPairing* accessory, SteadyClock::time_point deadline);

}  // namespace device::hap
