// Decompression sessions driven the way a video app drives them: the samples of clips of known
// colours go in one by one, and the output callback must see every picture, with its own sample's
// reference constant and time, at the right size and in the right colour.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "VideoToolboxSupport.h"

namespace {

using namespace vt_test;

void* tag(size_t index) { return reinterpret_cast<void*>(static_cast<uintptr_t>(index + 1)); }

constexpr int kFps = 25;

struct CodecCase {
    ClipCodec codec;
    const char* file;
    bool bframes = false;
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.file << (c.bframes ? " with B-frames" : ""); }

std::string caseName(const ::testing::TestParamInfo<CodecCase>& info) {
    std::string name = std::string(info.param.file) + (info.param.bframes ? "_bframes" : "");
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

// Every picture comes out exactly once, with the reference constant, time and duration of the
// sample it came from, in that frame's colour. Without B-frames each sample gives its own picture
// at once; with them the decoder keeps some back, and their samples say so with one FrameDropped
// callback.
class VTDecodeClip : public ::testing::TestWithParam<CodecCase> {};

TEST_P(VTDecodeClip, EveryPictureComesOutOnceWithItsSamplesRefConTimeAndColour) {
    TempDirectory dir;
    const char* text = "red*3,green*3,blue*3,white*3";
    ClipSettings settings;
    settings.codec = GetParam().codec;
    settings.gop = 6;
    settings.bframes = GetParam().bframes;
    const ClipSamples clip = readClip(writeClip(dir, GetParam().file, text, settings));
    ASSERT_EQ(clip.samples.size(), 12u);
    std::map<int64_t, size_t> sampleAt;  // presentation time in 1/1000 s -> decode index
    for (size_t i = 0; i < clip.samples.size(); ++i)
        sampleAt[std::llround(CMTimeGetSeconds(CMSampleBufferGetPresentationTimeStamp(clip.samples[i])) * 1000)] = i;
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);

    for (int pass = 0; pass < 2; ++pass) {  // FinishDelayedFrames leaves the session ready for the clip again
        SCOPED_TRACE(pass);
        std::vector<Output> pictures;
        int heldBack = 0;
        for (size_t i = 0; i < clip.samples.size(); ++i) {
            session.outputs.clear();
            ASSERT_EQ(session.decode(clip.samples[i], tag(i)), noErr);
            ASSERT_GE(session.outputs.size(), 1u) << "sample " << i << " reported before DecodeFrame returned";
            EXPECT_TRUE(GetParam().bframes || session.outputs.size() == 1u) << "sample " << i;
            for (Output& out : session.outputs) {
                EXPECT_EQ(out.status, noErr);
                if (out.picture) {
                    pictures.push_back(std::move(out));
                    continue;
                }
                ++heldBack;
                EXPECT_EQ(out.flags, kVTDecodeInfo_FrameDropped);
                EXPECT_EQ(out.sourceFrameRefCon, tag(i));
                EXPECT_EQ(CMTimeCompare(out.time, CMSampleBufferGetPresentationTimeStamp(clip.samples[i])), 0);
                EXPECT_EQ(session.outputs.size(), 1u) << "a sample that gives no picture says so once";
            }
        }
        session.outputs.clear();
        ASSERT_EQ(VTDecompressionSessionFinishDelayedFrames(session.get()), noErr);
        for (Output& out : session.outputs) pictures.push_back(std::move(out));
        EXPECT_EQ(VTDecompressionSessionWaitForAsynchronousFrames(session.get()), noErr);

        EXPECT_EQ(heldBack > 0, GetParam().bframes) << "only reordered clips hold pictures back";
        std::set<size_t> seen;
        for (const Output& out : pictures) {
            ASSERT_TRUE(out.picture);
            const auto found = sampleAt.find(std::llround(CMTimeGetSeconds(out.time) * 1000));
            ASSERT_NE(found, sampleAt.end()) << CMTimeGetSeconds(out.time);
            EXPECT_TRUE(seen.insert(found->second).second) << "picture of sample " << found->second << " twice";
            EXPECT_EQ(out.sourceFrameRefCon, tag(found->second));
            EXPECT_EQ(out.flags, 0u);
            EXPECT_EQ(CMTimeCompare(out.duration, CMSampleBufferGetDuration(clip.samples[found->second])), 0);
            EXPECT_EQ(CVPixelBufferGetWidth(out.picture), 64u);
            EXPECT_EQ(CVPixelBufferGetHeight(out.picture), 48u);
            // JPEG pictures are full range.
            EXPECT_EQ(CVPixelBufferGetPixelFormatType(out.picture), GetParam().codec == ClipCodec::mjpeg
                                                                        ? kCVPixelFormatType_420YpCbCr8PlanarFullRange
                                                                        : kCVPixelFormatType_420YpCbCr8Planar);
            EXPECT_TRUE(isFilledWith(render(out.picture), colourAt(text, out.time, kFps)))
                << CMTimeGetSeconds(out.time);
        }
        EXPECT_EQ(seen.size(), clip.samples.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, VTDecodeClip,
                         ::testing::Values(CodecCase{ClipCodec::h264, "h264.mp4"}, CodecCase{ClipCodec::vp9, "vp9.mkv"},
                                           CodecCase{ClipCodec::mpeg4, "mpeg4.mp4"},
                                           CodecCase{ClipCodec::h264, "h264.mp4", true},
                                           CodecCase{ClipCodec::hevc, "hevc.mp4", true},
                                           CodecCase{ClipCodec::mjpeg, "mjpeg.mkv"}),
                         caseName);

// Decodes all of a clip with B-frames (each sample's decode flags from `flags`, `after` run after
// each sample), then finishes it; the reference constants of the samples that gave pictures.
std::set<void*> picturedSamples(const std::function<VTDecodeFrameFlags(size_t)>& flags,
                                const std::function<void(RecordingSession&, size_t)>& after) {
    TempDirectory dir;
    ClipSettings settings;
    settings.gop = 6;
    settings.bframes = true;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "red*6,blue*6", settings));
    EXPECT_EQ(clip.samples.size(), 12u);
    RecordingSession session;
    EXPECT_EQ(session.create(clip.format), noErr);
    for (size_t i = 0; i < clip.samples.size(); ++i) {
        EXPECT_EQ(session.decode(clip.samples[i], tag(i), flags(i)), noErr);
        after(session, i);
    }
    EXPECT_EQ(VTDecompressionSessionFinishDelayedFrames(session.get()), noErr);
    std::set<void*> pictured;
    for (const Output& out : session.outputs) {
        EXPECT_TRUE(out.picture ? pictured.insert(out.sourceFrameRefCon).second
                                : out.flags == kVTDecodeInfo_FrameDropped);
    }
    return pictured;
}

// With B-frames the pictures that come out during a flagged call are other samples' pictures: the
// flag must follow the sample it was given with.
TEST(VTDecodeFlags, DoNotOutputFrameDropsThatSamplesPictureOnly) {
    const std::set<void*> pictured =
        picturedSamples([](size_t i) { return i % 2 ? VTDecodeFrameFlags{kVTDecodeFrame_DoNotOutputFrame} : 0u; },
                        [](RecordingSession&, size_t) {});
    std::set<void*> wanted;
    for (size_t i = 0; i < 12; i += 2) wanted.insert(tag(i));
    EXPECT_EQ(pictured, wanted);
}

void setReduced(RecordingSession& session, CFBooleanRef value) {
    ASSERT_EQ(VTSessionSetProperty(session.get(), kVTDecompressionPropertyKey_ReducedResolutionDecode, value), noErr);
}

TEST(VTDecodeReduced, GivesHalfSizePicturesOfTheRightColourByCodecOrByScaling) {
    TempDirectory dir;
    ClipSettings settings;
    settings.width = 80;
    settings.height = 48;
    for (ClipCodec codec : {ClipCodec::mpeg4, ClipCodec::h264}) {  // the codec reduces; the session halves
        SCOPED_TRACE(clipCodecName(codec));
        settings.codec = codec;
        const std::string name = std::string(clipCodecName(codec)) + ".mp4";
        const ClipSamples clip = readClip(writeClip(dir, name, "orange*3", settings));
        RecordingSession reduced, full;
        ASSERT_EQ(reduced.create(clip.format), noErr);
        ASSERT_EQ(full.create(clip.format), noErr);
        setReduced(reduced, kCFBooleanTrue);  // before any decoding: at once
        for (const SampleBufferHolder& sample : clip.samples) {
            ASSERT_EQ(reduced.decode(sample), noErr);
            ASSERT_EQ(full.decode(sample), noErr);
        }
        ASSERT_EQ(reduced.outputs.size(), 3u);
        ASSERT_EQ(full.outputs.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            // Alternating sizes on one thread: the renderer must not reuse the other size's set-up.
            for (const auto& [session, width, height] : {std::tuple{&reduced, 40u, 24u}, std::tuple{&full, 80u, 48u}}) {
                CVPixelBufferRef picture = session->outputs[i].picture;
                EXPECT_EQ(CVPixelBufferGetWidth(picture), width);
                EXPECT_EQ(CVPixelBufferGetHeight(picture), height);
                CGHandle<CGImageRef> image = render(picture);
                EXPECT_EQ(CGImageGetWidth(image), width);
                EXPECT_EQ(CGImageGetHeight(image), height);
                EXPECT_TRUE(isFilledWith(image, {255, 128, 0}, 8));
            }
        }
    }
}

TEST(VTDecodeReduced, ChangeAfterDecodingStartsTakesEffectAtTheNextKeyframe) {
    TempDirectory dir;
    const char* text = "red*4,blue*4,green*4";
    ClipSettings settings;
    settings.gop = 4;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", text, settings));
    ASSERT_EQ(clip.samples.size(), 12u);
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    setReduced(session, kCFBooleanTrue);
    setReduced(session, kCFBooleanFalse);  // changed back before decoding: full size from the start
    for (size_t i = 0; i < clip.samples.size(); ++i) {
        ASSERT_EQ(session.decode(clip.samples[i], tag(i)), noErr);
        if (i == 1) setReduced(session, kCFBooleanTrue);
        if (i == 5) setReduced(session, kCFBooleanFalse);
    }
    ASSERT_EQ(session.outputs.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const Output& out = session.outputs[i];
        ASSERT_TRUE(out.picture);
        EXPECT_EQ(out.sourceFrameRefCon, tag(i));
        const bool half = i >= 4 && i < 8;  // keyframes at 0, 4, 8
        EXPECT_EQ(CVPixelBufferGetWidth(out.picture), half ? 32u : 64u);
        EXPECT_EQ(CVPixelBufferGetHeight(out.picture), half ? 24u : 48u);
        EXPECT_TRUE(isFilledWith(render(out.picture), colourAt(text, out.time, kFps)));
    }
}

// The decoder made for the new size at the keyframe must not take with it the pictures the old one
// still holds.
TEST(VTDecodeReduced, ChangeAtAKeyframeOfAReorderedClipLosesNoPicture) {
    const std::set<void*> pictured = picturedSamples([](size_t) { return 0u; },
                                                     [](RecordingSession& session, size_t i) {
                                                         if (i == 1) setReduced(session, kCFBooleanTrue);
                                                     });
    EXPECT_EQ(pictured.size(), 12u);
}

TEST(VTDecompressionSession, JoinedMidwayDropsSamplesUntilTheFirstKeyframe) {
    TempDirectory dir;
    ClipSettings settings;
    settings.gop = 3;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "red*3,blue*3", settings));
    ASSERT_EQ(clip.samples.size(), 6u);
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    for (size_t i = 1; i < 6; ++i) ASSERT_EQ(session.decode(clip.samples[i], tag(i)), noErr);
    ASSERT_EQ(session.outputs.size(), 5u);
    for (size_t i = 1; i < 6; ++i) {
        const Output& out = session.outputs[i - 1];
        EXPECT_EQ(out.sourceFrameRefCon, tag(i));
        EXPECT_EQ(out.status, noErr);
        EXPECT_EQ(out.flags, i < 3 ? kVTDecodeInfo_FrameDropped : 0u) << i;
        EXPECT_EQ(bool(out.picture), i >= 3) << i;
        if (out.picture) {
            EXPECT_TRUE(isFilledWith(render(out.picture), {0, 0, 255})) << i;
        }
    }
}

