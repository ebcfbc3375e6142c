// CIImage and CIContext on the pictures of a decompression session: the right part of the picture
// in Core Image's y-up coordinates, colours close to the precise converter, and the run-time
// messages the video apps send.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include <CoreGraphics/CGDevice.h>
#include <CoreGraphics/CGHandle.h>
#include <media/FrameConverter.h>
#include <media/MediaStatus.h>
#include <media/PacketDecoder.h>

#include "VideoToolboxSupport.h"
#include "support/StatusAssertions.h"

namespace {

using namespace vt_test;

constexpr Colour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};

// Writes a clip of two frames painted by `paint` (with a BgraImage of the clip's size).
std::string writePainted(const TempDirectory& dir, const ClipSettings& settings,
                         const std::function<void(BgraImage&)>& paint) {
    const std::string path = dir.path() + "/painted.mp4";
    auto writer = expectValue(ClipWriter::open(path, settings));
    if (!writer) return path;
    BgraImage frame = BgraImage::make(settings.width, settings.height);
    paint(frame);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(succeeded(writer->addFrame(frame)));
    EXPECT_TRUE(succeeded(writer->finish()));
    return path;
}

// Top left red, top right green, bottom left blue, bottom right yellow (as seen, top down).
void paintQuadrants(BgraImage& frame) {
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const bool right = x >= frame.width / 2, bottom = y >= frame.height / 2;
            const Colour c = bottom ? (right ? kYellow : kBlue) : (right ? kGreen : kRed);
            uint8_t* p = frame.row(y) + 4 * x;
            p[0] = static_cast<uint8_t>(c.blue), p[1] = static_cast<uint8_t>(c.green);
            p[2] = static_cast<uint8_t>(c.red), p[3] = 255;
        }
    }
}

// The first picture of the clip at `path`, kept after its session is gone.
CFHolder<CVPixelBufferRef> firstPicture(const std::string& path) {
    const ClipSamples clip = readClip(path);
    RecordingSession session;
    EXPECT_EQ(session.create(clip.format), noErr);
    if (clip.samples.empty() || session.decode(clip.samples[0]) != noErr || session.outputs.size() != 1) return {};
    return session.outputs[0].picture;
}

CGHandle<CGImageRef> renderRect(CVPixelBufferRef picture, CGRect rect) { return render(picture, &rect); }

TEST(CoreImageRender, RectanglesAreInYUpCoordinatesWidenedToWholePixelsAndClipped) {
    TempDirectory dir;
    ClipSettings settings;  // 64 x 48
    const CFHolder<CVPixelBufferRef> picture = firstPicture(writePainted(dir, settings, paintQuadrants));
    ASSERT_TRUE(picture);
    Strong<CIImage> image = CIImage::imageWithCVPixelBuffer(picture);
    const CGRect extent = image->extent();
    EXPECT_TRUE(extent.origin.x == 0 && extent.origin.y == 0 && extent.size.width == 64 && extent.size.height == 48);

    const CGHandle<CGImageRef> whole = render(picture);
    ASSERT_EQ(CGImageGetWidth(whole), 64u);
    ASSERT_EQ(CGImageGetHeight(whole), 48u);
    EXPECT_EQ(CGImageGetAlphaInfo(whole), kCGImageAlphaNoneSkipFirst);
    EXPECT_TRUE(pixelIs(whole, 16, 12, kRed));
    EXPECT_TRUE(pixelIs(whole, 48, 36, kYellow));

    struct Part {
        CGRect rect;
        size_t width, height;
        Colour colour;
    };
    const Part parts[] = {
        {CGRectMake(32, 0, 32, 24), 32, 24, kYellow},  // y = 0 is the bottom row
        {CGRectMake(0, 24, 32, 24), 32, 24, kRed},          {CGRectMake(0, 0, 32, 24), 32, 24, kBlue},
        {CGRectMake(64, 48, -32, -24), 32, 24, kGreen},      // a negative size reaches back
        {CGRectMake(40.5, 2.25, 8.5, 0.5), 9, 1, kYellow},   // widened to whole pixels
        {CGRectMake(48, -100, 1000, 112), 16, 12, kYellow},  // clipped to the extent
    };
    for (const Part& part : parts) {
        SCOPED_TRACE(testing::Message() << part.rect.origin.x << "," << part.rect.origin.y << " "
                                        << part.rect.size.width << "x" << part.rect.size.height);
        const CGHandle<CGImageRef> rendered = renderRect(picture, part.rect);
        ASSERT_TRUE(rendered);
        EXPECT_EQ(CGImageGetWidth(rendered), part.width);
        EXPECT_EQ(CGImageGetHeight(rendered), part.height);
        EXPECT_TRUE(isFilledWith(rendered, part.colour, 6, part.height > 4 ? 3 : 0));  // away from the quadrant edges
    }
    // A rectangle over all of the extent renders all of it.
    const CGHandle<CGImageRef> over = renderRect(picture, CGRectMake(-10, -10, 100, 100));
    EXPECT_EQ(CGImageGetWidth(over), 64u);
    EXPECT_EQ(CGImageGetHeight(over), 48u);
    EXPECT_TRUE(pixelIs(over, 16, 36, kBlue));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const CGRect& miss : {CGRectMake(64, 0, 10, 10), CGRectMake(-20, -20, 20, 20), CGRectMake(10, 10, 0, 5),
                               CGRectMake(0, 48, 64, 1), CGRectMake(nan, 0, 10, 10), CGRectMake(0, 0, 10, INFINITY)}) {
        EXPECT_EQ(renderRect(picture, miss).get(), nullptr)
            << miss.origin.x << "," << miss.origin.y << " " << miss.size.width << "x" << miss.size.height;
    }
    EXPECT_EQ(CIContext::contextWithOptions(nil)->createCGImage_fromRect(nil, extent), nullptr);
}

