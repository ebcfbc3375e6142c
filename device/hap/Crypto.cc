#include "Crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <sodium.h>

#include <cstring>

namespace device::hap::crypto {

bool ready() {
    static const bool initialised = sodium_init() >= 0;
    return initialised;
}

void randomBytes(uint8_t* out, size_t size) {
    ready();
    randombytes_buf(out, size);
}

std::string randomBytes(size_t size) {
    std::string out(size, '\0');
    randomBytes(reinterpret_cast<uint8_t*>(out.data()), size);
    return out;
}

std::array<uint8_t, 64> sha512(std::string_view data) {
    std::array<uint8_t, 64> digest{};
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha512(), nullptr);
    return digest;
}

std::optional<std::array<uint8_t, 32>> hkdf(std::string_view key, std::string_view salt, std::string_view info) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (!kdf) return std::nullopt;
    EVP_KDF_CTX* context = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    if (!context) return std::nullopt;
    char digest[] = "SHA512";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(key.data()), key.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()), info.size()),
        OSSL_PARAM_construct_end(),
    };
    std::array<uint8_t, 32> out{};
    bool derived = EVP_KDF_derive(context, out.data(), out.size(), params) > 0;
    EVP_KDF_CTX_free(context);
    if (!derived) return std::nullopt;
    return out;
}

Ed25519KeyPair ed25519KeyPair() {
    ready();
    Ed25519KeyPair pair;
    crypto_sign_keypair(pair.publicKey.data(), pair.secretKey.data());
    return pair;
}

std::array<uint8_t, 64> ed25519Sign(std::string_view message, const std::array<uint8_t, 64>& secretKey) {
    ready();
    std::array<uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                         secretKey.data());
    return signature;
}

bool ed25519Verify(std::string_view message, std::string_view signature, std::string_view publicKey) {
    ready();
    if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES) return false;
    return crypto_sign_verify_detached(reinterpret_cast<const uint8_t*>(signature.data()),
                                       reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                                       reinterpret_cast<const uint8_t*>(publicKey.data())) == 0;
}

X25519KeyPair x25519KeyPair() {
    ready();
    X25519KeyPair pair;
    randombytes_buf(pair.secretKey.data(), pair.secretKey.size());
    crypto_scalarmult_base(pair.publicKey.data(), pair.secretKey.data());
    return pair;
}

std::optional<std::array<uint8_t, 32>> x25519(const std::array<uint8_t, 32>& secretKey, std::string_view peerPublic) {
    ready();
    if (peerPublic.size() != crypto_scalarmult_BYTES) return std::nullopt;
    std::array<uint8_t, 32> shared{};
    // libsodium refuses a peer key that gives the all-zero secret.
    if (crypto_scalarmult(shared.data(), secretKey.data(), reinterpret_cast<const uint8_t*>(peerPublic.data())) != 0) {
        return std::nullopt;
    }
    return shared;
}

std::array<uint8_t, 12> nonce(std::string_view label) {
    std::array<uint8_t, 12> out{};
    std::memcpy(out.data() + 4, label.data(), std::min<size_t>(8, label.size()));
    return out;
}

std::array<uint8_t, 12> nonce(uint64_t counter) {
    std::array<uint8_t, 12> out{};
    for (int i = 0; i < 8; ++i) out[4 + i] = static_cast<uint8_t>(counter >> (8 * i));
    return out;
}

std::string seal(std::string_view plain, std::string_view aad, const std::array<uint8_t, 12>& nonce,
                 const std::array<uint8_t, 32>& key) {
    ready();
    std::string out(plain.size() + crypto_aead_chacha20poly1305_ietf_ABYTES, '\0');
    unsigned long long size = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(
        reinterpret_cast<uint8_t*>(out.data()), &size, reinterpret_cast<const uint8_t*>(plain.data()), plain.size(),
        reinterpret_cast<const uint8_t*>(aad.data()), aad.size(), nullptr, nonce.data(), key.data());
    out.resize(size);
    return out;
}

std::optional<std::string> open(std::string_view sealed, std::string_view aad, const std::array<uint8_t, 12>& nonce,
                                const std::array<uint8_t, 32>& key) {
    ready();
    if (sealed.size() < crypto_aead_chacha20poly1305_ietf_ABYTES) return std::nullopt;
    std::string out(sealed.size() - crypto_aead_chacha20poly1305_ietf_ABYTES, '\0');
    unsigned long long size = 0;
    if (crypto_aead_chacha20poly1305_ietf_decrypt(
            reinterpret_cast<uint8_t*>(out.data()), &size, nullptr, reinterpret_cast<const uint8_t*>(sealed.data()),
            sealed.size(), reinterpret_cast<const uint8_t*>(aad.data()), aad.size(), nonce.data(), key.data()) != 0) {
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

}  // namespace device::hap::crypto
