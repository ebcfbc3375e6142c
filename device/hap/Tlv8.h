// TLV8: the type-length-value items of the pairing messages. A value longer than 255 bytes is sent
// as consecutive items of the same type, which the decoder joins back into one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../base/StatusOr.h"

namespace device::hap {

enum TlvType : uint8_t {
    kTlvMethod = 0x00,
    kTlvIdentifier = 0x01,
    kTlvSalt = 0x02,
    kTlvPublicKey = 0x03,
    kTlvProof = 0x04,
    kTlvEncryptedData = 0x05,
    kTlvState = 0x06,
    kTlvError = 0x07,
    kTlvRetryDelay = 0x08,
    kTlvSignature = 0x0A,
    kTlvPermissions = 0x0B,
    kTlvFlags = 0x13,
    kTlvSeparator = 0xFF,
};

// The method a pairing request names.
enum TlvMethod : uint8_t {
    kTlvMethodPairSetup = 0,
    kTlvMethodPairSetupWithAuth = 1,
    kTlvMethodPairVerify = 2,
    kTlvMethodAddPairing = 3,
    kTlvMethodRemovePairing = 4,
    kTlvMethodListPairings = 5,
};

// TLV errors an accessory sends.
enum TlvError : uint8_t {
    kTlvErrorUnknown = 1,
    kTlvErrorAuthentication = 2,
    kTlvErrorBackoff = 3,
    kTlvErrorMaxPeers = 4,
    kTlvErrorMaxTries = 5,
    kTlvErrorUnavailable = 6,
    kTlvErrorBusy = 7,
};

struct TlvItem {
    uint8_t type = 0;
    std::string value;
};

class Tlv8 {
public:
    Tlv8& add(uint8_t type, std::string_view value);
    Tlv8& add(uint8_t type, uint8_t value);
    // The items, in order; a long value split into items of at most 255 bytes.
    std::string encode() const;
    // Reads `bytes`: adjacent items of one type are joined. Truncated input is an error.
    static device::StatusOr<Tlv8> decode(std::string_view bytes);

    // The first item of `type`.
    const std::string* find(uint8_t type) const;
    // The one-byte value of the first item of `type`.
    std::optional<uint8_t> byte(uint8_t type) const;
    const std::vector<TlvItem>& items() const { return items_; }

private:
    std::vector<TlvItem> items_;
};

}  // namespace device::hap