TEST(VTDecompressionSession, TakesSamplesOfItsOwnFormatOnly) {
    TempDirectory dir;
    ClipSettings settings;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "red*2", settings));
    const ClipSamples again = readClip(dir.path() + "/clip.mp4");
    settings.width = 80;
    const ClipSamples wider = readClip(writeClip(dir, "wider.mp4", "red*2", settings));
    settings.width = 64;
    settings.codec = ClipCodec::mpeg4;
    const ClipSamples mpeg4 = readClip(writeClip(dir, "mpeg4.mp4", "red*2", settings));

    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    EXPECT_TRUE(VTDecompressionSessionCanAcceptFormatDescription(session.get(), again.format));
    EXPECT_FALSE(VTDecompressionSessionCanAcceptFormatDescription(session.get(), wider.format));
    EXPECT_FALSE(VTDecompressionSessionCanAcceptFormatDescription(session.get(), mpeg4.format));
    EXPECT_FALSE(VTDecompressionSessionCanAcceptFormatDescription(session.get(), nullptr));

    EXPECT_EQ(session.decode(wider.samples[0]), kVTFormatDescriptionChangeNotSupportedErr);
    EXPECT_EQ(session.decode(mpeg4.samples[0]), kVTFormatDescriptionChangeNotSupportedErr);
    EXPECT_TRUE(session.outputs.empty());
    ASSERT_EQ(session.decode(again.samples[0], tag(0)), noErr);  // an equal format from another file
    ASSERT_EQ(session.outputs.size(), 1u);
    EXPECT_TRUE(isFilledWith(render(session.outputs[0].picture), {255, 0, 0}));
}

