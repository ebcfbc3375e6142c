#include "PairVerify.h"

#include <sodium.h>

#include "../Foundation/PrintableText.h"
#include "Crypto.h"
#include "PairingExchange.h"

namespace device::hap {

StatusOr<SessionKeys> pairVerify(Socket& socket, const Endpoint& endpoint, const ControllerIdentity& controller,
                                 const AccessoryPairing* accessory, SteadyClock::time_point deadline) {
    const char* path = "/pair-verify";
    auto ours = crypto::x25519KeyPair();
    auto m2 = exchangeTlv(socket, endpoint, path,
                          Tlv8().add(kTlvState, 1).add(kTlvPublicKey, crypto::view(ours.publicKey)), 2, deadline);
    if (!m2.ok()) return m2.status();
    if (auto error = m2->byte(kTlvError)) return Status::error(tlvErrorText(*error, endpoint, "verification"));
    const std::string* theirs = m2->find(kTlvPublicKey);
    const std::string* encrypted = m2->find(kTlvEncryptedData);
    if (!theirs || !encrypted)
        return Status::error("The accessory at " + endpoint.text() + " sent an incomplete verification.");
    auto shared = crypto::x25519(ours.secretKey, *theirs);
    sodium_memzero(ours.secretKey.data(), ours.secretKey.size());
    if (!shared) return Status::error("The accessory at " + endpoint.text() + " sent an invalid session key.");
    std::string sharedBytes(crypto::view(*shared));
    auto verifyKey = crypto::hkdf(sharedBytes, "Pair-Verify-Encrypt-Salt", "Pair-Verify-Encrypt-Info");
    auto writeKey = crypto::hkdf(sharedBytes, "Control-Salt", "Control-Write-Encryption-Key");
    auto readKey = crypto::hkdf(sharedBytes, "Control-Salt", "Control-Read-Encryption-Key");
    sodium_memzero(sharedBytes.data(), sharedBytes.size());
    if (!verifyKey || !writeKey || !readKey) return Status::error("Deriving the session keys failed.");

    auto opened = crypto::open(*encrypted, {}, crypto::nonce("PV-Msg02"), *verifyKey);
    auto inner = Tlv8::decode(opened.value_or(std::string()));
    const std::string* identifier = opened && inner.ok() ? inner->find(kTlvIdentifier) : nullptr;
    const std::string* signature = opened && inner.ok() ? inner->find(kTlvSignature) : nullptr;
    if (!identifier || !signature) {
        return Status::error("The accessory at " + endpoint.text() + " sent an unreadable verification message.");
    }
    std::string accessoryInfo = *theirs + *identifier + std::string(crypto::view(ours.publicKey));
    if (accessory && (*identifier != accessory->pairingId ||
                      !crypto::ed25519Verify(accessoryInfo, *signature, crypto::view(accessory->publicKey)))) {
        return Status::error("REFUSED: the accessory at " + endpoint.text() +
                             " did not prove it is the paired accessory " + printable(accessory->pairingId) +
                             " (it presented " +
                             (*identifier == accessory->pairingId ? "another long-term key"
                                                                  : "the identifier " + printable(*identifier)) +
                             "). Nothing was sent to it; pair it again if it was reset.");
    }

    std::string controllerInfo = std::string(crypto::view(ours.publicKey)) + controller.pairingId + *theirs;
    auto controllerSignature = crypto::ed25519Sign(controllerInfo, controller.secretKey);
    std::string proof =
        Tlv8().add(kTlvIdentifier, controller.pairingId).add(kTlvSignature, crypto::view(controllerSignature)).encode();
    std::string sealed = crypto::seal(proof, {}, crypto::nonce("PV-Msg03"), *verifyKey);
    auto m4 = exchangeTlv(socket, endpoint, path, Tlv8().add(kTlvState, 3).add(kTlvEncryptedData, sealed), 4, deadline);
    if (!m4.ok()) return m4.status();
    if (auto error = m4->byte(kTlvError)) {
        return Status::error(
            error == kTlvErrorAuthentication
                ? "The accessory at " + endpoint.text() +
                      " no longer knows this controller; its pairing was removed and it must be paired again."
                : tlvErrorText(*error, endpoint, "verification"),
            *error);
    }
    return SessionKeys{*writeKey, *readKey};
}

}  // namespace device::hap