// A part is the same pixels as the whole picture has there, and the whole picture is within a few
// levels of the precise converter.
TEST(CoreImageRender, MatchesThePreciseConverterWithinAFewLevels) {
    TempDirectory dir;
    ClipSettings settings;
    settings.width = 96;
    settings.height = 64;
    const std::string path = writePainted(dir, settings, [](BgraImage& frame) {
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                uint8_t* p = frame.row(y) + 4 * x;
                p[0] = static_cast<uint8_t>(2 * x), p[1] = static_cast<uint8_t>(3 * y);
                p[2] = static_cast<uint8_t>(255 - 2 * x), p[3] = 255;
            }
        }
    });
    const ClipSamples clip = readClip(path);
    ASSERT_FALSE(clip.samples.empty());
    RecordingSession session;
    ASSERT_EQ(session.create(clip.format), noErr);
    ASSERT_EQ(session.decode(clip.samples[0]), noErr);
    ASSERT_EQ(session.outputs.size(), 1u);
    const CGHandle<CGImageRef> fast = render(session.outputs[0].picture);
    ASSERT_TRUE(fast);

    auto decoder = expectValue(PacketDecoder::create(clip.format));
    ASSERT_TRUE(decoder);
    FrameConverter converter(FrameConverter::Quality::precise);
    BgraImage precise;
    ASSERT_TRUE(succeeded(decoder->decode(
        clip.samples[0], [&](const DecodedFrame& frame) { EXPECT_EQ(converter.convert(frame, &precise), kMediaOK); })));
    ASSERT_EQ(precise.width, 96);
    ASSERT_EQ(precise.height, 64);
    int largest = 0;
    long total = 0;
    const uint8_t* bytes = CGImageGetBGRAData(fast);
    for (int y = 0; y < 64; ++y) {
        for (int i = 0; i < 96 * 4; ++i) {
            const int difference = std::abs(bytes[y * CGImageGetBytesPerRow(fast) + i] - precise.row(y)[i]);
            largest = std::max(largest, difference);
            total += difference;
        }
    }
    EXPECT_LE(largest, 4);
    EXPECT_LT(static_cast<double>(total) / (96 * 64 * 4), 1.5);

    // Rows 64 - 35 = 29 ... 58 from the top, columns 10 ... 49.
    const CGHandle<CGImageRef> part = renderRect(session.outputs[0].picture, CGRectMake(10, 5, 40, 30));
    ASSERT_EQ(CGImageGetWidth(part), 40u);
    ASSERT_EQ(CGImageGetHeight(part), 30u);
    for (int y = 0; y < 30; ++y) {
        ASSERT_EQ(std::memcmp(CGImageGetBGRAData(part) + y * CGImageGetBytesPerRow(part),
                              bytes + (29 + y) * CGImageGetBytesPerRow(fast) + 4 * 10, 40 * 4),
                  0)
            << "row " << y;
    }
}

// libswscale's SIMD converters work in blocks of pixels; the rows of a whole-picture image have no
// spare room past the last pixel, and its last columns must still be written.
TEST(CoreImageRender, EveryColumnIsRenderedWhateverTheWidth) {
    TempDirectory dir;
    ClipSettings settings;
    settings.width = 66;
    const CFHolder<CVPixelBufferRef> picture = firstPicture(writeClip(dir, "clip.mp4", "blue*1", settings));
    const CGHandle<CGImageRef> whole = render(picture);
    ASSERT_EQ(CGImageGetWidth(whole), 66u);
    for (size_t y = 0; y < CGImageGetHeight(whole); ++y) {
        for (size_t x = 0; x < 66; ++x) ASSERT_TRUE(pixelIs(whole, x, y, kBlue));
    }
}

// Called the way the video apps call them: by message, through the run-time.
TEST(CoreImageRender, WorksThroughTheRunTime) {
    TempDirectory dir;
    const CFHolder<CVPixelBufferRef> picture = firstPicture(writeClip(dir, "clip.mp4", "yellow*1", ClipSettings{}));
    ASSERT_TRUE(picture);
    const CFIndex count = CFGetRetainCount(picture);
    CGImageRef rendered = nullptr;
    {
        auto image = Strong<NSObject>::adopt(
            objc_msgSend<id>(CIImage::objcClass(), SEL_(imageWithCVPixelBuffer:), picture.get()));
        ASSERT_TRUE(image);
        EXPECT_EQ(CFGetRetainCount(picture), count + 1) << "the image keeps its pixel buffer";
        const CGRect extent = objc_msgSend<CGRect>(image.get(), SEL_(extent));
        EXPECT_TRUE(extent.size.width == 64 && extent.size.height == 48);
        auto context =
            Strong<NSObject>::adopt(objc_msgSend<id>(CIContext::objcClass(), SEL_(contextWithOptions:), nil));
        ASSERT_TRUE(context);
        rendered = objc_msgSend<CGImageRef>(context.get(), SEL_(createCGImage:fromRect:), image.get(), extent);
    }
    const CGHandle<CGImageRef> owned = CGHandle<CGImageRef>::adopt(rendered);
    EXPECT_EQ(CFGetRetainCount(picture), count);
    EXPECT_TRUE(isFilledWith(owned, kYellow));
    const CVPixelBufferRef none = nullptr;
    EXPECT_EQ(objc_msgSend<id>(CIImage::objcClass(), SEL_(imageWithCVPixelBuffer:), none), nil);
}

}  // namespace
