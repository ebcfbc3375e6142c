// Packets that ask for an oversized picture: the decoder refuses them as bad data without
// allocating the picture, starts afresh, and decodes again from the next keyframe, through the
// packet decoder, the decompression session and the display layer alike.
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <AVKit/AVSampleBufferDisplayLayer.h>
#include <CoreMedia/CoreMediaDevice.h>
#include <media/MediaStatus.h>
#include <media/PacketDecoder.h>

#include "VideoToolboxSupport.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

using namespace vt_test;
using ::testing::HasSubstr;

// A damaged VP9 keyframe found by fuzzing the decoder path after the first keyframe of a 64x48
// clip: its header asks for 2031x53296 (108 million pixels), and its second, four-byte packet.
const std::vector<uint8_t> kOversizedKeyframe = {
    0x82, 0x49, 0x83, 0x42, 0x60, 0x7e, 0xed, 0x02, 0xf6, 0x02, 0x38, 0x24, 0x1c, 0x18, 0x0a, 0x00, 0x00, 0x20, 0x40,
    0x00, 0xc1, 0x43, 0xff, 0xff, 0xee, 0x56, 0x14, 0xfc, 0xdb, 0x64, 0x7b, 0x33, 0x08, 0xbd, 0xff, 0xff, 0xee, 0x56,
    0x14, 0xfc, 0x26, 0xf9, 0x70, 0x68, 0xdf, 0xcd, 0x62, 0x56, 0x87, 0xff, 0xfe, 0x30, 0x95, 0xd7, 0xbf, 0x6b, 0xc8,
    0xb2, 0x25, 0x01, 0x56, 0x1e, 0x0b, 0xef, 0xd8, 0x20, 0x1f, 0x14, 0x3f, 0xa8, 0xda, 0xe9, 0x57, 0xff, 0xff, 0xff,
    0x31, 0xff, 0xff, 0x9a, 0xd0, 0xe1, 0xd1, 0x00, 0x0f, 0x00, 0x00, 0x86, 0x00, 0x40, 0xe9, 0x57, 0xff, 0xff, 0xff,
    0x31, 0xff, 0xff, 0x9a, 0xd0, 0xe1, 0xd1, 0x00, 0x0f, 0x00, 0x00, 0x86, 0x00, 0x40, 0x92, 0x9c, 0x20, 0x45, 0x00};
const std::vector<uint8_t> kTrailingPacket = {0x00, 0x00, 0x54, 0x70};

constexpr int kFps = 25;

SampleBufferHolder sampleOf(CMVideoFormatDescriptionRef format, const std::vector<uint8_t>& bytes, int frame,
                            bool keyFrame) {
    const CMSampleTimingInfo timing{CMTimeMake(1, kFps), CMTimeMake(frame, kFps), CMTimeMake(frame, kFps)};
    SampleBufferHolder sample;
    EXPECT_EQ(CMSampleBufferCreateWithPacket(nullptr, format, bytes.data(), bytes.size(), &timing, keyFrame,
                                             sample.receive()),
              noErr);
    return sample;
}

// A 64x48 VP9 clip, red then blue, with keyframes at 0 and 3.
ClipSamples vp9Clip(const TempDirectory& dir) {
    ClipSettings settings;
    settings.codec = ClipCodec::vp9;
    settings.gop = 3;
    ClipSamples clip = readClip(writeClip(dir, "clip.webm", "red*3,blue*3", settings));
    EXPECT_EQ(clip.samples.size(), 6u);
    return clip;
}

// The kernel's peak resident size of this process, in kilobytes; -1 when unknown.
long peakResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Lowers the peak resident size to the present one; false where the kernel does not allow it.
bool resetPeakResidentSize() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5" << std::flush;
    return clear.good();
}

// The pictures a decoder hands out: their sizes as libavcodec allocated them.
struct Pictures {
    std::vector<std::pair<int, int>> sizes;
    PacketDecoder::FrameHandler handler() {
        return [this](const DecodedFrame& frame) { sizes.emplace_back(frame.avFrame().width, frame.avFrame().height); };
    }
};

