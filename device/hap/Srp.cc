#include "Srp.h"

#include <openssl/crypto.h>

#include "Crypto.h"
#include "SrpMath.h"

namespace device::hap {

struct SrpClient::State {
    const SrpGroup& group = pairSetupGroup();
    std::string privateValue;
    std::string username, password;
    std::string publicValue, proof, sessionKey;

    ~State() { OPENSSL_cleanse(privateValue.data(), privateValue.size()); }
};

SrpClient::SrpClient(std::unique_ptr<State> state) : state_(std::move(state)) {}
SrpClient::~SrpClient() = default;

std::unique_ptr<SrpClient> SrpClient::make(std::string_view username, std::string_view password,
                                           std::string_view privateValue) {
    auto state = std::make_unique<State>();
    if (state->group.prime.empty()) return nullptr;
    state->username = username;
    state->password = password;
    state->privateValue = privateValue.empty() ? crypto::randomBytes(32) : std::string(privateValue);
    auto publicValue = srpPublicValue(state->group, state->privateValue);
    if (!publicValue) return nullptr;
    state->publicValue = std::move(*publicValue);
    return std::unique_ptr<SrpClient>(new SrpClient(std::move(state)));
}

const std::string& SrpClient::publicValue() const { return state_->publicValue; }
const std::string& SrpClient::proof() const { return state_->proof; }
const std::string& SrpClient::sessionKey() const { return state_->sessionKey; }

bool SrpClient::setServer(std::string_view salt, std::string_view serverPublic) {
    State& s = *state_;
    auto secret =
        srpPremasterSecret(s.group, s.username, s.password, salt, s.privateValue, s.publicValue, serverPublic);
    auto paddedB = srpPad(s.group, serverPublic);
    if (!secret || !paddedB) return false;
    s.sessionKey = srpHash(s.group, *secret);
    OPENSSL_cleanse(secret->data(), secret->size());
    s.proof = srpClientProof(s.group, s.username, salt, s.publicValue, *paddedB, s.sessionKey);
    return true;
}

bool SrpClient::verifyServer(std::string_view serverProof) const {
    if (state_->proof.empty()) return false;
    return serverProof == srpHash(state_->group, state_->publicValue + state_->proof + state_->sessionKey);
}

}  // namespace device::hap
