// Bitmap contexts, images and colours: the pixel format, blending, sampling and the transform.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include <CoreFoundation/CFBase.h>
#include <CoreGraphics/CGDevice.h>
#include <CoreGraphics/CGHandle.h>
#include <CoreGraphics/CoreGraphics.h>

namespace {

using Pixel = std::array<uint8_t, 4>;  // B, G, R, A as stored

CGHandle<CGContextRef> makeContext(size_t width, size_t height, bool opaque = false) {
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    uint32_t info =
        (opaque ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst) | kCGBitmapByteOrder32Little;
    return CGHandle<CGContextRef>::adopt(CGBitmapContextCreate(nullptr, width, height, 8, 0, space, info));
}

Pixel pixelAt(CGContextRef context, size_t x, size_t y) {
    auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(context)) +
                  y * CGBitmapContextGetBytesPerRow(context) + 4 * x;
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

void fill(CGContextRef context, CGRect rect, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
    auto color = CGHandle<CGColorRef>::adopt(CGColorCreateSRGB(r, g, b, a));
    CGContextSetFillColorWithColor(context, color);
    CGContextFillRect(context, rect);
}

// An image from premultiplied B,G,R,A pixels given row by row.
CGHandle<CGImageRef> makeImage(size_t width, size_t height, const std::vector<Pixel>& pixels) {
    return CGHandle<CGImageRef>::adopt(CGImageCreateWithBGRAData(width, height, 4 * width, pixels.data(), false));
}

// Draws `image` into a fresh one-pixel context the way a frame is reduced to one colour.
Pixel drawIntoOnePixel(CGImageRef image, CGInterpolationQuality quality, CGBlendMode mode = kCGBlendModeCopy) {
    auto context = makeContext(1, 1);
    CGContextSetInterpolationQuality(context, quality);
    CGContextSetBlendMode(context, mode);
    CGContextDrawImage(context, CGRectMake(0, 0, 1, 1), image);
    return pixelAt(context, 0, 0);
}

constexpr Pixel red{0, 0, 255, 255};
constexpr Pixel blue{255, 0, 0, 255};
constexpr Pixel clear{0, 0, 0, 0};

TEST(CGBitmapContext, StartsClearedAndStoresPixelsAsBlueGreenRedAlpha) {
    auto context = makeContext(3, 2);
    ASSERT_TRUE(context);
    EXPECT_EQ(CGBitmapContextGetWidth(context), 3u);
    EXPECT_EQ(CGBitmapContextGetHeight(context), 2u);
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(context), 12u);
    auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(context));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 24), std::vector<uint8_t>(24, 0));

    fill(context, CGRectMake(1, 1, 1, 1), 1, 0, 0, 1);
    EXPECT_EQ(pixelAt(context, 1, 1), red);
    EXPECT_EQ(pixelAt(context, 0, 1), clear) << "only the pixel inside the rectangle changes";
    EXPECT_EQ(pixelAt(context, 1, 0), clear) << "y grows downwards from the top row";

    fill(context, CGRectMake(0, 0, 1, 1), 1, 0, 0, 0.5);
    EXPECT_EQ(pixelAt(context, 0, 0), (Pixel{0, 0, 128, 128})) << "stored premultiplied";
}

TEST(CGBitmapContext, AContextWithoutAlphaKeepsEveryAlphaByteAt255) {
    auto context = makeContext(2, 1, true);
    ASSERT_TRUE(context);
    EXPECT_EQ(pixelAt(context, 0, 0), (Pixel{0, 0, 0, 255}));
    CGContextSetBlendMode(context, kCGBlendModeCopy);
    fill(context, CGRectMake(0, 0, 1, 1), 0, 0, 1, 0.5);
    EXPECT_EQ(pixelAt(context, 0, 0)[3], 255);
    EXPECT_EQ(CGBitmapContextGetBitmapInfo(context), kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Little);
}

TEST(CGBitmapContext, RefusesWhatItCannotDraw) {
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    const uint32_t bgra = kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little;
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 16, 0, space, bgra), nullptr) << "16 bits per component";
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 0, space, kCGImageAlphaPremultipliedFirst), nullptr)
        << "big-endian ARGB";
    EXPECT_EQ(
        CGBitmapContextCreate(nullptr, 4, 4, 8, 0, space, kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Little),
        nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 0, space, bgra | kCGBitmapFloatComponents), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 0, nullptr, bgra), nullptr) << "no colour space";
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 0, 4, 8, 0, space, bgra), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 0, 8, 0, space, bgra), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 12, space, bgra), nullptr) << "rows shorter than a row of pixels";
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 18, space, bgra), nullptr) << "rows not whole words";
    EXPECT_EQ(CGBitmapContextCreate(nullptr, SIZE_MAX / 2, 4, 8, 0, space, bgra), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 1u << 30, 1u << 30, 8, 0, space, bgra), nullptr);
    alignas(4) uint8_t buffer[68];
    EXPECT_EQ(CGBitmapContextCreate(buffer + 1, 4, 4, 8, 16, space, bgra), nullptr) << "unaligned pixels";
}

