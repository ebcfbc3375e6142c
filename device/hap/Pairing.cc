#include "Pairing.h"

#include <sodium.h>

#include "Crypto.h"
#include "PairingExchange.h"
#include "Srp.h"

namespace device::hap {

namespace {

// An error after this controller's keys went out: the accessory may have kept the pairing.
Status mayHavePaired(const Status& why) { return Status::error(why.message(), kPairSetupMayHavePaired); }

}  // namespace

StatusOr<AccessoryPairing> pairSetup(const Endpoint& endpoint, const std::string& setupCode,
                                     const ControllerIdentity& controller, std::chrono::milliseconds timeout) {
    if (!crypto::ready()) return Status::error("The cryptography library could not start.");
    auto deadline = SteadyClock::now() + timeout;
    auto connected = Socket::connect(endpoint, deadline);
    if (!connected.ok()) return connected.status();
    Socket& socket = **connected;
    const char* path = "/pair-setup";
    auto errorOf = [&](const Tlv8& answer) -> std::optional<Status> {
        if (auto error = answer.byte(kTlvError))
            return Status::error(tlvErrorText(*error, endpoint, "pairing"), *error);
        return std::nullopt;
    };

    // M1 -> M2: the accessory's salt and SRP public value.
    auto m2 =
        exchangeTlv(socket, endpoint, path, Tlv8().add(kTlvState, 1).add(kTlvMethod, kTlvMethodPairSetup), 2, deadline);
    if (!m2.ok()) return m2.status();
    if (auto error = errorOf(*m2)) return *error;
    const std::string* salt = m2->find(kTlvSalt);
    const std::string* serverPublic = m2->find(kTlvPublicKey);
    if (!salt || !serverPublic) return Status::error("The accessory at " + endpoint.text() + " sent no SRP values.");
    auto srp = SrpClient::make("Pair-Setup", setupCode);
    if (!srp || !srp->setServer(*salt, *serverPublic)) {
        return Status::error("The accessory at " + endpoint.text() + " sent an invalid SRP public value.");
    }

    // M3 -> M4: proofs both ways.
    auto m4 = exchangeTlv(socket, endpoint, path,
                          Tlv8().add(kTlvState, 3).add(kTlvPublicKey, srp->publicValue()).add(kTlvProof, srp->proof()),
                          4, deadline);
    if (!m4.ok()) return m4.status();
    if (auto error = errorOf(*m4)) return *error;
    const std::string* serverProof = m4->find(kTlvProof);
    if (!serverProof || !srp->verifyServer(*serverProof)) {
        return Status::error("The accessory at " + endpoint.text() + " did not prove it knows the setup code.");
    }

    // M5 -> M6: long-term keys, each signed, inside the channel the SRP key made.
    const std::string& srpKey = srp->sessionKey();
    auto encryptKey = crypto::hkdf(srpKey, "Pair-Setup-Encrypt-Salt", "Pair-Setup-Encrypt-Info");
    auto controllerX = crypto::hkdf(srpKey, "Pair-Setup-Controller-Sign-Salt", "Pair-Setup-Controller-Sign-Info");
    auto accessoryX = crypto::hkdf(srpKey, "Pair-Setup-Accessory-Sign-Salt", "Pair-Setup-Accessory-Sign-Info");
    if (!encryptKey || !controllerX || !accessoryX) return Status::error("Deriving the pairing keys failed.");
    std::string controllerInfo = std::string(crypto::view(*controllerX)) + controller.pairingId +
                                 std::string(crypto::view(controller.publicKey));
    auto signature = crypto::ed25519Sign(controllerInfo, controller.secretKey);
    std::string inner = Tlv8()
                            .add(kTlvIdentifier, controller.pairingId)
                            .add(kTlvPublicKey, crypto::view(controller.publicKey))
                            .add(kTlvSignature, crypto::view(signature))
                            .encode();
    std::string sealed = crypto::seal(inner, {}, crypto::nonce("PS-Msg05"), *encryptKey);
    // From here on the accessory may have kept this controller even when its answer is lost or bad.
    auto m6 = exchangeTlv(socket, endpoint, path, Tlv8().add(kTlvState, 5).add(kTlvEncryptedData, sealed), 6, deadline);
    if (!m6.ok()) return mayHavePaired(m6.status());
    if (auto error = errorOf(*m6)) return *error;
    const std::string* encrypted = m6->find(kTlvEncryptedData);
    auto opened = encrypted ? crypto::open(*encrypted, {}, crypto::nonce("PS-Msg06"), *encryptKey) : std::nullopt;
    if (!opened)
        return mayHavePaired(
            Status::error("The accessory at " + endpoint.text() + " sent an unreadable final pairing message."));
    auto accessoryTlv = Tlv8::decode(*opened);
    if (!accessoryTlv.ok()) return mayHavePaired(accessoryTlv.status());
    const std::string* accessoryId = accessoryTlv->find(kTlvIdentifier);
    const std::string* accessoryKey = accessoryTlv->find(kTlvPublicKey);
    const std::string* accessorySignature = accessoryTlv->find(kTlvSignature);
    if (!accessoryId || accessoryId->empty() || !accessoryKey || !accessorySignature) {
        return mayHavePaired(Status::error("The accessory at " + endpoint.text() + " left out its identity."));
    }
    std::string accessoryInfo = std::string(crypto::view(*accessoryX)) + *accessoryId + *accessoryKey;
    auto key = crypto::toArray<32>(*accessoryKey);
    if (!key || !crypto::ed25519Verify(accessoryInfo, *accessorySignature, *accessoryKey)) {
        return mayHavePaired(
            Status::error("The accessory at " + endpoint.text() + " sent a long-term key it could not sign with."));
    }
    return AccessoryPairing{*accessoryId, *key};
}

}  // namespace device::hap
