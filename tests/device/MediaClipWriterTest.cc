// Writing test clips: repeatable output, clear refusals, and the text form of test patterns.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <media/ClipWriter.h>
#include <media/TestPattern.h>

#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"

namespace {

using ::testing::HasSubstr;

std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

TEST(MediaClipWriter, WritesTheSameBytesForTheSameFrames) {
    TempDirectory dir;
    const auto pattern = *parseTestPattern("red*3,#204060*3,white*2");
    for (ClipCodec codec : {ClipCodec::h264, ClipCodec::hevc, ClipCodec::mpeg4, ClipCodec::vp9}) {
        SCOPED_TRACE(clipCodecName(codec));
        ClipSettings settings;
        settings.codec = codec;
        settings.bframes = codec != ClipCodec::vp9;
        const std::string extension = codec == ClipCodec::vp9 ? ".webm" : ".mp4";
        const std::string first = dir.path() + "/first" + extension, second = dir.path() + "/second" + extension;
        ASSERT_TRUE(succeeded(writeTestPatternClip(first, pattern, settings)));
        ASSERT_TRUE(succeeded(writeTestPatternClip(second, pattern, settings)));
        const std::vector<char> a = readBytes(first), b = readBytes(second);
        EXPECT_GT(a.size(), 200u);
        EXPECT_TRUE(a == b) << "sizes " << a.size() << " and " << b.size();
    }
}

TEST(MediaClipWriter, RefusesUnusableSettingsFramesAndFiles) {
    TempDirectory dir;
    const std::string path = dir.path() + "/clip.mp4";
    ClipSettings odd;
    odd.width = 65;
    EXPECT_THAT(ClipWriter::open(path, odd).status().message(), HasSubstr("65x48"));
    ClipSettings hevc;
    hevc.codec = ClipCodec::hevc;
    EXPECT_THAT(ClipWriter::open(dir.path() + "/clip.webm", hevc).status().message(), HasSubstr("cannot hold hevc"));
    EXPECT_THAT(ClipWriter::open(dir.path() + "/no/such/dir/clip.mp4", ClipSettings{}).status().message(),
                HasSubstr("cannot create"));

    auto writer = expectValue(ClipWriter::open(path, ClipSettings{}));
    ASSERT_TRUE(writer);
    device::Status added = writer->addFrame(BgraImage::filled(32, 48, 0, 0, 0));
    EXPECT_FALSE(added.ok());
    EXPECT_THAT(added.message(), HasSubstr("32x48"));
    EXPECT_TRUE(succeeded(writer->addFrame(BgraImage::filled(64, 48, 0, 0, 0))));  // a wrong frame spoils nothing
    EXPECT_TRUE(succeeded(writer->finish()));
    const device::Status late = writer->addFrame(BgraImage::filled(64, 48, 0, 0, 0));
    EXPECT_FALSE(late.ok());
    EXPECT_THAT(late.message(), HasSubstr("is already finished"));
    EXPECT_EQ(writer->framesAdded(), 1);
}

TEST(MediaTestPattern, ParsesColoursAndCounts) {
    const auto pattern = parseTestPattern("red*5,#0a0B0c,blue*2");
    ASSERT_TRUE(succeeded(pattern));
    EXPECT_EQ(patternFrameCount(*pattern), 8);
    EXPECT_EQ(patternColourAt(*pattern, 4)->red, 255);
    EXPECT_EQ(patternColourAt(*pattern, 5)->green, 0x0b);
    EXPECT_EQ(patternColourAt(*pattern, 7)->blue, 255);
    EXPECT_FALSE(patternColourAt(*pattern, 8));
    for (const char* bad : {"", "red*0", "red*x", "purple", "#12345g", "red,,blue", "red*100001"}) {
        const device::Status status = parseTestPattern(bad).status();
        EXPECT_FALSE(status.ok()) << bad;
    }
}

}  // namespace