TEST(CGBitmapContext, DrawsIntoCallersMemoryWithPaddedRows) {
    std::vector<uint32_t> memory(3 * 4, 0xdeadbeef);  // 3 rows of 4 words for 2 pixels each
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    auto context = CGHandle<CGContextRef>::adopt(CGBitmapContextCreate(
        memory.data(), 2, 3, 8, 16, space, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little));
    ASSERT_TRUE(context);
    EXPECT_EQ(memory[0], 0xdeadbeefu) << "the caller's bytes are not cleared";
    CGContextSetBlendMode(context, kCGBlendModeCopy);
    fill(context, CGRectMake(0, 0, 2, 3), 0, 1, 0, 1);
    for (size_t row = 0; row < 3; ++row) {
        EXPECT_EQ(memory[row * 4], 0xff00ff00u);
        EXPECT_EQ(memory[row * 4 + 1], 0xff00ff00u);
        EXPECT_EQ(memory[row * 4 + 2], 0xdeadbeefu) << "padding is left alone";
    }
}

TEST(CGBlending, CopyReplacesAHalfTransparentPixelWhileNormalCompositesOverIt) {
    // Source: half-transparent blue; destination: half-transparent red.
    auto halfBlue = makeImage(1, 1, {{128, 0, 0, 128}});
    auto blendOnto = [&](CGBlendMode mode) {
        auto context = makeContext(1, 1);
        fill(context, CGRectMake(0, 0, 1, 1), 1, 0, 0, 0.5);
        CGContextSetBlendMode(context, mode);
        CGContextDrawImage(context, CGRectMake(0, 0, 1, 1), halfBlue);
        return pixelAt(context, 0, 0);
    };
    EXPECT_EQ(blendOnto(kCGBlendModeCopy), (Pixel{128, 0, 0, 128}));
    Pixel over = blendOnto(kCGBlendModeNormal);
    // source + destination * (1 - source alpha)
    EXPECT_EQ(over[0], 128);
    EXPECT_NEAR(over[2], 64, 1);
    EXPECT_NEAR(over[3], 192, 1);
    Pixel unknownMode = blendOnto(kCGBlendModeMultiply);
    EXPECT_EQ(unknownMode, over) << "modes the device does not draw behave as normal";
}

TEST(CGBlending, TheContextAlphaWeakensWhatIsDrawn) {
    auto opaqueRed = makeImage(1, 1, {red});
    auto context = makeContext(1, 1);
    CGContextSetBlendMode(context, kCGBlendModeCopy);
    CGContextSetAlpha(context, 0.5);
    CGContextDrawImage(context, CGRectMake(0, 0, 1, 1), opaqueRed);
    EXPECT_EQ(pixelAt(context, 0, 0), (Pixel{0, 0, 128, 128}));
}

TEST(CGSampling, NearestFilteringGivesExactlyOneSourcePixelAndTheOthersMix) {
    // Left half red, right half blue: a mean would be purple.
    auto halves = makeImage(2, 1, {red, blue});
    Pixel nearest = drawIntoOnePixel(halves, kCGInterpolationNone);
    EXPECT_TRUE(nearest == red || nearest == blue) << "got " << int(nearest[2]) << "," << int(nearest[0]);
    for (CGInterpolationQuality quality : {kCGInterpolationDefault, kCGInterpolationLow, kCGInterpolationHigh}) {
        Pixel mixed = drawIntoOnePixel(halves, quality);
        EXPECT_NEAR(mixed[2], 128, 2) << "quality " << quality;
        EXPECT_NEAR(mixed[0], 128, 2) << "quality " << quality;
        EXPECT_EQ(mixed[3], 255);
    }
}

TEST(CGSampling, ALargeImageShrunkToOnePixel) {
    // 1280 x 720 with distinct quarters; one pixel takes one of them unfiltered, and their mean
    // with the default quality (bilinear alone would see only the four pixels at the centre).
    const size_t width = 1280, height = 720;
    std::vector<Pixel> pixels(width * height);
    const Pixel quarters[4] = {{0, 0, 200, 255}, {0, 200, 0, 255}, {200, 0, 0, 255}, {40, 40, 40, 255}};
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) pixels[y * width + x] = quarters[(y >= height / 2) * 2 + (x >= width / 2)];
    // A stripe of white where bilinear sampling at the centre would read.
    for (size_t y = height / 2 - 2; y < height / 2 + 2; ++y)
        for (size_t x = width / 2 - 2; x < width / 2 + 2; ++x) pixels[y * width + x] = {255, 255, 255, 255};
    auto image = makeImage(width, height, pixels);

    Pixel nearest = drawIntoOnePixel(image, kCGInterpolationNone);
    bool isAPixelOfTheImage = false;
    for (const Pixel& p : quarters) isAPixelOfTheImage = isAPixelOfTheImage || p == nearest;
    isAPixelOfTheImage = isAPixelOfTheImage || nearest == Pixel{255, 255, 255, 255};
    EXPECT_TRUE(isAPixelOfTheImage);

    Pixel averaged = drawIntoOnePixel(image, kCGInterpolationDefault);
    EXPECT_NEAR(averaged[0], (200 + 40) / 4, 3);
    EXPECT_NEAR(averaged[1], (200 + 40) / 4, 3);
    EXPECT_NEAR(averaged[2], (200 + 40) / 4, 3);
}

