// The requests sent to an accessory: the text of an HTTP/1.1 request and the two types its bodies
// come in, the pairing exchanges' TLV8 and everything else's JSON.
#pragma once

#include <string>
#include <string_view>

#include "Endpoint.h"

namespace device::hap {

inline constexpr const char* kTlvContentType = "application/pairing+tlv8";
inline constexpr const char* kJsonContentType = "application/hap+json";

// "METHOD PATH HTTP/1.1" with Host, and Content-Type and Content-Length when there is a body.
std::string httpRequestText(std::string_view method, std::string_view path, const Endpoint& endpoint,
                            std::string_view contentType, std::string_view body);

}  // namespace device::hap