// Damaged samples, made from the clip's own: each gets a callback with its reference constant, and
// the clip decodes on afterwards.
class VTDecodeDamage : public ::testing::TestWithParam<CodecCase> {};

TEST_P(VTDecodeDamage, BadSamplesReportAnErrorAndDecodingGoesOn) {
    TempDirectory dir;
    ClipSettings settings;
    settings.codec = GetParam().codec;
    settings.gop = 3;
    const ClipSamples clip = readClip(writeClip(dir, GetParam().file, "red*3,blue*3", settings));
    ASSERT_EQ(clip.samples.size(), 6u);
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    ASSERT_EQ(session.decode(clip.samples[0], tag(0)), noErr);

    // Garbage and a one-byte keyframe must fail; the halves of two later samples may decode or not.
    auto bytesOf = [&](size_t i, size_t keep) {
        size_t size = 0;
        const uint8_t* bytes = CMSampleBufferGetPacketBytes(clip.samples[i], &size);
        return std::vector<uint8_t>(bytes, bytes + (keep ? keep : (size + 1) / 2));
    };
    std::vector<uint8_t> garbage(2000);
    std::mt19937 random(9);
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random());
    garbage[0] = 0xff;  // an H.264 length prefix far beyond the packet
    const struct {
        std::vector<uint8_t> bytes;
        size_t timeOf;
        bool fails;
    } damaged[] = {{garbage, 0, true}, {bytesOf(0, 1), 0, true}, {bytesOf(1, 0), 1, false}, {bytesOf(2, 0), 2, false}};
    for (size_t d = 0; d < std::size(damaged); ++d) {
        SCOPED_TRACE(d);
        CMSampleBufferRef from = clip.samples[damaged[d].timeOf];
        const CMSampleTimingInfo timing{CMSampleBufferGetDuration(from), CMSampleBufferGetPresentationTimeStamp(from),
                                        CMSampleBufferGetDecodeTimeStamp(from)};
        SampleBufferHolder bad;
        ASSERT_EQ(CMSampleBufferCreateWithPacket(nullptr, clip.format, damaged[d].bytes.data(), damaged[d].bytes.size(),
                                                 &timing, damaged[d].fails, bad.receive()),
                  noErr);
        session.outputs.clear();
        const OSStatus status = session.decode(bad, tag(100 + d));
        ASSERT_GE(session.outputs.size(), 1u);
        EXPECT_EQ(session.outputs.back().status, status);
        for (const Output& out : session.outputs) {
            EXPECT_EQ(out.sourceFrameRefCon, tag(100 + d));
            EXPECT_TRUE(out.status == noErr || !out.picture);
        }
        if (damaged[d].fails) {
            EXPECT_NE(status, noErr);
            EXPECT_EQ(session.outputs.size(), 1u);
            EXPECT_EQ(CMTimeCompare(session.outputs[0].time, timing.presentationTimeStamp), 0);
        }
    }
    // From the next keyframe on, the clip decodes as if nothing had happened.
    session.outputs.clear();
    for (size_t i = 3; i < 6; ++i) ASSERT_EQ(session.decode(clip.samples[i], tag(i)), noErr);
    ASSERT_EQ(session.outputs.size(), 3u);
    for (const Output& out : session.outputs) EXPECT_TRUE(isFilledWith(render(out.picture), {0, 0, 255}));
}

