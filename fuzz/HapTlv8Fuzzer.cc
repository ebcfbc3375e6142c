// The TLV8 decoder of the pairing messages: whatever an accessory sends during pair-setup and
// pair-verify. Every input that decodes must encode and decode again, to the same items unless an
// item a multiple of 255 bytes long is followed by one of its type (the format cannot tell that
// from one long item).
#include "FuzzSupport.h"
#include "hap/Tlv8.h"

using namespace device::hap;

namespace {

std::vector<fuzz::Seed> makeSeeds() {
    std::string key(384, '\x5a');
    std::string signature(64, '\x11');
    return {
        {"m2", Tlv8().add(kTlvState, 2).add(kTlvSalt, std::string(16, 's')).add(kTlvPublicKey, key).encode()},
        {"m4-error", Tlv8().add(kTlvState, 4).add(kTlvError, kTlvErrorAuthentication).encode()},
        {"inner", Tlv8().add(kTlvIdentifier, "0E:47:4C:00:01:02").add(kTlvSignature, signature).encode()},
        {"list", Tlv8().add(kTlvIdentifier, "a").add(kTlvSeparator, "").add(kTlvIdentifier, "b").encode()},
        {"exact-255", Tlv8().add(kTlvEncryptedData, std::string(255, 'e')).add(kTlvState, 6).encode()},
    };
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto decoded = Tlv8::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded.ok()) {
        if (decoded.status().message().empty()) fuzz::fail("refused TLV8 without a reason");
        return 0;
    }
    auto again = Tlv8::decode(decoded->encode());
    if (!again.ok()) fuzz::fail("decoded TLV8 does not decode after encoding");
    const auto& items = decoded->items();
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        if (items[i].type == items[i + 1].type && !items[i].value.empty() && items[i].value.size() % 255 == 0) return 0;
    }
    if (again->items().size() != decoded->items().size()) fuzz::fail("the items changed on the way round");
    for (size_t i = 0; i < again->items().size(); ++i) {
        if (again->items()[i].type != decoded->items()[i].type || again->items()[i].value != decoded->items()[i].value)
            fuzz::fail("item " + std::to_string(i) + " changed on the way round");
    }
    return 0;
}
