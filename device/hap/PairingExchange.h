// The plain (not yet encrypted) exchanges of pairing: an HTTP POST carrying TLV8 and its TLV8
// answer, and the sentences for the errors an accessory sends in them.
#pragma once

#include <string>
#include <string_view>

#include "../base/Clock.h"
#include "../base/StatusOr.h"
#include "Socket.h"
#include "Tlv8.h"

namespace device::hap {

// POSTs `request` to `path` and reads the TLV8 answer. An HTTP status other than 200, a malformed
// answer, or a `State` other than `expectedState` is an error; a TLV error item is left to the
// caller (it names it better).
device::StatusOr<Tlv8> exchangeTlv(Socket& socket, const Endpoint& endpoint, std::string_view path, const Tlv8& request,
                                   uint8_t expectedState, SteadyClock::time_point deadline);

// A sentence for a TLV error from an accessory during `what` ("pairing", "verification", ...).
std::string tlvErrorText(uint8_t error, const Endpoint& endpoint, std::string_view what);

}  // namespace device::hap