INSTANTIATE_TEST_SUITE_P(Codecs, VTDecodeDamage,
                         ::testing::Values(CodecCase{ClipCodec::h264, "h264.mp4"}, CodecCase{ClipCodec::vp9, "vp9.mkv"},
                                           CodecCase{ClipCodec::mpeg4, "mpeg4.mp4"}),
                         caseName);

TEST(VTDecompressionSession, InvalidatedFromItsCallbackRefusesEveryLaterCallAndItsPictureLivesOn) {
    TempDirectory dir;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "green*3", ClipSettings{}));
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    session.onOutput = [&](const Output&) { VTDecompressionSessionInvalidate(session.get()); };
    EXPECT_EQ(session.decode(clip.samples[0], tag(0)), noErr);
    ASSERT_EQ(session.outputs.size(), 1u);

    EXPECT_EQ(session.decode(clip.samples[1], tag(1)), kVTInvalidSessionErr);
    EXPECT_EQ(VTDecompressionSessionFinishDelayedFrames(session.get()), kVTInvalidSessionErr);
    EXPECT_EQ(VTDecompressionSessionWaitForAsynchronousFrames(session.get()), kVTInvalidSessionErr);
    EXPECT_EQ(VTSessionSetProperty(session.get(), kVTDecompressionPropertyKey_ReducedResolutionDecode, kCFBooleanTrue),
              kVTInvalidSessionErr);
    EXPECT_FALSE(VTDecompressionSessionCanAcceptFormatDescription(session.get(), clip.format));
    VTDecompressionSessionInvalidate(session.get());  // again: harmless
    EXPECT_EQ(session.outputs.size(), 1u);

    // The picture kept from the callback outlives the session and its decoder.
    CFHolder<CVPixelBufferRef> kept = session.outputs[0].picture;
    session.outputs.clear();
    session.release();
    EXPECT_EQ(CFGetRetainCount(kept), 1);
    EXPECT_TRUE(isFilledWith(render(kept), {0, 255, 0}));
}

