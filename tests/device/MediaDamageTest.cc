// Damaged and foreign input to the media layer: missing, non-video, truncated and corrupted files,
// garbage packets and unusable format descriptions give errors or partial output, never a crash.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <CoreMedia/CoreMediaDevice.h>
#include <media/MediaStatus.h>
#include <media/PacketDecoder.h>
#include <media/TestPattern.h>
#include <media/VideoFileReader.h>

#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
    int samples = 0;
    int frames = 0;
    int errors = 0;
    std::string readError;
};

// Reads and decodes all of `reader`; counts what came out.
Outcome readAndDecode(VideoFileReader& reader) {
    Outcome outcome;
    auto decoder = expectValue(PacketDecoder::create(reader.formatDescription()));
    if (!decoder) return outcome;
    auto count = [&](const DecodedFrame& frame) {
        EXPECT_GT(frame.width(), 0);
        ++outcome.frames;
    };
    while (SampleBufferHolder sample = reader.nextSample()) {
        ++outcome.samples;
        if (!decoder->decode(sample, count).ok()) ++outcome.errors;
    }
    if (!decoder->drain(count).ok()) ++outcome.errors;
    outcome.readError = reader.readStatus().ok() ? "" : reader.readStatus().message();
    return outcome;
}

std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const char* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
}

class MediaDamage : public ::testing::Test {
protected:
    std::string clip(const std::string& name, const char* text, int gop = 5) {
        const std::string path = dir_.path() + "/" + name;
        ClipSettings settings;
        settings.gop = gop;
        EXPECT_TRUE(succeeded(writeTestPatternClip(path, *parseTestPattern(text), settings)));
        return path;
    }
    TempDirectory dir_;
};

TEST_F(MediaDamage, FilesThatAreNotVideoAreRefusedWithTheirReason) {
    const std::string missing = dir_.path() + "/missing.mp4";
    device::Status status = VideoFileReader::open(missing).status();
    EXPECT_THAT(status.message(), StartsWith("cannot open " + missing + ": "));
    EXPECT_THAT(status.message(), HasSubstr("No such file"));

    const std::string text = dir_.path() + "/notes.txt";
    const std::string words = "These are notes, not a video.\nLine two.\n";
    writeBytes(text, words.data(), words.size());
    EXPECT_THAT(VideoFileReader::open(text).status().message(), StartsWith("cannot open " + text + ": "));

    EXPECT_THAT(VideoFileReader::open(dir_.path()).status().message(), HasSubstr(dir_.path()));
}

TEST_F(MediaDamage, TruncatedFilesGiveWhatCanBeRead) {
    // Noise, so that every frame is large and a cut falls among frames rather than in the header.
    const std::string mkv = dir_.path() + "/whole.mkv";
    ClipSettings settings;
    settings.gop = 5;
    auto writer = expectValue(ClipWriter::open(mkv, settings));
    ASSERT_TRUE(writer);
    std::mt19937 random(5);
    BgraImage noise = BgraImage::make(settings.width, settings.height);
    for (int i = 0; i < 20; ++i) {
        for (uint8_t& byte : noise.pixels) byte = static_cast<uint8_t>(random());
        ASSERT_TRUE(succeeded(writer->addFrame(noise)));
    }
    ASSERT_TRUE(succeeded(writer->finish()));
    const std::vector<char> bytes = readBytes(mkv);
    // Matroska keeps its frames in order from the start: half a file still gives its first frames.
    const std::string halfMkv = dir_.path() + "/half.mkv";
    writeBytes(halfMkv, bytes.data(), bytes.size() / 2);
    auto reader = expectValue(VideoFileReader::open(halfMkv));
    ASSERT_TRUE(reader);
    const Outcome outcome = readAndDecode(*reader);
    EXPECT_GT(outcome.frames, 3);
    EXPECT_LT(outcome.samples, 15);

    // MP4 keeps its index at the end: without it there is nothing to read.
    const std::string mp4 = clip("whole.mp4", "red*10,blue*10");
    const std::vector<char> mp4Bytes = readBytes(mp4);
    const std::string halfMp4 = dir_.path() + "/half.mp4";
    writeBytes(halfMp4, mp4Bytes.data(), mp4Bytes.size() / 2);
    EXPECT_THAT(VideoFileReader::open(halfMp4).status().message(), HasSubstr(halfMp4));

    // Cut at many points, a file opens or not, and never takes the process down.
    for (size_t cut = 16; cut < bytes.size(); cut += bytes.size() / 23) {
        writeBytes(halfMkv, bytes.data(), cut);
        if (auto cutReader = VideoFileReader::open(halfMkv); cutReader.ok()) {
            EXPECT_LE(readAndDecode(**cutReader).samples, 20);
        }
    }
}

