// The messaging library's frame decoder: whatever a client can put on a channel's socket. Every
// frame that decodes must encode again to exactly its own bytes (the format has one way to write
// each value, and dictionaries keep their order), and decode again to the same frame.
#include <cmath>
#include <limits>

#include <Foundation/Foundation.h>
#include <MRYIPC/ChannelFrame.h>

#include "FuzzSupport.h"

using namespace device::ipc;

namespace {

device::Status encode(const Frame& frame, std::string& out) {
    if (frame.kind == FrameKind::reply) return encodeReply(frame.callId, frame.value.get(), out);
    return encodeCall(frame.kind, frame.callId, frame.origin, frame.selector, frame.value.get(), out);
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes.substr(0, 64)) text += {digits[c >> 4], digits[c & 15]};
    return bytes.size() > 64 ? text + "..." : text;
}

std::vector<fuzz::Seed> makeSeeds() {
    auto string = [](const char* text) { return NSString::stringWithUTF8String(text); };
    Strong<NSMutableDictionary> dictionary = NSMutableDictionary::dictionary();
    dictionary->setObject_forKey(NSNumber::numberWithBool(true).get(), string("Enabled").get());
    dictionary->setObject_forKey(string("Living Room").get(), string("B0000000-0000-4000-8000-000000000011").get());
    dictionary->setObject_forKey(
        NSArray::arrayWithObjects({string("a").get(), NSNumber::numberWithDouble(0.5).get()}).get(),
        string("list").get());
    Strong<NSObject> nested = string("deep");
    for (int i = 0; i < kMaxDepth; ++i) nested = NSArray::arrayWithObjects({nested.get()});
    std::vector<Strong<NSObject>> many;
    for (size_t i = 0; i + 1 < kMaxElements; ++i)
        many.push_back(NSNumber::numberWithInteger(static_cast<NSInteger>(i)));

    const std::vector<std::pair<const char*, Strong<NSObject>>> values = {
        {"nil", nullptr},
        {"colour", string("1.000000,0.501961,0.250980,1.000000")},
        {"yes", NSNumber::numberWithBool(true)},
        {"no", NSNumber::numberWithBool(false)},
        {"integer", NSNumber::numberWithLongLong(std::numeric_limits<long long>::min())},
        {"real", NSNumber::numberWithDouble(-0.0)},
        {"nan", NSNumber::numberWithDouble(std::nan(""))},
        {"empty-string", string("")},
        {"text", NSString::stringWithString(std::string("caf\xc3\xa9\0\xff", 7))},
        {"dictionary", dictionary},
        {"nested", nested},
        {"many", NSArray::arrayWithVector(std::move(many))},
    };
    std::vector<fuzz::Seed> seeds;
    uint32_t callId = 1;
    for (const auto& [name, value] : values) {
        for (FrameKind kind : {FrameKind::voidCall, FrameKind::acknowledgedCall, FrameKind::reply}) {
            std::string bytes;
            const device::Status made = kind == FrameKind::reply ? encodeReply(callId, value.get(), bytes)
                                                                 : encodeCall(kind, callId, 1'000'000'007ull * callId,
                                                                              "_updateColors:", value.get(), bytes);
            if (!made.ok()) fuzz::fail(std::string("seed ") + name + ": " + made.message());
            seeds.push_back({std::string(name) + "-" + std::to_string(static_cast<int>(kind)), bytes});
            ++callId;
        }
    }
    return seeds;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Frame frame;
    if (device::Status decoded = decodeFrame(data, size, frame); !decoded.ok()) {
        if (decoded.message().empty()) fuzz::fail("a refused frame without a reason");
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string encoded;
    if (device::Status made = encode(frame, encoded); !made.ok())
        fuzz::fail("a decoded frame does not encode: " + made.message() + " (" + hex(input) + ")");
    if (encoded != input) fuzz::fail("a decoded frame encodes differently: " + hex(input) + " became " + hex(encoded));

    Frame again;
    if (device::Status decodedAgain =
            decodeFrame(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size(), again);
        !decodedAgain.ok())
        fuzz::fail("a re-encoded frame does not decode: " + decodedAgain.message());
    if (again.kind != frame.kind || again.callId != frame.callId || again.origin != frame.origin ||
        again.selector != frame.selector)
        fuzz::fail("a re-encoded frame decodes to another header");
    // NSNumber equality is by value, and NaN equals nothing, so the values are compared by bytes.
    std::string reencoded;
    if (!encode(again, reencoded).ok() || reencoded != encoded) fuzz::fail("the value changed on the way round");
    if ((again.value == nil) != (frame.value == nil)) fuzz::fail("nil changed on the way round");
    return 0;
}
