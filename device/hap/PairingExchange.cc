#include "PairingExchange.h"

#include "HttpParser.h"
#include "HttpRequest.h"

namespace device::hap {

StatusOr<Tlv8> exchangeTlv(Socket& socket, const Endpoint& endpoint, std::string_view path, const Tlv8& request,
                           uint8_t expectedState, SteadyClock::time_point deadline) {
    Status sent = socket.send(httpRequestText("POST", path, endpoint, kTlvContentType, request.encode()), deadline);
    if (!sent.ok()) return sent;
    HttpParser parser;
    char buffer[4096];
    while (!parser.hasMessage()) {
        size_t received = 0;
        Status read = socket.receive(buffer, sizeof buffer, received, deadline);
        if (!read.ok()) return read;
        Status parsed = parser.feed(std::string_view(buffer, received));
        if (!parsed.ok()) return Status::error(parsed.message() + " (" + endpoint.text() + ")");
    }
    HttpResponse response = parser.next();
    if (response.event) {
        return Status::error("The accessory at " + endpoint.text() + " answered " + std::string(path) +
                             " with an event notification, which is not an answer.");
    }
    if (response.status != 200) {
        return Status::error("The accessory at " + endpoint.text() + " answered " + std::string(path) +
                             " with HTTP status " + std::to_string(response.status) + ".");
    }
    auto tlv = Tlv8::decode(response.body);
    if (!tlv.ok()) return Status::error(tlv.status().message() + " (" + endpoint.text() + ")");
    if (tlv->byte(kTlvState) != expectedState) {
        return Status::error("The accessory at " + endpoint.text() + " answered out of step (expected state " +
                             std::to_string(expectedState) + ").");
    }
    return tlv;
}

std::string tlvErrorText(uint8_t error, const Endpoint& endpoint, std::string_view what) {
    std::string at = "The accessory at " + endpoint.text();
    switch (error) {
        case kTlvErrorAuthentication:
            return what == "pairing" ? "The setup code was not accepted by the accessory at " + endpoint.text() + "."
                                     : at + " refused " + std::string(what) + ": authentication failed.";
        case kTlvErrorBackoff:
            return at + " asks to wait before trying " + std::string(what) + " again.";
        case kTlvErrorMaxPeers:
            return at + " cannot take another controller.";
        case kTlvErrorMaxTries:
            return at + " refuses " + std::string(what) + " after too many tries.";
        case kTlvErrorUnavailable:
            return at + " is paired with another controller; that pairing must be removed first.";
        case kTlvErrorBusy:
            return at + " is busy with another " + std::string(what) + "; try again later.";
        default:
            return at + " refused " + std::string(what) + " (error " + std::to_string(error) + ").";
    }
}

}  // namespace device::hap
