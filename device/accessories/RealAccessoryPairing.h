// Pairing a real accessory with the device and removing it again: what `glimmora home pair` and
// `glimmora home unpair` do, and the demo with real accessories.
//
// Pairing runs pair-setup with the accessory's setup code, keeps the accessory's long-term key in
// the device's keyring, reads the accessory's services, and records its lightbulbs (with their
// characteristics' own formats and limits) in the home description. Nothing is recorded unless
// every step succeeded; a pairing made on the accessory is removed again when a later step fails.
// The setup code is never stored or logged.
//
// Both hold the device's home lock from the first read to the last write, so changes made at once
// are made one after the other. The accessory's keys are kept (with where it was paired) as soon
// as pair-setup ends, before anything else: a pairing interrupted after that, even by SIGKILL,
// stays one that `glimmora home show` lists and `glimmora home unpair ID` removes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "../base/Status.h"

namespace device {

struct RealAccessoryRequest {
    std::string name;  // the accessory's name in the home; must not be taken in that home
    std::string room;  // made when the home has no room of that name
    std::string home;  // empty: the primary home (a home is made when there is none)
    std::string host;
    uint16_t port = 0;
    std::string setupCode;       // "XXX-XX-XXX"
    uint32_t configuration = 0;  // its configuration number as it advertised it (0: not known)
    // Asked between the steps: when it says yes, pairing stops and takes back what it made.
    std::function<bool()> interrupted;
};

// Pairs and records the accessory; `*summary` says what was added. An accessory already paired
// with this device is refused as such. A lamp paired before under another entry (reset, then
// paired again) gets one entry: the new one replaces the old.
Status pairRealAccessory(const RealAccessoryRequest& request, std::string* summary);

// Removes the pairing of the accessory named `nameOrId` (else of the entries, or the kept pairing
// without an entry, with that pairing identifier) on the accessory itself, then here: from the
// keyring and the home description. A pairing another entry still uses is kept. With `forget`,
// an accessory that cannot be reached is removed here anyway (it then still counts itself paired
// until it is reset).
Status unpairRealAccessory(const std::string& nameOrId, bool forget, std::string* summary);

// Whether `code` has the form of a setup code, "XXX-XX-XXX" (digits).
bool isSetupCode(const std::string& code);

}  // namespace device
