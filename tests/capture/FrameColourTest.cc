// Reducing a frame to one colour and writing the colour message.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <CoreGraphics/CGDevice.h>
#include <CoreGraphics/CoreGraphics.h>
#include <UIKit/UIKit.h>

#include "capture/FrameColour.h"

namespace {

// An image whose pixels are the given blue, green, red, alpha bytes, row after row.
Strong<UIImage> imageOf(size_t width, size_t height, const std::vector<uint8_t>& bgra) {
    CGImageRef image = CGImageCreateWithBGRAData(width, height, width * 4, bgra.data(), false);
    Strong<UIImage> result = UIImage::imageWithCGImage(image);
    CGImageRelease(image);
    return result;
}

std::string messageOf(UIImage* image) {
    Strong<UIColor> colour = sampleImageColor(image);
    return colorMessageFromColor(colour)->UTF8String();
}

TEST(FrameColour, TheMessageCarriesTheStoredBytesInSinglePrecision) {
    struct Row {
        std::vector<uint8_t> bgra;
        const char* message;
    };
    for (const Row& row : std::vector<Row>{
             {{64, 128, 255, 255}, "1.000000,0.501961,0.250980,1.000000"},
             {{0, 0, 0, 0}, "0.000000,0.000000,0.000000,1.000000"},
             // Half transparent: read as stored, premultiplied, not divided by alpha.
             {{0, 0, 128, 128}, "0.501961,0.000000,0.000000,1.000000"},
             // A double division would print 0.313725, 0.513725 and 0.713725.
             {{182, 131, 80, 255}, "0.313726,0.513726,0.713726,1.000000"},
         }) {
        EXPECT_EQ(messageOf(imageOf(1, 1, row.bgra)), row.message);
    }
}

TEST(FrameColour, AMissingImageIsBlack) { EXPECT_EQ(messageOf(nil), "0.000000,0.000000,0.000000,1.000000"); }

TEST(FrameColour, AFrameGivesOneOfItsPixelsNotAMean) {
    // Left half red, right half blue, in a frame much larger than the sample.
    const size_t width = 640, height = 360;
    std::vector<uint8_t> bgra(width * height * 4);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) {
            uint8_t* p = &bgra[(y * width + x) * 4];
            if (x < width / 2)
                std::memcpy(p, "\x00\x00\xff\xff", 4);
            else
                std::memcpy(p, "\xff\x00\x00\xff", 4);
        }
    std::string message = messageOf(imageOf(width, height, bgra));
    EXPECT_TRUE(message == "1.000000,0.000000,0.000000,1.000000" || message == "0.000000,0.000000,1.000000,1.000000")
        << message;
}

TEST(FrameColour, ThreadsSamplingAtOnceEachGetTheirOwnColour) {
    Strong<UIImage> clear = imageOf(8, 8, std::vector<uint8_t>(8 * 8 * 4, 0));
    std::vector<uint8_t> greenPixels;
    for (int i = 0; i < 64; ++i) greenPixels.insert(greenPixels.end(), {0, 255, 0, 255});
    Strong<UIImage> green = imageOf(8, 8, greenPixels);

    std::atomic<int> wrong{0};
    auto sampleMany = [&wrong](UIImage* image, const char* expected) {
        for (int i = 0; i < 2000; ++i)
            if (messageOf(image) != expected) ++wrong;
    };
    std::thread other(sampleMany, green.get(), "0.000000,1.000000,0.000000,1.000000");
    sampleMany(clear, "0.000000,0.000000,0.000000,1.000000");
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(FrameColour, TheMessageIsFourFixedPointFieldsWhateverTheLocale) {
    Strong<UIColor> colour = UIColor::colorWithRed_green_blue_alpha(0.1, 0.25, 1.0 / 3.0, 1.0);
    EXPECT_STREQ(colorMessageFromColor(colour)->UTF8String(), "0.100000,0.250000,0.333333,1.000000");
}

}  // namespace
