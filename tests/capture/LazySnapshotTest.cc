// Snapshots that produce their pixels where they are read, against the eager way kept as the
// reference: every step drawn at once into memory the test owns. Read in full, a snapshot holds the
// eager bytes; the library's one-pixel sample of it is the eager sample, whatever the sizes, scales,
// bars and blending.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <AVKit/AVPlayerViews.h>
#include <CoreGraphics/CGDevice.h>
#include <CoreGraphics/CGHandle.h>
#include <UIKit/UIKit.h>
#include <media/FrameConverter.h>
#include <media/LiveSource.h>
#include <media/LiveSourceRequest.h>

#include "capture/FrameColour.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t pixelsFor(CGFloat points, CGFloat scale) { return static_cast<size_t>(std::ceil(points * scale)); }

Strong<UIImage> lazySnapshot(UIView* view, CGFloat scale) {
    UIGraphicsBeginImageContextWithOptions(view->bounds().size, view->isOpaque(), scale);
    view->drawViewHierarchyInRect_afterScreenUpdates(view->bounds(), NO);
    Strong<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// The same snapshot drawn at once into the test's memory, cleared as an image context starts.
Bytes eagerSnapshot(UIView* view, CGFloat scale) {
    const size_t width = pixelsFor(view->bounds().size.width, scale);
    const size_t height = pixelsFor(view->bounds().size.height, scale);
    std::vector<uint32_t> memory(width * height, view->isOpaque() ? 0xff000000u : 0u);
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    const CGBitmapInfo alpha = view->isOpaque() ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst;
    auto context = CGHandle<CGContextRef>::adopt(
        CGBitmapContextCreate(memory.data(), width, height, 8, 4 * width, space, alpha | kCGBitmapByteOrder32Little));
    CGContextScaleCTM(context, scale, scale);
    UIGraphicsPushContext(context);
    view->drawViewHierarchyInRect_afterScreenUpdates(view->bounds(), NO);
    UIGraphicsPopContext();
    const auto* bytes = reinterpret_cast<const uint8_t*>(memory.data());
    return Bytes(bytes, bytes + 4 * memory.size());
}

CGHandle<CGImageRef> imageOf(const Bytes& bytes, size_t width, size_t height, size_t bytesPerRow, bool opaque) {
    return CGHandle<CGImageRef>::adopt(CGImageCreateWithBGRAData(width, height, bytesPerRow, bytes.data(), opaque));
}

Bytes bytesOf(CGImageRef image) {
    const uint8_t* bytes = CGImageGetBGRAData(image);
    return Bytes(bytes, bytes + CGImageGetBytesPerRow(image) * CGImageGetHeight(image));
}

// The library's colour of an image, as the components of the colour it sends.
std::vector<CGFloat> sampleOf(UIImage* image) {
    Strong<UIColor> colour = sampleImageColor(image);
    const CGFloat* components = CGColorGetComponents(colour->CGColor());
    return std::vector<CGFloat>(components, components + 4);
}

// Samples the lazy snapshot first (so that it produces only what the sample reads), then reads it in
// full, and compares both with the eager snapshot, drawn with `eagerContents` in the view if given.
void expectSnapshotsAgree(UIView* view, CGFloat scale, CGImageRef eagerContents = nullptr) {
    Strong<UIImage> lazy = lazySnapshot(view, scale);
    ASSERT_TRUE(lazy);
    const std::vector<CGFloat> lazySample = sampleOf(lazy);
    if (eagerContents) view->setContents(eagerContents);
    const Bytes eager = eagerSnapshot(view, scale);
    const size_t width = CGImageGetWidth(lazy->CGImage()), height = CGImageGetHeight(lazy->CGImage());
    Strong<UIImage> eagerImage =
        UIImage::imageWithCGImage(imageOf(eager, width, height, 4 * width, view->isOpaque()).get());
    EXPECT_EQ(lazySample, sampleOf(eagerImage)) << "the one-pixel sample";
    EXPECT_TRUE(bytesOf(lazy->CGImage()) == eager) << "the snapshot read in full";
}

class Randomness {
public:
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    bool chance() { return between(0, 1) == 1; }
    // Random premultiplied pixels, opaque or not.
    CGHandle<CGImageRef> picture(size_t width, size_t height, bool opaque) {
        Bytes bytes(4 * width * height);
        for (size_t i = 0; i < bytes.size(); i += 4) {
            const int alpha = opaque ? 255 : between(0, 255);
            for (int c = 0; c < 3; ++c) bytes[i + c] = static_cast<uint8_t>(between(0, alpha));
            bytes[i + 3] = static_cast<uint8_t>(alpha);
        }
        return imageOf(bytes, width, height, 4 * width, opaque);
    }
    Strong<UIColor> colour() {
        auto unit = [this] { return between(0, 255) / 255.0; };
        return UIColor::colorWithRed_green_blue_alpha(unit(), unit(), unit(), chance() ? 1.0 : unit());
    }
    CGFloat points() { return between(1, 150) + std::vector<double>{0, 0.5, 1.0 / 3}[between(0, 2)]; }

private:
    std::mt19937 engine_{30};
};

// The full-screen player's view (a picture fitted between bars) and plain views (a picture
// stretched over the bounds, backgrounds that may be translucent, a subview), at scales 1 to 3,
// with pictures from a few pixels to shrunk by far more than half.
TEST(LazySnapshot, ReadInFullAndSampledEqualsTheEagerSnapshot) {
    Randomness random;
    for (int round = 0; round < 60; ++round) {
        const CGFloat width = random.points(), height = random.points(), scale = random.between(1, 3);
        const size_t pictureWidth = random.between(1, 500), pictureHeight = random.between(1, 500);
        const bool opaquePicture = random.chance(), player = random.chance();
        SCOPED_TRACE(std::string(player ? "player view " : "plain view ") + std::to_string(width) + " x " +
                     std::to_string(height) + " pt at " + std::to_string(scale) + ", picture " +
                     std::to_string(pictureWidth) + " x " + std::to_string(pictureHeight) +
                     (opaquePicture ? " opaque" : " translucent"));
        Strong<UIView> view = player ? Strong<UIView>(AVPlayerLayerView::viewWithFrame(CGRectMake(0, 0, width, height)))
                                     : UIView::viewWithFrame(CGRectMake(0, 0, width, height));
        view->setOpaque(random.chance());
        if (!player || random.chance()) view->setBackgroundColor(random.colour());
        view->setContents(random.picture(pictureWidth, pictureHeight, opaquePicture));
        if (!player) {
            Strong<UIView> subview = UIView::viewWithFrame(CGRectMake(width / 3, height / 4, width / 2, height / 2));
            subview->setBackgroundColor(random.colour());
            subview->setContents(random.picture(random.between(1, 40), random.between(1, 40), false));
            view->addSubview(subview);
        }
        expectSnapshotsAgree(view, scale);
    }
}

// A snapshot of a view showing the snapshot before, over and over, scaled up and down: the last
// reads as the eager chain, and the chain holds a few pictures, not every one before it.
TEST(LazySnapshot, SnapshotsOfSnapshotsHoldAFewPicturesAndReadAsTheEagerChain) {
    Randomness random;
    CGHandle<CGImageRef> first = random.picture(90, 70, true);
    const CFIndex heldBefore = CFGetRetainCount(first.get());
    Strong<UIView> lazyView = UIView::viewWithFrame(CGRectMake(0, 0, 41, 29));
    Strong<UIView> eagerView = UIView::viewWithFrame(CGRectMake(0, 0, 41, 29));
    lazyView->setContents(first);
    eagerView->setContents(first);
    Bytes eager;
    for (int round = 0; round < 20; ++round) {
        const CGFloat scale = round % 2 ? 2 : 3;
        lazyView->setContents(lazySnapshot(lazyView, scale)->CGImage());
        eager = eagerSnapshot(eagerView, scale);
        eagerView->setContents(
            imageOf(eager, pixelsFor(41, scale), pixelsFor(29, scale), 4 * pixelsFor(41, scale), true));
    }
    EXPECT_EQ(CFGetRetainCount(first.get()), heldBefore) << "the first picture is let go";
    EXPECT_TRUE(bytesOf(lazyView->contents().get()) == eager);
}

// A context drawn into over and over keeps a few steps, and its pixels are those drawn at once.
TEST(LazySnapshot, AContextDrawnIntoManyTimesKeepsAFewSteps) {
    Randomness random;
    CGHandle<CGImageRef> picture = random.picture(13, 11, false);
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    const CGBitmapInfo info = kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little;
    std::vector<uint32_t> memory(40 * 30, 0);
    auto eager = CGHandle<CGContextRef>::adopt(CGBitmapContextCreate(memory.data(), 40, 30, 8, 160, space, info));
    auto kept = CGHandle<CGContextRef>::adopt(CGBitmapContextCreate(nullptr, 40, 30, 8, 160, space, info));
    for (int i = 0; i < 100; ++i) {
        const CGRect rect = CGRectMake(i % 29, i % 17, 5 + i % 11, 4 + i % 7);
        CGContextDrawImage(eager, rect, picture);
        CGContextDrawImage(kept, rect, picture);
    }
    EXPECT_LT(CFGetRetainCount(picture.get()), 20) << "a few steps hold the picture, not a hundred";
    EXPECT_EQ(std::memcmp(CGBitmapContextGetData(kept), memory.data(), 4 * memory.size()), 0);
}

// A grabbed screen goes into the player view unscaled, with the scale it is shown at: read in full
// it is what the fast converter makes, and the view's snapshot and its sample are the eager ones.
TEST(LazySnapshot, AGrabbedScreenShownWithItsScaleReadsAsTheConvertedPicture) {
    Randomness random;
    for (int round = 0; round < 8; ++round) {
        const int width = random.between(8, 400), height = random.between(8, 300);
        const std::string graph =
            "lavfi:testsrc2=s=" + std::to_string(width) + "x" + std::to_string(height) + ",format=bgr0";
        SCOPED_TRACE(graph);
        device::StatusOr<std::unique_ptr<LiveSource>> source =
            LiveSource::open(*parseLiveSource(graph, "", "", std::nullopt));
        ASSERT_TRUE(source.ok()) << source.status().message();
        LiveFrame frame;
        ASSERT_EQ((*source)->read(&frame).kind, LiveSource::Read::frame);

        Strong<AVPlayerLayerView> view =
            AVPlayerLayerView::viewWithFrame(CGRectMake(0, 0, random.points(), random.points()));
        view->displayLayer()->showPicture(frame.picture->view(), 0);
        CGHandle<CGImageRef> shown = view->contents();
        ASSERT_TRUE(shown);
        const size_t shownWidth = CGImageGetWidth(shown), shownHeight = CGImageGetHeight(shown);
        FrameConverter converter(FrameConverter::Quality::fast);
        BgraImage converted;
        ASSERT_EQ(converter.convert(frame.picture->view(), &converted, static_cast<int>(shownWidth),
                                    static_cast<int>(shownHeight)),
                  0);
        CGHandle<CGImageRef> eager = imageOf(converted.pixels, shownWidth, shownHeight, converted.bytesPerRow, true);

        expectSnapshotsAgree(view, 3, eager);
        EXPECT_TRUE(bytesOf(shown) == bytesOf(eager)) << "the picture itself";
    }
}

// Threads sampling one snapshot while others read it in full all see the same pixels.
TEST(LazySnapshot, ThreadsReadingOneSnapshotAtOnceAgree) {
    Randomness random;
    Strong<UIView> view = AVPlayerLayerView::viewWithFrame(CGRectMake(0, 0, 120, 90));
    view->setContents(random.picture(300, 200, true));
    const Bytes eager = eagerSnapshot(view, 3);
    for (int round = 0; round < 10; ++round) {
        Strong<UIImage> lazy = lazySnapshot(view, 3);
        const std::vector<CGFloat> expected = sampleOf(UIImage::imageWithCGImage(imageOf(eager, 360, 270, 1440, true)));
        std::vector<std::thread> readers;
        std::vector<int> agreed(4, 0);
        for (int i = 0; i < 4; ++i)
            readers.emplace_back(
                [&, i] { agreed[i] = i % 2 ? bytesOf(lazy->CGImage()) == eager : sampleOf(lazy) == expected; });
        for (std::thread& reader : readers) reader.join();
        EXPECT_EQ(agreed, std::vector<int>(4, 1));
    }
}

}  // namespace
