#include "Srp.h"

#include <openssl/bn.h>

#include "Crypto.h"

namespace device::hap {

namespace {

constexpr int kGroupBytes = 384;  // the 3072-bit group

struct BnDeleter {
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;
struct CtxDeleter {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};

Bn fromBytes(std::string_view bytes) {
    return Bn(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), nullptr));
}

// Big-endian, left-padded with zeros to `width` bytes (0: no padding).
std::string toBytes(const BIGNUM* bn, int width = 0) {
    int size = width ? width : BN_num_bytes(bn);
    std::string out(size, '\0');
    BN_bn2binpad(bn, reinterpret_cast<unsigned char*>(out.data()), size);
    return out;
}

std::string hash(std::string_view data) {
    auto digest = crypto::sha512(data);
    return std::string(crypto::view(digest));
}

}  // namespace

struct SrpClient::State {
    std::unique_ptr<BN_CTX, CtxDeleter> ctx{BN_CTX_new()};
    Bn n{BN_get_rfc3526_prime_3072(nullptr)};
    Bn g{BN_new()};
    Bn a;
    std::string username, password;
    std::string publicValue, proof, sessionKey;
};

SrpClient::SrpClient(std::unique_ptr<State> state) : state_(std::move(state)) {}
SrpClient::~SrpClient() = default;

std::unique_ptr<SrpClient> SrpClient::make(std::string_view username, std::string_view password,
                                           std::string_view privateValue) {
    auto state = std::make_unique<State>();
    if (!state->ctx || !state->n || !state->g || !BN_set_word(state->g.get(), 5)) return nullptr;
    state->username = username;
    state->password = password;
    state->a = fromBytes(privateValue.empty() ? crypto::randomBytes(32) : std::string(privateValue));
    Bn bigA(BN_new());
    if (!state->a || !bigA ||
        !BN_mod_exp(bigA.get(), state->g.get(), state->a.get(), state->n.get(), state->ctx.get())) {
        return nullptr;
    }
    state->publicValue = toBytes(bigA.get(), kGroupBytes);
    return std::unique_ptr<SrpClient>(new SrpClient(std::move(state)));
}

const std::string& SrpClient::publicValue() const { return state_->publicValue; }
const std::string& SrpClient::proof() const { return state_->proof; }
const std::string& SrpClient::sessionKey() const { return state_->sessionKey; }

bool SrpClient::setServer(std::string_view salt, std::string_view serverPublic) {
    State& s = *state_;
    BN_CTX* ctx = s.ctx.get();
    Bn b = fromBytes(serverPublic);
    Bn reduced(BN_new());
    if (!b || !reduced || !BN_nnmod(reduced.get(), b.get(), s.n.get(), ctx) || BN_is_zero(reduced.get())) return false;

    std::string paddedA = s.publicValue;
    std::string paddedB = toBytes(b.get(), kGroupBytes);
    if (BN_num_bytes(b.get()) > kGroupBytes) return false;
    Bn k = fromBytes(hash(toBytes(s.n.get()) + toBytes(s.g.get(), kGroupBytes)));
    Bn u = fromBytes(hash(paddedA + paddedB));
    std::string inner = hash(s.username + ":" + s.password);
    Bn x = fromBytes(hash(std::string(salt) + inner));
    if (!k || !u || !x || BN_is_zero(u.get())) return false;

    // S = (B - k * g^x) ^ (a + u * x) mod N
    Bn gx(BN_new()), kgx(BN_new()), base(BN_new()), ux(BN_new()), exponent(BN_new()), secret(BN_new());
    if (!gx || !kgx || !base || !ux || !exponent || !secret) return false;
    if (!BN_mod_exp(gx.get(), s.g.get(), x.get(), s.n.get(), ctx) ||
        !BN_mod_mul(kgx.get(), k.get(), gx.get(), s.n.get(), ctx) ||
        !BN_mod_sub(base.get(), b.get(), kgx.get(), s.n.get(), ctx) || !BN_mul(ux.get(), u.get(), x.get(), ctx) ||
        !BN_add(exponent.get(), s.a.get(), ux.get()) ||
        !BN_mod_exp(secret.get(), base.get(), exponent.get(), s.n.get(), ctx)) {
        return false;
    }
    s.sessionKey = hash(toBytes(secret.get(), kGroupBytes));

    std::string hn = hash(toBytes(s.n.get()));
    std::string hg = hash(toBytes(s.g.get()));
    for (size_t i = 0; i < hn.size(); ++i) hn[i] = static_cast<char>(hn[i] ^ hg[i]);
    s.proof = hash(hn + hash(s.username) + std::string(salt) + paddedA + paddedB + s.sessionKey);
    return true;
}

bool SrpClient::verifyServer(std::string_view serverProof) const {
    if (state_->proof.empty()) return false;
    return serverProof == hash(state_->publicValue + state_->proof + state_->sessionKey);
}

}  // namespace device::hap
