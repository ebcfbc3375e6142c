// Pairing a real accessory with the device and removing it again: what `glimmora home pair` and
// `glimmora home unpair` do, and the demo with real accessories.
//
// Pairing runs pair-setup with the accessory's setup code, keeps the accessory's long-term key in
// the device's keyring, reads the accessory's services, and records its lightbulbs (with their
// characteristics' own formats and limits) in the home description. Nothing is recorded unless
// every step succeeded; a pairing made on the accessory is removed again when a later step fails.
// The setup code is never stored or logged.
#pragma once

#include <cstdint>
#include <string>

#include "../base/Status.h"

namespace device {

struct RealAccessoryRequest {
    std::string name;  // the accessory's name in the home; must not be taken in that home
    std::string room;  // made when the home has no room of that name
    std::string home;  // empty: the primary home (a home is made when there is none)
    std::string host;
    uint16_t port = 0;
    std::string setupCode;  // "XXX-XX-XXX"
};

// Pairs and records the accessory; `*summary` says what was added. Safe to run while nothing
// else changes the home description.
Status pairRealAccessory(const RealAccessoryRequest& request, std::string* summary);

// Removes the pairing on the accessory named `name`, then here: from the keyring and the home
// description. With `forget`, an accessory that cannot be reached is removed here anyway (it then
// still counts itself paired until it is reset).
Status unpairRealAccessory(const std::string& name, bool forget, std::string* summary);

// Whether `code` has the form of a setup code, "XXX-XX-XXX" (digits).
bool isSetupCode(const std::string& code);

}  // namespace device
