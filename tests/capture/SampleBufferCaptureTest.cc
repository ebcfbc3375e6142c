// The decoder path: every sample enqueued on a display layer reaches the layer, and, while "Active"
// is on and readyForUpdates is YES, the process's one decompression session, whose pictures are
// sent as colour messages with the acknowledged send.
#include <fstream>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>

#include <AVKit/AVSampleBufferDisplayLayer.h>
#include <CoreFoundation/CFBoolean.h>
#include <CoreFoundation/CFDevice.h>
#include <CoreMedia/CoreMediaDevice.h>
#include <Foundation/FoundationDevice.h>
#include <Foundation/NSLog.h>
#include <VideoToolbox/VTDecompressionSession.h>
#include <media/TestPattern.h>
#include <media/VideoFileReader.h>

#include "CaptureFixture.h"
#include "capture/FrameColour.h"
#include "capture/SampleBufferCapture.h"
#include "support/StatusAssertions.h"

namespace {

using Samples = std::vector<SampleBufferHolder>;

// Every sample of a clip of `pattern` written with `settings`.
Samples clipSamples(const std::string& directory, const std::string& pattern, const ClipSettings& settings) {
    static int count = 0;
    const std::string path = directory + "/clip" + std::to_string(++count) + ".mp4";
    auto segments = parseTestPattern(pattern);
    EXPECT_TRUE(succeeded(segments));
    EXPECT_TRUE(succeeded(writeTestPatternClip(path, *segments, settings)));
    auto reader = expectValue(VideoFileReader::open(path));
    Samples samples;
    while (reader && (samples.emplace_back(reader->nextSample()), samples.back())) {
    }
    if (!samples.empty()) samples.pop_back();
    return samples;
}

ClipSettings settings(ClipCodec codec, int width, int height) {
    ClipSettings clip;
    clip.codec = codec;
    clip.width = width;
    clip.height = height;
    clip.gop = 4;
    return clip;
}

// A keyframe sample of `format` whose bytes are not what the codec expects.
SampleBufferHolder garbageSample(CMFormatDescriptionRef format) {
    std::vector<uint8_t> bytes(200);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    bytes[0] = 0, bytes[1] = 0, bytes[2] = 0, bytes[3] = 196;  // a plausible length prefix
    const CMSampleTimingInfo timing{CMTimeMake(1, 25), CMTimeMake(99, 25), CMTimeMake(99, 25)};
    SampleBufferHolder sample;
    EXPECT_EQ(CMSampleBufferCreateWithPacket(kCFAllocatorDefault, format, bytes.data(), bytes.size(), &timing, true,
                                             sample.receive()),
              noErr);
    return sample;
}

class SampleBufferCaptureTest : public CaptureTest {
protected:
    static void SetUpTestSuite() {
        CaptureTest::SetUpTestSuite();
        if (!red) {
            // Every red sample is a keyframe, so that samples may be decoded in any order.
            ClipSettings keyframesOnly = settings(ClipCodec::h264, 64, 48);
            keyframesOnly.gop = 1;
            red = new Samples(clipSamples(device->path(), "red*8", keyframesOnly));
            blue = new Samples(clipSamples(device->path(), "blue*8", settings(ClipCodec::mpeg4, 96, 64)));
        }
    }
    void SetUp() override {
        CaptureTest::SetUp();
        sampleBufferCapture::discardDecompressionSession();
        layer = makeObject<AVSampleBufferDisplayLayer>();
    }

    void enqueue(AVSampleBufferDisplayLayer* onto, CMSampleBufferRef sample) {
        objc_msgSend<void>(onto, SEL_(enqueueSampleBuffer:), sample);
    }
    void enqueue(CMSampleBufferRef sample) { enqueue(layer, sample); }

    // Waits until `count` messages have arrived, then a little longer so that extra ones would show.
    static std::vector<std::string> settledMessages(size_t count) {
        runUntil([&] { return server->count() >= count; }, std::chrono::seconds(5));
        return quietMessages();
    }
    // What has arrived once the channel has had time to deliver what was sent.
    static std::vector<std::string> quietMessages() {
        runFor(std::chrono::milliseconds(100));
        return server->messages();
    }