TEST_F(MediaDamage, CorruptedPacketsArePassedOnAndTheDecoderCopes) {
    const std::string path = clip("clip.mp4", "green*15", 5);
    std::vector<char> bytes = readBytes(path);
    // The frames sit in the "mdat" box; spoil bytes there with a fixed seed, keeping the index.
    const std::string box = "mdat";
    const auto at = std::search(bytes.begin(), bytes.end(), box.begin(), box.end());
    ASSERT_NE(at, bytes.end());
    const size_t start = static_cast<size_t>(at - bytes.begin()) + 4;
    const uint32_t mdatSize = static_cast<uint8_t>(at[-4]) << 24 | static_cast<uint8_t>(at[-3]) << 16 |
                              static_cast<uint8_t>(at[-2]) << 8 | static_cast<uint8_t>(at[-1]);
    ASSERT_GT(mdatSize, 100u);
    std::mt19937 random(7);
    std::uniform_int_distribution<size_t> position(start, start + mdatSize - 9);
    for (int i = 0; i < 60; ++i) bytes[position(random)] = static_cast<char>(random());
    const std::string damaged = dir_.path() + "/damaged.mp4";
    writeBytes(damaged, bytes.data(), bytes.size());

    auto reader = expectValue(VideoFileReader::open(damaged));
    ASSERT_TRUE(reader);
    const Outcome outcome = readAndDecode(*reader);
    EXPECT_EQ(outcome.samples, 15);  // the index is intact, so every packet is still there
    EXPECT_EQ(outcome.readError, "");
}

TEST_F(MediaDamage, GarbagePacketIsAnErrorAndDecodingRecoversAtTheNextKeyframe) {
    const std::string path = clip("clip.mp4", "yellow*4", 2);
    auto reader = expectValue(VideoFileReader::open(path));
    ASSERT_TRUE(reader);
    auto decoder = expectValue(PacketDecoder::create(reader->formatDescription()));
    ASSERT_TRUE(decoder);

    std::vector<uint8_t> garbage(3000);
    std::mt19937 random(11);
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random());
    garbage[0] = 0xff;  // an H.264 length prefix far larger than the packet
    const CMSampleTimingInfo timing{CMTimeMake(1, 25), CMTimeMake(0, 25), CMTimeMake(0, 25)};
    SampleBufferHolder bad;
    ASSERT_EQ(CMSampleBufferCreateWithPacket(nullptr, reader->formatDescription(), garbage.data(), garbage.size(),
                                             &timing, true, bad.receive()),
              noErr);
    int frames = 0;
    auto count = [&](const DecodedFrame&) { ++frames; };
    const device::Status refused = decoder->decode(bad, count);
    EXPECT_EQ(refused.code(), kMediaBadData);
    EXPECT_THAT(refused.message(), HasSubstr("Invalid data"));
    EXPECT_EQ(decoder->decode(nullptr, count).code(), kMediaInvalidArgument);
    EXPECT_EQ(frames, 0);

    // The real clip still decodes whole on the same decoder.
    while (SampleBufferHolder sample = reader->nextSample()) EXPECT_TRUE(succeeded(decoder->decode(sample, count)));
    EXPECT_TRUE(succeeded(decoder->drain(count)));
    EXPECT_EQ(frames, 4);
}

TEST_F(MediaDamage, GarbagePacketsForEveryDecoderNeverCrash) {
    // Random packets against each codec the device knows (and one it does not), with and without
    // random extradata.
    const CMVideoCodecType codecs[] = {
        kCMVideoCodecType_H264, kCMVideoCodecType_HEVC,       kCMVideoCodecType_MPEG4Video, kCMVideoCodecType_VP9,
        kCMVideoCodecType_JPEG, kCMVideoCodecType_MPEG2Video, kCMVideoCodecType_AV1,        kCMVideoCodecType_DeviceVP8,
        kCMVideoCodecType_H263, fourCharCode("zzzz")};
    std::mt19937 random(3);
    for (CMVideoCodecType codec : codecs) {
        for (size_t extradataSize : {0, 40}) {
            std::vector<uint8_t> extradata(extradataSize);
            for (uint8_t& byte : extradata) byte = static_cast<uint8_t>(random());
            FormatDescriptionHolder format;
            ASSERT_EQ(CMVideoFormatDescriptionCreateWithExtradata(nullptr, codec, 64, 48, extradata.data(),
                                                                  extradata.size(), format.receive()),
                      noErr);
            auto made = PacketDecoder::create(format);
            // An unknown codec has no decoder; a known one may refuse random parameter sets.
            const bool unknown = codec == fourCharCode("zzzz");
            if (!made.ok()) {
                EXPECT_EQ(made.status().code(), unknown ? kMediaUnsupported : kMediaBadData);
                continue;
            }
            auto decoder = *std::move(made);
            EXPECT_FALSE(unknown);
            int frames = 0;
            for (int i = 0; i < 8; ++i) {
                std::vector<uint8_t> packet(1 + random() % 2000);
                for (uint8_t& byte : packet) byte = static_cast<uint8_t>(random());
                SampleBufferHolder sample;
                ASSERT_EQ(CMSampleBufferCreateWithPacket(nullptr, format, packet.data(), packet.size(), nullptr, i == 0,
                                                         sample.receive()),
                          noErr);
                (void)decoder->decode(sample, [&](const DecodedFrame& frame) {
                    EXPECT_GT(frame.width(), 0);
                    ++frames;
                });
            }
            (void)decoder->drain([&](const DecodedFrame&) { ++frames; });
            EXPECT_LE(frames, 16);
        }
    }
}

}  // namespace