TEST(CGTransform, ScaleAndTranslateMovePointsToPixels) {
    auto context = makeContext(6, 6);
    CGContextScaleCTM(context, 3, 3);
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 1, 0);
    fill(context, CGRectMake(0, 1, 1, 1), 1, 0, 0, 1);  // one point at (1, 1): pixels 3..5, 3..5
    CGContextRestoreGState(context);
    EXPECT_TRUE(CGAffineTransformEqualToTransform(CGContextGetCTM(context), CGAffineTransformMakeScale(3, 3)));
    int redPixels = 0;
    for (size_t y = 0; y < 6; ++y)
        for (size_t x = 0; x < 6; ++x) {
            bool inside = x >= 3 && y >= 3;
            EXPECT_EQ(pixelAt(context, x, y), inside ? red : clear) << x << "," << y;
            redPixels += inside;
        }
    EXPECT_EQ(redPixels, 9);
}

TEST(CGTransform, ImagesScaleIntoTheirRectangleAndFlipWithTheTransform) {
    auto halves = makeImage(2, 1, {red, blue});
    auto context = makeContext(4, 2);
    CGContextSetInterpolationQuality(context, kCGInterpolationNone);
    CGContextDrawImage(context, CGRectMake(0, 0, 4, 2), halves);
    EXPECT_EQ(pixelAt(context, 1, 1), red);
    EXPECT_EQ(pixelAt(context, 2, 0), blue);

    // Mirrored: x goes to 4 - x.
    CGContextTranslateCTM(context, 4, 0);
    CGContextScaleCTM(context, -1, 1);
    CGContextDrawImage(context, CGRectMake(0, 0, 4, 2), halves);
    EXPECT_EQ(pixelAt(context, 0, 0), blue);
    EXPECT_EQ(pixelAt(context, 3, 1), red);
}

TEST(CGTransform, DrawingPartlyOutsideIsClippedAndFractionalEdgesGoByPixelCentres) {
    auto context = makeContext(4, 4);
    fill(context, CGRectMake(-10, -10, 11.4, 100), 1, 0, 0, 1);  // right edge at 1.4: pixel 0 only
    fill(context, CGRectMake(2.5, 2.6, 10, 10), 0, 0, 1, 1);     // starts at pixel 2 (centre 2.5), row 3
    for (size_t y = 0; y < 4; ++y) {
        EXPECT_EQ(pixelAt(context, 0, y), red);
        EXPECT_EQ(pixelAt(context, 1, y), clear);
    }
    EXPECT_EQ(pixelAt(context, 2, 2), clear);
    EXPECT_EQ(pixelAt(context, 2, 3), blue);
    EXPECT_EQ(pixelAt(context, 3, 3), blue);
}

TEST(CGImages, AContextImageIsACopyAndImagesTakeRowsWithPadding) {
    auto context = makeContext(2, 1);
    fill(context, CGRectMake(0, 0, 1, 1), 1, 0, 0, 1);
    auto snapshot = CGHandle<CGImageRef>::adopt(CGBitmapContextCreateImage(context));
    fill(context, CGRectMake(0, 0, 2, 1), 0, 0, 1, 1);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(CGImageGetWidth(snapshot), 2u);
    EXPECT_EQ(CGImageGetHeight(snapshot), 1u);
    const uint8_t* bytes = CGImageGetBGRAData(snapshot);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8), (std::vector<uint8_t>{0, 0, 255, 255, 0, 0, 0, 0}));

    // Two rows of one pixel, 8 bytes apart; opaque forces alpha.
    const uint8_t padded[16] = {1, 2, 3, 4, 99, 99, 99, 99, 5, 6, 7, 8, 99, 99, 99, 99};
    auto image = CGHandle<CGImageRef>::adopt(CGImageCreateWithBGRAData(1, 2, 8, padded, true));
    ASSERT_TRUE(image);
    EXPECT_EQ(CGImageGetBytesPerRow(image), 4u);
    EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaNoneSkipFirst);
    const uint8_t* stored = CGImageGetBGRAData(image);
    EXPECT_EQ(std::vector<uint8_t>(stored, stored + 8), (std::vector<uint8_t>{1, 2, 3, 255, 5, 6, 7, 255}));

    EXPECT_EQ(CGImageCreateWithBGRAData(2, 1, 4, padded, false), nullptr) << "rows would overlap";
    EXPECT_EQ(CGImageCreateWithBGRAData(0, 1, 4, padded, false), nullptr);
    EXPECT_EQ(CGImageCreateWithBGRAData(1, 1, 4, nullptr, false), nullptr);
}