    static std::string systemLog() {
        std::ifstream file(device::systemLogPath());
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static bool reducedResolutionRequested(VTDecompressionSessionRef session) {
        CFTypeRef value = nullptr;
        EXPECT_EQ(VTSessionCopyProperty(session, kVTDecompressionPropertyKey_ReducedResolutionDecode, nullptr, &value),
                  noErr);
        const bool requested = CFBooleanGetValue(CFBooleanFromTypeRef(value));
        CFRelease(value);
        return requested;
    }

    static Samples* red;
    static Samples* blue;
    Strong<AVSampleBufferDisplayLayer> layer;
};

Samples* SampleBufferCaptureTest::red = nullptr;
Samples* SampleBufferCaptureTest::blue = nullptr;

const char* const kRedMessage = "1.000000,0.000000,0.000000,1.000000";

// Within what 8-bit video allows: each field of the message near the expected one.
MATCHER_P3(ColourNear, red, green, blue, "") {
    double r, g, b, a;
    if (std::sscanf(arg.c_str(), "%lf,%lf,%lf,%lf", &r, &g, &b, &a) != 4) return false;
    constexpr double tolerance = 6.0 / 255;
    return std::abs(r - red) < tolerance && std::abs(g - green) < tolerance && std::abs(b - blue) < tolerance &&
           a == 1.0;
}

TEST_F(SampleBufferCaptureTest, TheFirstSamplePreparesASessionAndEachLaterOneSendsItsColourOnce) {
    ASSERT_GE(red->size(), 4u);
    enqueue((*red)[0]);
    VTDecompressionSessionRef session = sampleBufferCapture::currentDecompressionSession();
    ASSERT_NE(session, nullptr);
    EXPECT_FALSE(reducedResolutionRequested(session));  // the first session of a process asks for full size

    for (size_t i = 1; i < red->size(); ++i) enqueue((*red)[i]);
    auto messages = settledMessages(red->size() - 1);
    EXPECT_EQ(messages.size(), red->size() - 1);
    for (const std::string& message : messages) EXPECT_THAT(message, ColourNear(1.0, 0.0, 0.0)) << message;
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), session);
    // The layer still got every sample.
    EXPECT_EQ(layer->enqueuedSampleCount(), static_cast<long>(red->size()));
    layer->flushDecoder();
    EXPECT_EQ(layer->shownFrameCount(), static_cast<long>(red->size()));
}

TEST_F(SampleBufferCaptureTest, ANewFormatReplacesTheSessionWithAReducedResolutionOne) {
    enqueue((*red)[0]);
    enqueue((*red)[1]);
    VTDecompressionSessionRef first = sampleBufferCapture::currentDecompressionSession();
    ASSERT_EQ(settledMessages(1).size(), 1u);

    enqueue((*blue)[0]);  // only replaces the session
    VTDecompressionSessionRef replacement = sampleBufferCapture::currentDecompressionSession();
    ASSERT_NE(replacement, nullptr);
    EXPECT_NE(replacement, first);
    EXPECT_TRUE(reducedResolutionRequested(replacement));
    EXPECT_EQ(quietMessages().size(), 1u);

    // The session starts at the stream's next keyframe (every fourth sample) and sends from there.
    for (size_t i = 1; i <= 5; ++i) enqueue((*blue)[i]);
    auto messages = settledMessages(3);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_THAT(messages[1], ColourNear(0.0, 0.0, 1.0));
    EXPECT_THAT(messages[2], ColourNear(0.0, 0.0, 1.0));
}

TEST_F(SampleBufferCaptureTest, ASampleWithNoFormatClearsTheSessionAndTheNextMakesAPlainOne) {
    enqueue((*red)[0]);
    enqueue((*blue)[0]);  // a replacement, with the reduced-resolution request
    ASSERT_NE(sampleBufferCapture::currentDecompressionSession(), nullptr);

    enqueue(nullptr);
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), nullptr);
    EXPECT_EQ(layer->enqueuedSampleCount(), 3) << "the layer still gets it";
    enqueue(nullptr);
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), nullptr);

    enqueue((*red)[1]);  // prepares a session as at start-up: not decoded, full size asked for
    VTDecompressionSessionRef fresh = sampleBufferCapture::currentDecompressionSession();
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(reducedResolutionRequested(fresh));
    EXPECT_TRUE(quietMessages().empty());
    enqueue((*red)[2]);
    EXPECT_THAT(settledMessages(1), ::testing::ElementsAre(ColourNear(1.0, 0.0, 0.0)));
}

TEST_F(SampleBufferCaptureTest, SamplesAlternatingBetweenFormatsAreNeverDecoded) {
    VTDecompressionSessionRef previous = nullptr;
    for (size_t i = 0; i < 6; ++i) {
        enqueue(i % 2 ? (*blue)[i] : (*red)[i]);
        VTDecompressionSessionRef current = sampleBufferCapture::currentDecompressionSession();
        EXPECT_NE(current, previous) << "sample " << i;
        previous = current;
    }
    EXPECT_TRUE(quietMessages().empty());
    EXPECT_EQ(layer->enqueuedSampleCount(), 6);
}

TEST_F(SampleBufferCaptureTest, TwoLayersShareTheOneSession) {
    auto other = makeObject<AVSampleBufferDisplayLayer>();
    enqueue((*red)[0]);
    VTDecompressionSessionRef session = sampleBufferCapture::currentDecompressionSession();
    enqueue(other, (*red)[1]);
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), session);
    EXPECT_EQ(settledMessages(1).size(), 1u);
    EXPECT_EQ(layer->enqueuedSampleCount(), 1);
    EXPECT_EQ(other->enqueuedSampleCount(), 1);
}

