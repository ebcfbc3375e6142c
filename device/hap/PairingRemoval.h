// Removing a pairing from an accessory: POST /pairings with the remove-pairing method, over a
// verified session, or over one that could not be fully verified when pair-setup was cut off.
#pragma once

#include <chrono>
#include <string>

#include "../base/Status.h"
#include "../base/StatusOr.h"
#include "Endpoint.h"
#include "Keyring.h"
#include "Session.h"

namespace device::hap {

// POST /pairings, remove pairing, of `controllerPairingId` (usually this controller's own).
device::Status removePairing(Session& session, const std::string& controllerPairingId);

// Takes this controller's pairing back from the accessory at `endpoint` when pair-setup was cut
// off after the accessory may have stored it, but before this device learnt the accessory's key.
// Pair-verify then cannot check the accessory's proof, so the session it makes carries one
// request only: the removal of this controller's own pairing, which tells whoever answers nothing
// and gives them nothing. True when the pairing was removed; false when the accessory did not
// know this controller (pair-setup never reached it); an error when it could not be asked.
device::StatusOr<bool> withdrawUnconfirmedPairing(const Endpoint& endpoint, const ControllerIdentity& controller,
                                                  std::chrono::milliseconds timeout);

}  // namespace device::hap
