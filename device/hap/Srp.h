// The client side of SRP-6a as pair-setup uses it: the 3072-bit group of RFC 5054, generator 5,
// SHA-512, username "Pair-Setup", the setup code as password; the arithmetic is SrpMath's.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace device::hap {

class SrpClient {
public:
    // A client with a fresh random private value (or `privateValue`, big-endian, for tests).
    static std::unique_ptr<SrpClient> make(std::string_view username, std::string_view password,
                                           std::string_view privateValue = {});
    ~SrpClient();

    // A, 384 bytes.
    const std::string& publicValue() const;
    // Takes the salt and B; computes the session key and M1. False when B is invalid (B mod N == 0).
    bool setServer(std::string_view salt, std::string_view serverPublic);
    // M1, the client's proof (64 bytes), after setServer.
    const std::string& proof() const;
    // Whether `serverProof` is M2 = H(A | M1 | K).
    bool verifyServer(std::string_view serverProof) const;
    // K, the shared session key (64 bytes), after setServer.
    const std::string& sessionKey() const;

private:
    struct State;
    explicit SrpClient(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace device::hap
