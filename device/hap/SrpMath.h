// The arithmetic of SRP-6a on the client's side (RFC 5054, section 2.6; the proof of RFC 2945),
// for any group and hash. SrpClient runs it with pair-setup's group; it stands on its own so that
// RFC 5054's test vectors, made with the 1024-bit group and SHA-1, can run through it. Values go in
// and out as big-endian bytes; the big numbers are OpenSSL's. Plain functions, safe on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace device::hap {

struct SrpGroup {
    std::string prime;       // N, big-endian, without leading zeros
    unsigned generator = 0;  // g
    std::string digest;      // H, by OpenSSL's name ("SHA512", "SHA1")
};

// Pair-setup's group: the 3072-bit group of RFC 5054, generator 5, with SHA-512. Its prime is
// empty when OpenSSL could not give it.
const SrpGroup& pairSetupGroup();

// H(data); empty when OpenSSL does not know the group's digest.
std::string srpHash(const SrpGroup& group, std::string_view data);
// `value` left-padded with zeros to the size of N; nullopt when it is wider than N.
std::optional<std::string> srpPad(const SrpGroup& group, std::string_view value);
// A = g^a mod N, padded; nullopt when it cannot be computed.
std::optional<std::string> srpPublicValue(const SrpGroup& group, std::string_view privateValue);
// The premaster secret S = (B - k * g^x) ^ (a + u * x) mod N, padded, where k = H(N | PAD(g)),
// u = H(PAD(A) | PAD(B)) and x = H(s | H(I | ":" | P)); `publicValue` is A, padded. nullopt when
// B mod N is 0, B is wider than N, u is 0, or it cannot be computed.
std::optional<std::string> srpPremasterSecret(const SrpGroup& group, std::string_view username,
                                              std::string_view password, std::string_view salt,
                                              std::string_view privateValue, std::string_view publicValue,
                                              std::string_view serverPublic);
// M1 = H(H(N) xor H(g) | H(I) | s | A | B | K), with A and B padded and K the session key.
std::string srpClientProof(const SrpGroup& group, std::string_view username, std::string_view salt,
                           std::string_view publicValue, std::string_view serverPublic, std::string_view sessionKey);

}  // namespace device::hap
