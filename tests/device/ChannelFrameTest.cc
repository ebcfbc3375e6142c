// The frame codec: what goes in comes out, and no byte sequence gets past the decoder's checks.
#include <MRYIPC/ChannelFrame.h>

#include <gtest/gtest.h>

#include <random>

#include "ChannelValues.h"

using namespace device::ipc;

namespace {

Frame decoded(const std::string& bytes, std::string* error = nullptr) {
    Frame frame;
    device::Status decoded = decodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), frame);
    if (error) *error = decoded.message();
    if (!decoded.ok()) frame.selector = "<failed>";
    return frame;
}

std::string callFrame(id value, FrameKind kind = FrameKind::acknowledgedCall) {
    std::string out;
    EXPECT_EQ(encodeCall(kind, 7, 0, "_updateColors:", value, out).message(), "");
    return out;
}

// A value nested `levels` containers deep, alternating arrays and dictionaries.
Strong<NSObject> nested(int levels) {
    Strong<NSObject> value = NSSTR("core");
    for (int i = 0; i < levels; ++i)
        value = i % 2 ? Strong<NSObject>(NSArray::arrayWithObjects({value}))
                      : Strong<NSObject>(NSDictionary::dictionaryWithEntries({{NSSTR("k"), value}}));
    return value;
}

// A hand-made call frame whose value is `levels` arrays of one element around an integer.
std::string rawNestedArrays(int levels) {
    std::string bytes = callFrame(nil).substr(0, 29);  // header and selector, without the value
    for (int i = 0; i < levels; ++i) bytes += std::string("\x06\x01\x00\x00\x00", 5);
    return bytes + std::string("\x03\x01\x00\x00\x00\x00\x00\x00\x00", 9);
}

}  // namespace

TEST(ChannelFrameTest, EveryKindRoundTripsInCallsAndReplies) {
    Strong<NSObject> value = everyKindValue();
    for (FrameKind kind : {FrameKind::voidCall, FrameKind::acknowledgedCall}) {
        Frame frame = decoded(callFrame(value, kind));
        EXPECT_EQ(frame.kind, kind);
        EXPECT_EQ(frame.callId, 7u);
        EXPECT_EQ(frame.selector, "_updateColors:");
        EXPECT_TRUE(sameValue(frame.value, value));
    }
    std::string reply;
    ASSERT_EQ(encodeReply(0xfffffffe, value, reply).message(), "");
    Frame frame = decoded(reply);
    EXPECT_EQ(frame.kind, FrameKind::reply);
    EXPECT_EQ(frame.callId, 0xfffffffeu);
    EXPECT_TRUE(frame.selector.empty());
    EXPECT_TRUE(sameValue(frame.value, value));

    EXPECT_EQ(decoded(callFrame(nil)).value.get(), nil);
    Strong<NSObject> nan = decoded(callFrame(NSNumber::numberWithDouble(std::nan("")))).value;
    EXPECT_TRUE(std::isnan(objc_cast<NSNumber>(nan)->doubleValue()));
}

TEST(ChannelFrameTest, ValuesThatCannotTravelBecomeNilOrAreLeftOut) {
    auto block = makeBlock([](id) {});
    EXPECT_EQ(decoded(callFrame(block)).value.get(), nil);

    Strong<NSArray> array = NSArray::arrayWithObjects({NSSTR("a"), block, NSSTR("b")});
    EXPECT_TRUE(sameValue(decoded(callFrame(array)).value, NSArray::arrayWithObjects({NSSTR("a"), NSSTR("b")})));

    auto dictionary = NSDictionary::dictionaryWithEntries(
        {{NSSTR("kept"), NSSTR("v")}, {NSSTR("dropped"), block}, {NSNumber::numberWithInteger(1), NSSTR("x")}});
    EXPECT_TRUE(sameValue(decoded(callFrame(dictionary)).value,
                          NSDictionary::dictionaryWithEntries({{NSSTR("kept"), NSSTR("v")}})));
}