TEST(CGImages, AnImageKeepsItsPixelsWhateverIsWrittenToTheContextAfterwards) {
    auto context = makeContext(2, 2, true);
    auto before = CGHandle<CGImageRef>::adopt(CGBitmapContextCreateImage(context));
    // Written through the context's own memory, after the image was made.
    static_cast<uint8_t*>(CGBitmapContextGetData(context))[0] = 77;
    const uint8_t* kept = CGImageGetBGRAData(before);
    EXPECT_EQ(std::vector<uint8_t>(kept, kept + 8), (std::vector<uint8_t>{0, 0, 0, 255, 0, 0, 0, 255}));
    EXPECT_EQ(pixelAt(context, 0, 0)[0], 77);
}

TEST(CGImages, AnImageDrawnAtItsOwnSizeIsCopiedExactly) {
    std::vector<Pixel> pixels;
    for (uint8_t i = 0; i < 12; ++i) pixels.push_back({i, uint8_t(2 * i), uint8_t(3 * i), 255});
    auto image = makeImage(4, 3, pixels);
    // Over the whole of an opaque context, and over part of a transparent one, moved by whole pixels.
    auto whole = makeContext(4, 3, true);
    CGContextDrawImage(whole, CGRectMake(0, 0, 4, 3), image);
    auto part = makeContext(4, 3);
    CGContextDrawImage(part, CGRectMake(1, 1, 4, 3), image);
    for (size_t y = 0; y < 3; ++y)
        for (size_t x = 0; x < 4; ++x) {
            EXPECT_EQ(pixelAt(whole, x, y), pixels[y * 4 + x]) << x << "," << y;
            Pixel expected = (x == 0 || y == 0) ? clear : pixels[(y - 1) * 4 + (x - 1)];
            EXPECT_EQ(pixelAt(part, x, y), expected) << x << "," << y;
        }
}

TEST(CGColors, KeepTheirComponentsInOrderAndUnclamped) {
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    const CGFloat components[4] = {1.5, -0.25, 0.5, 0.75};
    auto color = CGHandle<CGColorRef>::adopt(CGColorCreate(space, components));
    ASSERT_TRUE(color);
    EXPECT_EQ(CGColorGetNumberOfComponents(color), 4u);
    const CGFloat* got = CGColorGetComponents(color);
    EXPECT_EQ(std::vector<CGFloat>(got, got + 4), std::vector<CGFloat>(components, components + 4));
    EXPECT_EQ(CGColorGetAlpha(color), 0.75);
    auto same = CGHandle<CGColorRef>::adopt(CGColorCreateSRGB(1.5, -0.25, 0.5, 0.75));
    auto other = CGHandle<CGColorRef>::adopt(CGColorCreateSRGB(1.5, -0.25, 0.5, 1));
    EXPECT_TRUE(CGColorEqualToColor(color, same));
    EXPECT_FALSE(CGColorEqualToColor(color, other));
    EXPECT_EQ(CGColorCreate(nullptr, components), nullptr);

    // Drawing clamps what a bitmap cannot hold.
    auto context = makeContext(1, 1);
    CGContextSetFillColorWithColor(context, color);
    CGContextFillRect(context, CGRectMake(0, 0, 1, 1));
    EXPECT_EQ(pixelAt(context, 0, 0), (Pixel{96, 0, 191, 191}));
}

// As on iOS, CoreGraphics objects are Core Foundation objects: CFRetain and CFRelease count the same
// references as their own retain and release, and the last release of either kind frees the object
// and what it holds (leak detection reports a colour or colour space left behind).
TEST(CGColors, AreCoreFoundationObjects) {
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    const CGFloat components[4] = {0, 0.5, 1, 1};
    CGColorRef color = CGColorCreate(space, components);
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(CFGetRetainCount(space), 2);  // the colour holds its space
    EXPECT_EQ(CFRetain(color), color);
    CGColorRetain(color);
    EXPECT_EQ(CFGetRetainCount(color), 3);
    CGColorRelease(color);
    CFRelease(color);
    EXPECT_EQ(CFGetRetainCount(color), 1);
    CFRelease(color);
    EXPECT_EQ(CFGetRetainCount(space), 1);
    CGColorSpaceRelease(space);
}

}  // namespace