TEST(MediaOversizedPicture, IsRefusedWithoutTheMemoryAndDecodingResumesAtTheNextKeyframe) {
    TempDirectory dir;
    const ClipSamples clip = vp9Clip(dir);
    ASSERT_EQ(clip.samples.size(), 6u);
    auto decoder = expectValue(PacketDecoder::create(clip.format));
    ASSERT_TRUE(decoder);
    Pictures pictures;
    ASSERT_TRUE(succeeded(decoder->decode(clip.samples[0], pictures.handler())));
    ASSERT_EQ(pictures.sizes.size(), 1u);

    const bool measured = resetPeakResidentSize();
    const long peakBefore = peakResidentKilobytes();
    const device::Status refused =
        decoder->decode(sampleOf(clip.format, kOversizedKeyframe, 1, true), pictures.handler());
    EXPECT_EQ(refused.code(), kMediaBadData);
    EXPECT_THAT(refused.message(), HasSubstr("next keyframe"));
    EXPECT_TRUE(decoder->awaitingKeyframe());
    // What follows up to the next keyframe is passed over, not decoded against missing pictures.
    EXPECT_TRUE(succeeded(decoder->decode(sampleOf(clip.format, kTrailingPacket, 2, false), pictures.handler())));
    EXPECT_TRUE(succeeded(decoder->decode(clip.samples[1], pictures.handler())));
    EXPECT_TRUE(succeeded(decoder->decode(clip.samples[2], pictures.handler())));
    EXPECT_EQ(pictures.sizes.size(), 1u);
    // The refused picture alone would be 160 MB; a generous bound leaves room for everything else.
    if (measured) {
        EXPECT_LT(peakResidentKilobytes() - peakBefore, 48 * 1024);
    }

    for (size_t i = 3; i < 6; ++i) {
        EXPECT_TRUE(succeeded(decoder->decode(clip.samples[i], pictures.handler()))) << i;
        EXPECT_FALSE(decoder->awaitingKeyframe());
    }
    EXPECT_TRUE(succeeded(decoder->drain(pictures.handler())));
    const std::vector<std::pair<int, int>> clipSized(4, {64, 48});
    EXPECT_EQ(pictures.sizes, clipSized);
}

// The bound follows the format description: a stream 16 times larger than its declared size (and
// beyond full HD) is refused by every codec, as bad data and without a picture, and the same
// stream with an honest size decodes.
class MediaOversizedPictureByCodec : public ::testing::TestWithParam<ClipCodec> {};