TEST(VTDecompressionSession, CanBeInvalidatedFromEveryKindOfCallback) {
    TempDirectory dir;
    ClipSettings settings;
    settings.gop = 2;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "green*4", settings));
    // A sample before the first keyframe (dropped), one of garbage (an error), a good one (a picture).
    const std::vector<uint8_t> garbage(64, 0xA7);
    const CMSampleTimingInfo timing{kCMTimeInvalid, CMTimeMake(9, 25), kCMTimeInvalid};
    SampleBufferHolder bad;
    ASSERT_EQ(CMSampleBufferCreateWithPacket(nullptr, clip.format, garbage.data(), garbage.size(), &timing, true,
                                             bad.receive()),
              noErr);
    for (CMSampleBufferRef sample : {clip.samples[1].get(), bad.get(), clip.samples[0].get()}) {
        RecordingSession session;
        ASSERT_EQ(session.create(clip.format), noErr);
        session.onOutput = [&](const Output&) { VTDecompressionSessionInvalidate(session.get()); };
        session.decode(sample, tag(0));
        ASSERT_EQ(session.outputs.size(), 1u);
        EXPECT_EQ(session.decode(clip.samples[2], tag(1)), kVTInvalidSessionErr);
    }
}

TEST(VTDecompressionSession, RefusesBadArguments) {
    TempDirectory dir;
    const ClipSamples clip = readClip(writeClip(dir, "clip.mp4", "grey*1", ClipSettings{}));
    const VTDecompressionOutputCallbackRecord noFunction{nullptr, nullptr};
    VTDecompressionSessionRef made = reinterpret_cast<VTDecompressionSessionRef>(&made);
    EXPECT_EQ(VTDecompressionSessionCreate(nullptr, clip.format, nullptr, nullptr, nullptr, &made), kVTParameterErr);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(VTDecompressionSessionCreate(nullptr, clip.format, nullptr, nullptr, &noFunction, &made),
              kVTParameterErr);
    EXPECT_EQ(VTDecompressionSessionCreate(nullptr, nullptr, nullptr, nullptr, &noFunction, &made), kVTParameterErr);
    RecordingSession unknown;
    FormatDescriptionHolder zzzz;
    ASSERT_EQ(
        CMVideoFormatDescriptionCreateWithExtradata(nullptr, fourCharCode("zzzz"), 64, 48, nullptr, 0, zzzz.receive()),
        noErr);
    EXPECT_EQ(unknown.create(zzzz), kVTCouldNotFindVideoDecoderErr);
    EXPECT_EQ(unknown.get(), nullptr);

    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    EXPECT_EQ(session.decode(nullptr), kVTParameterErr);
    EXPECT_EQ(VTDecompressionSessionDecodeFrame(nullptr, clip.samples[0], 0, nullptr, nullptr), kVTParameterErr);
    EXPECT_EQ(VTDecompressionSessionFinishDelayedFrames(nullptr), kVTParameterErr);
    EXPECT_EQ(VTDecompressionSessionWaitForAsynchronousFrames(nullptr), kVTParameterErr);
    VTDecompressionSessionInvalidate(nullptr);

    const CFStringRef key = kVTDecompressionPropertyKey_ReducedResolutionDecode;
    CFHolder<CFStringRef> sameKey = CFHolder<CFStringRef>::adopt(
        CFStringCreateWithCString(nullptr, CFStringGetCStringPtr(key, kCFStringEncodingUTF8), kCFStringEncodingUTF8));
    CFHolder<CFStringRef> otherKey =
        CFHolder<CFStringRef>::adopt(CFStringCreateWithCString(nullptr, "RealTime", kCFStringEncodingUTF8));
    EXPECT_EQ(VTSessionSetProperty(nullptr, key, kCFBooleanTrue), kVTParameterErr);
    EXPECT_EQ(VTSessionSetProperty(kCFBooleanTrue, key, kCFBooleanTrue), kVTParameterErr) << "not a session";
    EXPECT_EQ(VTSessionSetProperty(session.get(), nullptr, kCFBooleanTrue), kVTParameterErr);
    EXPECT_EQ(VTSessionSetProperty(session.get(), otherKey, kCFBooleanTrue), kVTPropertyNotSupportedErr);
    EXPECT_EQ(VTSessionSetProperty(session.get(), key, nullptr), kVTParameterErr);
    EXPECT_EQ(VTSessionSetProperty(session.get(), key, otherKey.get()), kVTParameterErr) << "a string is no Boolean";
    EXPECT_EQ(VTSessionSetProperty(session.get(), sameKey, kCFBooleanTrue), noErr) << "keys compare by text";
    ASSERT_EQ(session.decode(clip.samples[0]), noErr);
    ASSERT_EQ(session.outputs.size(), 1u);
    EXPECT_EQ(CVPixelBufferGetWidth(session.outputs[0].picture), 32u);
}

}  // namespace
