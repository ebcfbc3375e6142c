#include "SrpMath.h"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <memory>

namespace device::hap {

namespace {

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
std::string toBytes(const BIGNUM* bn, size_t width = 0) {
    int size = width ? static_cast<int>(width) : BN_num_bytes(bn);
    std::string out(size, '\0');
    BN_bn2binpad(bn, reinterpret_cast<unsigned char*>(out.data()), size);
    return out;
}

const EVP_MD* digestOf(const SrpGroup& group) { return EVP_get_digestbyname(group.digest.c_str()); }

// g, unpadded.
std::string generatorBytes(const SrpGroup& group) {
    Bn g(BN_new());
    if (!g || !BN_set_word(g.get(), group.generator)) return {};
    return toBytes(g.get());
}

}  // namespace

const SrpGroup& pairSetupGroup() {
    static const SrpGroup group = [] {
        Bn prime(BN_get_rfc3526_prime_3072(nullptr));
        return SrpGroup{prime ? toBytes(prime.get()) : std::string(), 5, "SHA512"};
    }();
    return group;
}

std::string srpHash(const SrpGroup& group, std::string_view data) {
    const EVP_MD* digest = digestOf(group);
    if (!digest) return {};
    std::string out(EVP_MAX_MD_SIZE, '\0');
    unsigned int size = 0;
    if (!EVP_Digest(data.data(), data.size(), reinterpret_cast<unsigned char*>(out.data()), &size, digest, nullptr))
        return {};
    out.resize(size);
    return out;
}

std::optional<std::string> srpPad(const SrpGroup& group, std::string_view value) {
    size_t first = value.find_first_not_of('\0');
    std::string_view digits = first == std::string_view::npos ? std::string_view() : value.substr(first);
    if (digits.size() > group.prime.size()) return std::nullopt;
    return std::string(group.prime.size() - digits.size(), '\0') + std::string(digits);
}

std::optional<std::string> srpPublicValue(const SrpGroup& group, std::string_view privateValue) {
    std::unique_ptr<BN_CTX, CtxDeleter> ctx(BN_CTX_new());
    Bn n = fromBytes(group.prime), g(BN_new()), a = fromBytes(privateValue), publicValue(BN_new());
    if (!ctx || !n || !g || !a || !publicValue || BN_is_zero(n.get()) || !BN_set_word(g.get(), group.generator) ||
        !BN_mod_exp(publicValue.get(), g.get(), a.get(), n.get(), ctx.get())) {
        return std::nullopt;
    }
    return toBytes(publicValue.get(), group.prime.size());
}

std::optional<std::string> srpPremasterSecret(const SrpGroup& group, std::string_view username,
                                              std::string_view password, std::string_view salt,
                                              std::string_view privateValue, std::string_view publicValue,
                                              std::string_view serverPublic) {
    std::unique_ptr<BN_CTX, CtxDeleter> ctx(BN_CTX_new());
    Bn n = fromBytes(group.prime), a = fromBytes(privateValue), b = fromBytes(serverPublic), reduced(BN_new());
    if (!ctx || !digestOf(group) || !n || BN_is_zero(n.get()) || !a || !b || !reduced) return std::nullopt;
    if (!BN_nnmod(reduced.get(), b.get(), n.get(), ctx.get()) || BN_is_zero(reduced.get())) return std::nullopt;
    auto paddedA = srpPad(group, publicValue);
    auto paddedB = srpPad(group, serverPublic);
    auto paddedG = srpPad(group, generatorBytes(group));
    if (!paddedA || !paddedB || !paddedG) return std::nullopt;

    Bn g = fromBytes(*paddedG);
    Bn k = fromBytes(srpHash(group, group.prime + *paddedG));
    Bn u = fromBytes(srpHash(group, *paddedA + *paddedB));
    Bn x = fromBytes(
        srpHash(group, std::string(salt) + srpHash(group, std::string(username) + ":" + std::string(password))));
    if (!g || !k || !u || !x || BN_is_zero(u.get())) return std::nullopt;

    // S = (B - k * g^x) ^ (a + u * x) mod N
    Bn gx(BN_new()), kgx(BN_new()), base(BN_new()), ux(BN_new()), exponent(BN_new()), secret(BN_new());
    if (!gx || !kgx || !base || !ux || !exponent || !secret) return std::nullopt;
    BN_CTX* c = ctx.get();
    if (!BN_mod_exp(gx.get(), g.get(), x.get(), n.get(), c) || !BN_mod_mul(kgx.get(), k.get(), gx.get(), n.get(), c) ||
        !BN_mod_sub(base.get(), b.get(), kgx.get(), n.get(), c) || !BN_mul(ux.get(), u.get(), x.get(), c) ||
        !BN_add(exponent.get(), a.get(), ux.get()) ||
        !BN_mod_exp(secret.get(), base.get(), exponent.get(), n.get(), c)) {
        return std::nullopt;
    }
    return toBytes(secret.get(), group.prime.size());
}

std::string srpClientProof(const SrpGroup& group, std::string_view username, std::string_view salt,
                           std::string_view publicValue, std::string_view serverPublic, std::string_view sessionKey) {
    std::string hn = srpHash(group, group.prime);
    std::string hg = srpHash(group, generatorBytes(group));
    for (size_t i = 0; i < hn.size() && i < hg.size(); ++i) hn[i] = static_cast<char>(hn[i] ^ hg[i]);
    return srpHash(group, hn + srpHash(group, username) + std::string(salt) + std::string(publicValue) +
                              std::string(serverPublic) + std::string(sessionKey));
}

}  // namespace device::hap
