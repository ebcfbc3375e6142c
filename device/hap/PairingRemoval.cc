#include "PairingRemoval.h"

#include "Crypto.h"
#include "HttpRequest.h"
#include "PairVerify.h"
#include "PairingExchange.h"
#include "Socket.h"

namespace device::hap {

device::Status removePairing(Session& session, const std::string& controllerPairingId) {
    // The request's body is TLV8, so it goes through the session's framing by hand.
    std::string body = Tlv8()
                           .add(kTlvState, 1)
                           .add(kTlvMethod, kTlvMethodRemovePairing)
                           .add(kTlvIdentifier, controllerPairingId)
                           .encode();
    auto response = session.requestWithType("POST", "/pairings", kTlvContentType, body, std::chrono::seconds(10));
    if (!response.ok()) return response.status();
    const std::string at = "The accessory at " + session.endpoint().text();
    if (response->status != 200) {
        return Status::error(at + " answered the removal of the pairing with HTTP status " +
                             std::to_string(response->status) + ".");
    }
    auto tlv = Tlv8::decode(response->body);
    if (!tlv.ok()) return tlv.status();
    if (auto error = tlv->byte(kTlvError))
        return Status::error(tlvErrorText(*error, session.endpoint(), "removing the pairing"));
    if (tlv->byte(kTlvState) != 2) return Status::error(at + " answered the removal of the pairing out of step.");
    return Status::OK();
}

StatusOr<bool> withdrawUnconfirmedPairing(const Endpoint& endpoint, const ControllerIdentity& controller,
                                          std::chrono::milliseconds timeout) {
    if (!crypto::ready()) return Status::error("The cryptography library could not start.");
    auto deadline = SteadyClock::now() + timeout;
    auto socket = Socket::connect(endpoint, deadline);
    if (!socket.ok()) return socket.status();
    auto keys = pairVerify(**socket, endpoint, controller, nullptr, deadline);
    // An accessory that does not know this controller's key holds no pairing of it.
    if (!keys.ok() && keys.status().code() == kTlvErrorAuthentication) return false;
    if (!keys.ok()) return keys.status();
    Session session(endpoint, std::move(*socket), *keys);
    if (Status removed = removePairing(session, controller.pairingId); !removed.ok()) return removed;
    return true;
}

}  // namespace device::hap
