// The controller's cryptography, all of it from libsodium (Ed25519, X25519, ChaCha20-Poly1305-IETF,
// randomness) and OpenSSL 3 (SHA-512, HKDF-SHA512). Nothing here computes a primitive itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace device::hap::crypto {

// Initialises libsodium once; every function below calls it. False when it cannot.
bool ready();

void randomBytes(uint8_t* out, size_t size);
std::string randomBytes(size_t size);

std::array<uint8_t, 64> sha512(std::string_view data);

// HKDF-SHA512 of `key` with `salt` and `info`, 32 bytes out.
std::optional<std::array<uint8_t, 32>> hkdf(std::string_view key, std::string_view salt, std::string_view info);

struct Ed25519KeyPair {
    std::array<uint8_t, 32> publicKey{};
    std::array<uint8_t, 64> secretKey{};
};
Ed25519KeyPair ed25519KeyPair();
std::array<uint8_t, 64> ed25519Sign(std::string_view message, const std::array<uint8_t, 64>& secretKey);
bool ed25519Verify(std::string_view message, std::string_view signature, std::string_view publicKey);

struct X25519KeyPair {
    std::array<uint8_t, 32> publicKey{};
    std::array<uint8_t, 32> secretKey{};
};
X25519KeyPair x25519KeyPair();
// The shared secret; nullopt for a degenerate peer key.
std::optional<std::array<uint8_t, 32>> x25519(const std::array<uint8_t, 32>& secretKey, std::string_view peerPublic);

// The 12-byte nonce: 4 zero bytes, then 8 bytes (a label such as "PS-Msg05", or a little-endian counter).
std::array<uint8_t, 12> nonce(std::string_view label);
std::array<uint8_t, 12> nonce(uint64_t counter);

// ChaCha20-Poly1305-IETF: ciphertext with its 16-byte tag appended.
std::string seal(std::string_view plain, std::string_view aad, const std::array<uint8_t, 12>& nonce,
                 const std::array<uint8_t, 32>& key);
// nullopt when the tag does not match (or the input is shorter than a tag).
std::optional<std::string> open(std::string_view sealed, std::string_view aad, const std::array<uint8_t, 12>& nonce,
                                const std::array<uint8_t, 32>& key);

inline std::string_view view(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }
template <size_t N>
std::string_view view(const std::array<uint8_t, N>& bytes) {
    return view(bytes.data(), N);
}
template <size_t N>
std::optional<std::array<uint8_t, N>> toArray(std::string_view bytes) {
    if (bytes.size() != N) return std::nullopt;
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < N; ++i) out[i] = static_cast<uint8_t>(bytes[i]);
    return out;
}

}  // namespace device::hap::crypto
