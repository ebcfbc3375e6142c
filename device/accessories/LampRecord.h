// Keeping a paired lamp's entry in the home description in line with what the lamp advertises on
// the network: where it listens now (a new address from a DHCP lease, a bridge restarted on a new
// port), and its services when its configuration number says they changed. Each change goes
// through the home lock and is installed as a new home description, which every running process
// of the device picks up. Blocking (file locks, a session with the lamp): never on a queue that
// others wait on.
#pragma once

#include <cstdint>
#include <string>

#include "../base/Status.h"
#include "../hap/Endpoint.h"

namespace device {

// Records that the lamp paired as `pairingId` listens at `endpoint` and advertises configuration
// number `configuration` (0: not known, left as recorded), in every entry of the home that uses
// that pairing. `*changed` says whether anything was written; nothing is when all was as recorded.
Status recordLampAddress(const std::string& pairingId, const hap::Endpoint& endpoint, uint32_t configuration,
                         bool* changed);

// Reads the accessory database of the lamp paired as `pairingId` again, over a verified session at
// its recorded address. When its lightbulbs differ from what its entry records, the entry takes the
// new ones (a lamp whose last lightbulb went keeps its entry, with an error saying so); the entry
// records `configuration` either way. `*summary` says what changed, empty when nothing did.
Status rereadLampServices(const std::string& pairingId, uint32_t configuration, std::string* summary);

}  // namespace device
