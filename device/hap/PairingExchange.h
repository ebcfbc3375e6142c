// The plain (not yet encrypted) exchanges of pairing: an HTTP POST carrying TLV8 and its TLV8
// answer, and the text of a request.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "../base/Clock.h"
#include "../base/Status.h"
#include "Socket.h"
#include "Tlv8.h"

namespace device::hap {

inline constexpr const char* kTlvContentType = "application/pairing+tlv8";
inline constexpr const char* kJsonContentType = "application/hap+json";

// "METHOD PATH HTTP/1.1" with Host, and Content-Type and Content-Length when there is a body.
std::string httpRequestText(std::string_view method, std::string_view path, const Endpoint& endpoint,
                            std::string_view contentType, std::string_view body);

// POSTs `request` to `path` and reads the TLV8 answer. An HTTP status other than 200, a malformed
// answer, or a `State` other than `expectedState` is an error; a TLV error item is left to the
// caller (it names it better).
std::optional<Tlv8> exchangeTlv(Socket& socket, const Endpoint& endpoint, std::string_view path, const Tlv8& request,
                                uint8_t expectedState, SteadyClock::time_point deadline, device::Status* status);

// A sentence for a TLV error from an accessory during `what` ("pairing", "verification", ...).
std::string tlvErrorText(uint8_t error, const Endpoint& endpoint, std::string_view what);

}  // namespace device::hap