TEST(ChannelFrameTest, EncoderRefusesWhatTheDecoderWouldRefuse) {
    std::string out;
    EXPECT_EQ(encodeCall(FrameKind::voidCall, 0, 0, "s:", nested(kMaxDepth), out).message(), "");
    EXPECT_TRUE(decoded(out).selector == "s:");
    EXPECT_FALSE(encodeCall(FrameKind::voidCall, 0, 0, "s:", nested(kMaxDepth + 1), out).ok());

    std::vector<Strong<NSObject>> many(kMaxElements, NSSTR("x"));
    EXPECT_FALSE(encodeCall(FrameKind::voidCall, 0, 0, "s:", NSArray::arrayWithVector(many), out).ok());
    many.pop_back();  // the array itself counts as one element
    EXPECT_EQ(encodeCall(FrameKind::voidCall, 0, 0, "s:", NSArray::arrayWithVector(many), out).message(), "");

    EXPECT_FALSE(
        encodeCall(FrameKind::voidCall, 0, 0, "s:", NSString::stringWithString(std::string(kMaxFrameSize, 'x')), out)
            .ok());
    EXPECT_FALSE(encodeCall(FrameKind::voidCall, 0, 0, "", nil, out).ok());
    EXPECT_FALSE(encodeCall(FrameKind::voidCall, 0, 0, std::string(kMaxSelectorLength + 1, 's'), nil, out).ok());
    EXPECT_FALSE(encodeCall(FrameKind::reply, 0, 0, "s:", nil, out).ok());
}

TEST(ChannelFrameTest, MalformedFramesAreRefusedWithAReason) {
    std::string good = callFrame(everyKindValue());
    std::string error;
    for (size_t length = 0; length < good.size(); ++length) {
        decoded(good.substr(0, length), &error);
        EXPECT_FALSE(error.empty()) << "a frame cut to " << length << " bytes was accepted";
    }
    auto refused = [&](std::string bytes, const char* what) {
        decoded(bytes, &error);
        EXPECT_FALSE(error.empty()) << what;
    };
    refused(good + '\0', "a byte after the value");
    refused(std::string(1, '\x01') + good.substr(1), "an unknown version");
    refused(good.substr(0, 1) + '\x09' + good.substr(2), "an unknown kind");
    refused(good.substr(0, 29) + '\x08', "an unknown tag");
    refused(good.substr(0, 29) + std::string("\x06\x01\x00\x00\x00\x00", 6), "nil inside an array");
    refused(good.substr(0, 29) + std::string("\x06\xff\xff\xff\xff", 5), "a forged count");
    refused(good.substr(0, 29) + std::string("\x05\xff\xff\xff\x7f", 5) + "abc", "a forged length");
    const std::string header = std::string("\x02\x01", 2) + std::string(4 + 8, '\0');  // call id, origin
    refused(header + std::string("\x00\x00", 2), "an empty selector");
    refused(header + std::string("\x02s\0\x00", 4), "NUL in the selector");
    std::string key = std::string("\x01\x00\x00\x00", 4) + "k" + '\x01';
    refused(good.substr(0, 29) + std::string("\x07\x02\x00\x00\x00", 5) + key + key, "a repeated key");
    refused(good + std::string(kMaxFrameSize, 'x'), "an oversized frame");

    EXPECT_EQ(decoded(rawNestedArrays(kMaxDepth)).selector, "_updateColors:");
    refused(rawNestedArrays(kMaxDepth + 1), "too deep");
    refused(rawNestedArrays(5000), "far too deep");
}

TEST(ChannelFrameTest, MutatedFramesDecodeToValuesThatReencodeAlike) {
    std::mt19937 random(20240611);
    std::string good = callFrame(everyKindValue());
    int accepted = 0;
    for (int round = 0; round < 5000; ++round) {
        std::string bytes = good;
        for (int flips = 1 + random() % 4; flips > 0; --flips)
            bytes[random() % bytes.size()] = static_cast<char>(random());
        if (random() % 4 == 0) bytes.resize(random() % bytes.size());
        std::string error;
        Frame frame = decoded(bytes, &error);
        if (!error.empty()) continue;
        ++accepted;
        std::string again;
        if (frame.kind == FrameKind::reply) {
            ASSERT_EQ(encodeReply(frame.callId, frame.value, again).message(), "");
        } else {
            ASSERT_EQ(encodeCall(frame.kind, frame.callId, frame.origin, frame.selector, frame.value, again).message(),
                      "");
        }
        Frame second = decoded(again, &error);
        ASSERT_TRUE(error.empty()) << error;
        EXPECT_EQ(second.selector, frame.selector);
        EXPECT_TRUE(sameValue(second.value, frame.value));
    }
    EXPECT_GT(accepted, 0);  // some mutations only change text or numbers
}