TEST_P(MediaOversizedPictureByCodec, BeyondSixteenTimesTheDeclaredSizeIsRefused) {
    TempDirectory dir;
    ClipSettings settings;
    settings.codec = GetParam();
    settings.width = 2048;
    settings.height = 1152;
    const char* name = GetParam() == ClipCodec::vp9 ? "big.webm" : "big.mp4";
    const ClipSamples clip = readClip(writeClip(dir, name, "green", settings));
    ASSERT_EQ(clip.samples.size(), 1u);
    size_t extradataSize = 0;
    const uint8_t* extradata = CMVideoFormatDescriptionGetExtradata(clip.format, &extradataSize);
    const CMVideoCodecType codecType = CMFormatDescriptionGetMediaSubType(clip.format);
    size_t packetSize = 0;
    const uint8_t* packet = CMSampleBufferGetPacketBytes(clip.samples[0], &packetSize);
    const std::vector<uint8_t> keyframe(packet, packet + packetSize);

    // 512x288 is exactly a sixteenth of 2048x1152; 64x48 gets the full-HD floor, still too small.
    for (const CMVideoDimensions declared : {CMVideoDimensions{64, 48}, CMVideoDimensions{512, 288}}) {
        SCOPED_TRACE(std::to_string(declared.width) + "x" + std::to_string(declared.height));
        FormatDescriptionHolder format;
        ASSERT_EQ(CMVideoFormatDescriptionCreateWithExtradata(nullptr, codecType, declared.width, declared.height,
                                                              extradata, extradataSize, format.receive()),
                  noErr);
        auto decoder = expectValue(PacketDecoder::create(format));
        ASSERT_TRUE(decoder);
        Pictures pictures;
        const SampleBufferHolder sample = sampleOf(format, keyframe, 0, true);
        device::Status status = decoder->decode(sample, pictures.handler());
        if (status.ok()) status = decoder->drain(pictures.handler());
        if (declared.width == 64) {
            EXPECT_EQ(status.code(), kMediaBadData) << status.message();
            EXPECT_TRUE(pictures.sizes.empty());
            // Refused again, not broken: the restarted decoder gives the same answer.
            const device::Status again = decoder->decode(sample, pictures.handler());
            EXPECT_EQ(again.code(), kMediaBadData) << again.message();
        } else {
            EXPECT_TRUE(succeeded(status));
            EXPECT_EQ(pictures.sizes, (std::vector<std::pair<int, int>>{{2048, 1152}}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, MediaOversizedPictureByCodec,
                         ::testing::Values(ClipCodec::h264, ClipCodec::hevc, ClipCodec::mpeg4, ClipCodec::vp9),
                         [](const ::testing::TestParamInfo<ClipCodec>& info) { return clipCodecName(info.param); });

TEST(MediaOversizedPicture, DecompressionSessionReportsTheSampleAndShowsTheNextKeyframe) {
    TempDirectory dir;
    const ClipSamples clip = vp9Clip(dir);
    ASSERT_EQ(clip.samples.size(), 6u);
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    ASSERT_EQ(session.decode(clip.samples[0]), noErr);

    session.outputs.clear();
    EXPECT_EQ(session.decode(sampleOf(clip.format, kOversizedKeyframe, 1, true)), kVTVideoDecoderBadDataErr);
    ASSERT_EQ(session.outputs.size(), 1u);
    EXPECT_EQ(session.outputs[0].status, kVTVideoDecoderBadDataErr);
    EXPECT_FALSE(session.outputs[0].picture);
    for (size_t i = 1; i < 3; ++i) EXPECT_EQ(session.decode(clip.samples[i]), noErr);
    ASSERT_EQ(session.outputs.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(session.outputs[i].flags, kVTDecodeInfo_FrameDropped);
        EXPECT_FALSE(session.outputs[i].picture);
    }

    session.outputs.clear();
    for (size_t i = 3; i < 6; ++i) EXPECT_EQ(session.decode(clip.samples[i]), noErr);
    ASSERT_EQ(session.outputs.size(), 3u);
    for (const Output& out : session.outputs) {
        ASSERT_TRUE(out.picture);
        EXPECT_EQ(CVPixelBufferGetWidth(out.picture.get()), 64u);
        EXPECT_EQ(CVPixelBufferGetHeight(out.picture.get()), 48u);
        EXPECT_TRUE(isFilledWith(render(out.picture), {0, 0, 255}));
    }
}

// The fuzz input as the display layer met it: one failed sample, and the pictures go on.
TEST(MediaOversizedPicture, DisplayLayerCountsOneFailureAndShowsThePicturesAfterIt) {
    TempDirectory dir;
    const ClipSamples clip = vp9Clip(dir);
    ASSERT_EQ(clip.samples.size(), 6u);
    Strong<AVSampleBufferDisplayLayer> layer = makeObject<AVSampleBufferDisplayLayer>();
    layer->enqueueSampleBuffer(clip.samples[0]);
    layer->enqueueSampleBuffer(sampleOf(clip.format, kOversizedKeyframe, 1, true));
    layer->enqueueSampleBuffer(sampleOf(clip.format, kTrailingPacket, 2, false));
    for (size_t i = 1; i < 6; ++i) layer->enqueueSampleBuffer(clip.samples[i]);
    layer->flushDecoder();
    EXPECT_EQ(layer->failedSampleCount(), 1);
    EXPECT_EQ(layer->shownFrameCount(), 4);  // the first keyframe, and the three from the second on
}

}  // namespace
