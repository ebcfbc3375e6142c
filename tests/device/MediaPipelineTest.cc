// The media layer end to end: clips written with each encoder are read back sample by sample,
// decoded and converted to BGRA, and must give the colours and frame counts they were made with.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <CoreMedia/CoreMediaDevice.h>
#include <media/FrameConverter.h>
#include <media/MediaStatus.h>
#include <media/PacketDecoder.h>
#include <media/TestPattern.h>
#include <media/VideoFileReader.h>

#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"

namespace {

struct DecodedClip {
    std::vector<BgraImage> frames;
    std::vector<CMTime> times;
    int samples = 0;
    int keyFrames = 0;
    device::Status firstError;
};

// Reads every sample of `path`, decodes it (then drains) and keeps each picture as BGRA.
DecodedClip decodeFile(const std::string& path, const PacketDecoderOptions& options = {}) {
    DecodedClip clip;
    auto reader = expectValue(VideoFileReader::open(path));
    if (!reader) return clip;
    auto decoder = expectValue(PacketDecoder::create(reader->formatDescription(), options));
    if (!decoder) return clip;
    FrameConverter converter;
    auto keep = [&](const DecodedFrame& frame) {
        BgraImage image;
        EXPECT_EQ(converter.convert(frame, &image), kMediaOK);
        clip.frames.push_back(std::move(image));
        clip.times.push_back(frame.presentationTimeStamp());
    };
    while (SampleBufferHolder sample = reader->nextSample()) {
        ++clip.samples;
        if (CMSampleBufferIsKeyFrame(sample)) ++clip.keyFrames;
        device::Status decoded = decoder->decode(sample, keep);
        if (clip.firstError.ok()) clip.firstError = std::move(decoded);
    }
    EXPECT_TRUE(reader->readStatus().ok()) << reader->readStatus().message();
    device::Status drained = decoder->drain(keep);
    if (clip.firstError.ok()) clip.firstError = std::move(drained);
    return clip;
}

::testing::AssertionResult hasColour(const BgraImage& image, const PatternSegment& colour, int tolerance = 4) {
    const int points[][2] = {{0, 0}, {image.width / 2, image.height / 2}, {image.width - 1, image.height - 1}};
    for (const auto& point : points) {
        const BgraPixel p = image.pixel(point[0], point[1]);
        if (std::abs(p.red - colour.red) > tolerance || std::abs(p.green - colour.green) > tolerance ||
            std::abs(p.blue - colour.blue) > tolerance || p.alpha != 255)
            return ::testing::AssertionFailure()
                   << "pixel (" << point[0] << "," << point[1] << ") is rgba(" << int(p.red) << "," << int(p.green)
                   << "," << int(p.blue) << "," << int(p.alpha) << "), expected rgb(" << int(colour.red) << ","
                   << int(colour.green) << "," << int(colour.blue) << ")";
    }
    return ::testing::AssertionSuccess();
}

std::vector<PatternSegment> pattern(const char* text) { return expectValue(parseTestPattern(text)); }

std::string writeClip(const TempDirectory& dir, const std::string& name, const std::vector<PatternSegment>& segments,
                      const ClipSettings& settings) {
    const std::string path = dir.path() + "/" + name;
    EXPECT_TRUE(succeeded(writeTestPatternClip(path, segments, settings)));
    return path;
}

struct CodecCase {
    ClipCodec codec;
    const char* file;
    bool bframes;
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.file << (c.bframes ? " with B-frames" : ""); }

class MediaRoundTrip : public ::testing::TestWithParam<CodecCase> {
protected:
    TempDirectory dir_;
};

TEST_P(MediaRoundTrip, EveryFrameDecodesToItsColourInOrder) {
    const CodecCase& c = GetParam();
    const auto segments = pattern("red*5,blue*5");
    ClipSettings settings;
    settings.codec = c.codec;
    settings.gop = 4;
    settings.bframes = c.bframes;
    const std::string path = writeClip(dir_, c.file, segments, settings);

    const DecodedClip clip = decodeFile(path);
    EXPECT_TRUE(succeeded(clip.firstError));
    EXPECT_EQ(clip.samples, 10);
    EXPECT_GE(clip.keyFrames, 3);  // frames 0, 4, 8 at least
    ASSERT_EQ(clip.frames.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(clip.frames[i].width, 64);
        EXPECT_EQ(clip.frames[i].height, 48);
        EXPECT_TRUE(hasColour(clip.frames[i], *patternColourAt(segments, i))) << "frame " << i;
        // Pictures come out in presentation order, one frame (1/25 s) apart.
        EXPECT_NEAR(CMTimeGetSeconds(clip.times[i]), i / 25.0, 1e-6) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, MediaRoundTrip,
                         ::testing::Values(CodecCase{ClipCodec::h264, "h264.mp4", false},
                                           CodecCase{ClipCodec::h264, "h264-bframes.mp4", true},
                                           CodecCase{ClipCodec::hevc, "hevc.mp4", true},
                                           CodecCase{ClipCodec::mpeg4, "mpeg4.mp4", true},
                                           CodecCase{ClipCodec::vp9, "vp9.mkv", false},
                                           CodecCase{ClipCodec::h264, "h264.mkv", false},
                                           CodecCase{ClipCodec::mjpeg, "mjpeg.mkv", false}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(MediaReader, DescribesTheStreamAndTimesSamplesInDecodeOrder) {
    TempDirectory dir;
    ClipSettings settings;
    settings.width = 96;
    settings.height = 64;
    settings.fps = 30;
    settings.bframes = true;
    const std::string path = writeClip(dir, "clip.mp4", pattern("green*12"), settings);

    auto reader = expectValue(VideoFileReader::open(path));
    ASSERT_TRUE(reader);
    EXPECT_EQ(CMFormatDescriptionGetMediaSubType(reader->formatDescription()), kCMVideoCodecType_H264);
    EXPECT_EQ(reader->dimensions().width, 96);
    EXPECT_EQ(reader->dimensions().height, 64);
    EXPECT_NEAR(reader->frameRate(), 30.0, 0.01);
    EXPECT_NEAR(CMTimeGetSeconds(reader->duration()), 12 / 30.0, 0.002);

    // With B-frames, decode order differs from presentation order, and decode times only grow.
    std::vector<CMTime> presentation;
    CMTime lastDecode = kCMTimeNegativeInfinity;
    bool reordered = false;
    while (SampleBufferHolder sample = reader->nextSample()) {
        EXPECT_TRUE(CMFormatDescriptionEqual(CMSampleBufferGetFormatDescription(sample), reader->formatDescription()));
        const CMTime dts = CMSampleBufferGetDecodeTimeStamp(sample);
        const CMTime pts = CMSampleBufferGetPresentationTimeStamp(sample);
        ASSERT_TRUE(CMTIME_IS_NUMERIC(dts) && CMTIME_IS_NUMERIC(pts));
        EXPECT_EQ(CMTimeCompare(lastDecode, dts), -1);
        EXPECT_NEAR(CMTimeGetSeconds(CMSampleBufferGetDuration(sample)), 1 / 30.0, 1e-6);
        if (!presentation.empty() && CMTimeCompare(pts, presentation.back()) < 0) reordered = true;
        lastDecode = dts;
        presentation.push_back(pts);
    }
    EXPECT_EQ(presentation.size(), 12u);
    EXPECT_TRUE(reordered);
    EXPECT_EQ(reader->nextSample().get(), nullptr);  // stays at the end
}

TEST(MediaFormatDescriptions, AreEqualForTheSameStreamOnly) {
    TempDirectory dir;
    const auto segments = pattern("white*2");
    ClipSettings small;
    ClipSettings larger = small;
    larger.width = 80;
    ClipSettings otherCodec = small;
    otherCodec.codec = ClipCodec::mpeg4;
    const std::string smallPath = writeClip(dir, "small.mp4", segments, small);
    const std::string largerPath = writeClip(dir, "larger.mp4", segments, larger);
    const std::string mpeg4Path = writeClip(dir, "mpeg4.mp4", segments, otherCodec);

    auto a = expectValue(VideoFileReader::open(smallPath));
    auto b = expectValue(VideoFileReader::open(smallPath));
    auto wider = expectValue(VideoFileReader::open(largerPath));
    auto mpeg4 = expectValue(VideoFileReader::open(mpeg4Path));
    ASSERT_TRUE(a && b && wider && mpeg4);
    EXPECT_NE(a->formatDescription(), b->formatDescription());
    EXPECT_TRUE(CMFormatDescriptionEqual(a->formatDescription(), b->formatDescription()));
    EXPECT_FALSE(CMFormatDescriptionEqual(a->formatDescription(), wider->formatDescription()));
    EXPECT_FALSE(CMFormatDescriptionEqual(a->formatDescription(), mpeg4->formatDescription()));

    auto decoder = expectValue(PacketDecoder::create(a->formatDescription()));
    ASSERT_TRUE(decoder);
    EXPECT_TRUE(decoder->canAccept(b->formatDescription()));
    EXPECT_FALSE(decoder->canAccept(wider->formatDescription()));
    EXPECT_FALSE(decoder->canAccept(mpeg4->formatDescription()));
    EXPECT_FALSE(decoder->canAccept(nullptr));
}

TEST(MediaReducedDecode, GivesHalfSizePicturesOfTheSameColour) {
    TempDirectory dir;
    const auto segments = pattern("orange*3");
    PacketDecoderOptions half;
    half.reductionShift = 1;
    for (ClipCodec codec : {ClipCodec::h264, ClipCodec::mpeg4}) {
        SCOPED_TRACE(clipCodecName(codec));
        ClipSettings settings;
        settings.codec = codec;
        settings.width = 66;  // odd halves round up
        settings.height = 48;
        const std::string path = writeClip(dir, std::string(clipCodecName(codec)) + ".mp4", segments, settings);
        const DecodedClip clip = decodeFile(path, half);
        ASSERT_EQ(clip.frames.size(), 3u);
        for (const BgraImage& frame : clip.frames) {
            EXPECT_EQ(frame.width, 33);
            EXPECT_EQ(frame.height, 24);
            EXPECT_TRUE(hasColour(frame, segments[0], 6));
        }
    }
    // MPEG-4 part 2 skips the detail in the codec itself; H.264 cannot, so the converter scales.
    auto mpeg4 = expectValue(VideoFileReader::open(dir.path() + "/mpeg4.mp4"));
    auto h264 = expectValue(VideoFileReader::open(dir.path() + "/h264.mp4"));
    ASSERT_TRUE(mpeg4 && h264);
    EXPECT_EQ(PacketDecoder::create(mpeg4->formatDescription(), half).value()->codecReductionShift(), 1);
    EXPECT_EQ(PacketDecoder::create(h264->formatDescription(), half).value()->codecReductionShift(), 0);
}

// After drain the decoder takes a stream from its start again (and the reader rewinds to it).
TEST(MediaDecoderReuse, DecodesTheClipAgainAfterDrain) {
    TempDirectory dir;
    ClipSettings settings;
    settings.bframes = true;
    settings.gop = 3;
    const std::string path = writeClip(dir, "clip.mp4", pattern("cyan*3,magenta*3"), settings);
    auto reader = expectValue(VideoFileReader::open(path));
    ASSERT_TRUE(reader);
    auto decoder = expectValue(PacketDecoder::create(reader->formatDescription()));
    ASSERT_TRUE(decoder);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        std::vector<CMTime> times;
        auto count = [&](const DecodedFrame& frame) { times.push_back(frame.presentationTimeStamp()); };
        while (SampleBufferHolder sample = reader->nextSample()) EXPECT_TRUE(succeeded(decoder->decode(sample, count)));
        EXPECT_TRUE(succeeded(decoder->drain(count)));
        ASSERT_EQ(times.size(), 6u);
        EXPECT_NEAR(CMTimeGetSeconds(times.back()), 5 / 25.0, 1e-6);
        ASSERT_TRUE(reader->rewind().ok());
    }
}

}  // namespace
