// Pair-setup: the one-off, blocking exchange (M1..M6) that makes an accessory and this controller
// know each other's long-term keys, proved by the accessory's setup code.
#pragma once

#include <chrono>
#include <string>

#include "../base/StatusOr.h"
#include "Endpoint.h"
#include "Keyring.h"

namespace device::hap {

// Above every TLV error code, which a refusal by the accessory carries as its code.
constexpr long kPairSetupMayHavePaired = 0x100;

// Pair-setup M1..M6 with `setupCode` ("XXX-XX-XXX"). Errors: a wrong code says the setup code was
// not accepted; an accessory already paired says it is paired with another controller and that
// pairing must be removed first; too many tries and busy likewise by name. The code is never logged.
// An error after this controller's keys were sent (M5) has the code kPairSetupMayHavePaired: the
// accessory may have kept the pairing (withdrawUnconfirmedPairing in PairingRemoval.h takes it back).
device::StatusOr<AccessoryPairing> pairSetup(const Endpoint& endpoint, const std::string& setupCode,
                                             const ControllerIdentity& controller, std::chrono::milliseconds timeout);

}  // namespace device::hap