TEST_F(SampleBufferCaptureTest, WithActiveOffOrTheGateClosedOnlyTheLayerSeesTheSamples) {
    setActive(false);
    for (size_t i = 0; i < 3; ++i) enqueue((*red)[i]);
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), nullptr);

    setActive(true);
    enqueue((*red)[3]);
    VTDecompressionSessionRef session = sampleBufferCapture::currentDecompressionSession();
    ASSERT_NE(session, nullptr);

    // Turning "Active" off keeps the session; turning it on again decodes with it.
    setActive(false);
    enqueue((*red)[4]);
    __atomic_store_n(&readyForUpdates, NO, __ATOMIC_RELEASE);
    setActive(true);
    enqueue((*red)[5]);
    enqueue((*blue)[0]);  // not even a new format does anything while the gate is closed
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), session);
    EXPECT_TRUE(quietMessages().empty());

    __atomic_store_n(&readyForUpdates, YES, __ATOMIC_RELEASE);
    enqueue((*red)[6]);
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), session);
    EXPECT_EQ(settledMessages(1).size(), 1u);
    EXPECT_EQ(layer->enqueuedSampleCount(), 8);
}

TEST_F(SampleBufferCaptureTest, ADecoderErrorLogsItsStatusOnceOpensTheGateAndSendsNothing) {
    enqueue((*red)[0]);
    const size_t logBefore = systemLog().size();
    enqueue(garbageSample(CMSampleBufferGetFormatDescription((*red)[0])));
    const std::string logged = systemLog().substr(logBefore);
    EXPECT_THAT(logged, ::testing::HasSubstr("[Glim] VideoToolboxDecoder callback error -12909\n"));
    EXPECT_EQ(logged.find("[Glim]"), logged.rfind("[Glim]"));  // exactly one line
    EXPECT_TRUE(quietMessages().empty());

    // The session stays in use and decodes the next good keyframe.
    VTDecompressionSessionRef session = sampleBufferCapture::currentDecompressionSession();
    enqueue((*red)[4]);
    EXPECT_EQ(sampleBufferCapture::currentDecompressionSession(), session);
    EXPECT_EQ(settledMessages(1).size(), 1u);
}

TEST_F(SampleBufferCaptureTest, TheCallbackPrintsAnyStatusAsSignedDecimalAndOpensTheGate) {
    const size_t logBefore = systemLog().size();
    for (OSStatus status : {-12911, 7}) {
        __atomic_store_n(&readyForUpdates, NO, __ATOMIC_RELEASE);
        videoDecompressionOutputCallback(nullptr, nullptr, status, 0, nullptr, kCMTimeInvalid, kCMTimeInvalid);
        EXPECT_EQ(__atomic_load_n(&readyForUpdates, __ATOMIC_ACQUIRE), YES);
    }
    const std::string logged = systemLog().substr(logBefore);
    EXPECT_THAT(logged, ::testing::HasSubstr("[Glim] VideoToolboxDecoder callback error -12911\n"));
    EXPECT_THAT(logged, ::testing::HasSubstr("[Glim] VideoToolboxDecoder callback error 7\n"));
    // A successful call without a picture sends nothing.
    videoDecompressionOutputCallback(nullptr, nullptr, noErr, kVTDecodeInfo_FrameDropped, nullptr, kCMTimeInvalid,
                                     kCMTimeInvalid);
    EXPECT_TRUE(quietMessages().empty());
}

TEST_F(SampleBufferCaptureTest, TheServersReplyOpensTheGate) {
    __atomic_store_n(&readyForUpdates, NO, __ATOMIC_RELEASE);
    sendAcknowledgedColorMessage(colourServerCenter(), NSSTR("1.000000,0.000000,0.000000,1.000000"));
    EXPECT_TRUE(runUntil([] { return __atomic_load_n(&readyForUpdates, __ATOMIC_ACQUIRE) == YES; }));
    EXPECT_THAT(settledMessages(1), ::testing::ElementsAre(ColourNear(1.0, 0.0, 0.0)));
}

TEST_F(SampleBufferCaptureTest, LayersFedFromSeveralThreadsAtOnceTakeTurnsWithTheSession) {
    enqueue((*red)[0]);
    constexpr int kThreads = 3;
    std::vector<Strong<AVSampleBufferDisplayLayer>> layers;
    for (int i = 0; i < kThreads; ++i) layers.push_back(makeObject<AVSampleBufferDisplayLayer>());
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            for (size_t s = 1; s < red->size(); ++s) enqueue(layers[i], (*red)[s]);
        });
    for (auto& thread : threads) thread.join();
    // Interleaved samples make poor video, but every one is decoded and answered with one message.
    const size_t expected = kThreads * (red->size() - 1);
    EXPECT_EQ(settledMessages(expected).size(), expected);
}

}  // namespace
