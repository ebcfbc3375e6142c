// Image contexts, UIImage, UIColor, UIScreen and UIView snapshots, called the way the library calls
// them: through the run-time where it sends messages.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <barrier>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <type_traits>
#include <vector>

#include <CoreGraphics/CGDevice.h>
#include <UIKit/UIKit.h>
#include <objc/ObjcDevice.h>

#include "support/TempDirectory.h"

namespace {

using Pixel = std::array<uint8_t, 4>;  // B, G, R, A as stored

constexpr Pixel red{0, 0, 255, 255};
constexpr Pixel green{0, 255, 0, 255};
constexpr Pixel blue{255, 0, 0, 255};
constexpr Pixel clear{0, 0, 0, 0};

Pixel pixelAt(CGContextRef context, size_t x, size_t y) {
    auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(context)) +
                  y * CGBitmapContextGetBytesPerRow(context) + 4 * x;
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

CGHandle<CGImageRef> makeImage(size_t width, size_t height, const std::vector<Pixel>& pixels) {
    return CGHandle<CGImageRef>::adopt(CGImageCreateWithBGRAData(width, height, 4 * width, pixels.data(), false));
}

Strong<UIColor> color(CGFloat r, CGFloat g, CGFloat b, CGFloat a = 1) {
    return UIColor::colorWithRed_green_blue_alpha(r, g, b, a);
}

// Calls the implementation registered for `selector` after checking its type string. For messages
// that return a pointer or a struct or pass one before the last argument: objc_msgSend's debug
// check spells a C++ pointer "^" (no pointee) and a struct "{" (unclosed), which it cannot yet
// compare in those places.
template <class R, class... A>
R callRegistered(id receiver, SEL selector, const char* types, A... args) {
    Method method = class_getInstanceMethod(object_getClass(receiver), selector);
    EXPECT_STREQ(method_getTypeEncoding(method), types);
    if (method == nullptr) {
        if constexpr (std::is_void_v<R>)
            return;
        else
            return R{};
    }
    return reinterpret_cast<R (*)(id, SEL, A...)>(method_getImplementation(method))(receiver, selector, args...);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each test starts and ends with no context open on its thread.
class ImageContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1);
        ASSERT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    }
    void TearDown() override {
        while (UIGraphicsGetCurrentContext()) UIGraphicsEndImageContext();
    }
    TempDirectory device_;
};

TEST_F(ImageContextTest, HasCeilPointsTimesScalePixelsAndDrawsInPoints) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 5), NO, 3.0);
    CGContextRef context = UIGraphicsGetCurrentContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CGBitmapContextGetWidth(context), 30u);
    EXPECT_EQ(CGBitmapContextGetHeight(context), 15u);
    auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(context));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 30 * 15 * 4), std::vector<uint8_t>(30 * 15 * 4, 0))
        << "starts cleared";
    // One point is three pixels.
    CGContextSetFillColorWithColor(context, color(1, 0, 0)->CGColor());
    CGContextFillRect(context, CGRectMake(1, 1, 1, 1));
    EXPECT_EQ(pixelAt(context, 3, 3), red);
    EXPECT_EQ(pixelAt(context, 5, 5), red);
    EXPECT_EQ(pixelAt(context, 6, 5), clear);
    EXPECT_EQ(pixelAt(context, 2, 3), clear);

    Strong<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->scale(), 3.0);
    EXPECT_TRUE(CGSizeEqualToSize(image->size(), CGSizeMake(10, 5)));
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);

    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1, 1), YES, 0.0);  // the main screen's scale
    context = UIGraphicsGetCurrentContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CGBitmapContextGetWidth(context), 3u);
    EXPECT_EQ(pixelAt(context, 0, 0), (Pixel{0, 0, 0, 255})) << "an opaque context starts black, without alpha";
    UIGraphicsEndImageContext();

    UIGraphicsBeginImageContext(CGSizeMake(10.2, 0.5));
    context = UIGraphicsGetCurrentContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CGBitmapContextGetWidth(context), 11u);
    EXPECT_EQ(CGBitmapContextGetHeight(context), 1u);
    EXPECT_EQ(CGBitmapContextGetBitmapInfo(context), kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
}

TEST_F(ImageContextTest, ContextsStackAndEndingWithNoneOpenDoesNothing) {
    UIGraphicsBeginImageContext(CGSizeMake(1, 1));
    CGContextRef outer = UIGraphicsGetCurrentContext();
    UIGraphicsBeginImageContext(CGSizeMake(2, 2));
    CGContextRef inner = UIGraphicsGetCurrentContext();
    ASSERT_NE(outer, nullptr);
    ASSERT_NE(inner, outer);
    // A pushed context is current, but it is not an image context to take or end.
    auto space = CGHandle<CGColorSpaceRef>::adopt(CGColorSpaceCreateDeviceRGB());
    auto own = CGHandle<CGContextRef>::adopt(CGBitmapContextCreate(
        nullptr, 1, 1, 8, 0, space, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little));
    UIGraphicsPushContext(own);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), own.get());
    EXPECT_FALSE(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), own.get());
    UIGraphicsPopContext();

    EXPECT_EQ(UIGraphicsGetCurrentContext(), inner);
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), outer);
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    EXPECT_FALSE(UIGraphicsGetImageFromCurrentImageContext());
}

TEST_F(ImageContextTest, AnEmptyOrInvalidSizeOpensNothingAndLogsTheSize) {
    UIGraphicsBeginImageContext(CGSizeMake(1, 1));
    CGContextRef open = UIGraphicsGetCurrentContext();
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(0, 10), NO, 0.0);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), open) << "nothing was pushed";
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);

    UIGraphicsBeginImageContextWithOptions(CGSizeMake(-4, 3), NO, 1.0);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    EXPECT_FALSE(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(NAN, 3), NO, 1.0);
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(3, 3), NO, -1.0);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);

    std::string log = readFile(device_.path() + "/system.log");
    EXPECT_NE(log.find("size={0, 10}"), std::string::npos) << log;
    EXPECT_NE(log.find("size={-4, 3}"), std::string::npos) << log;
    EXPECT_NE(log.find("size={nan, 3}"), std::string::npos) << log;
}

TEST_F(ImageContextTest, EachThreadHasItsOwnCurrentContext) {
    std::barrier bothOpen(2), bothDrawn(2);
    struct Seen {
        CGContextRef context = nullptr;
        bool sawOwnContext = false;
        Pixel pixel{};
    };
    Seen seen[2];
    auto work = [&](int index, CGFloat r, CGFloat b) {
        UIGraphicsBeginImageContext(CGSizeMake(1, 1));
        seen[index].context = UIGraphicsGetCurrentContext();
        bothOpen.arrive_and_wait();
        CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(), color(r, 0, b)->CGColor());
        CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 1, 1));
        bothDrawn.arrive_and_wait();
        seen[index].sawOwnContext = UIGraphicsGetCurrentContext() == seen[index].context;
        seen[index].pixel = pixelAt(UIGraphicsGetCurrentContext(), 0, 0);
        UIGraphicsEndImageContext();
    };
    std::thread first(work, 0, 1.0, 0.0), second(work, 1, 0.0, 1.0);
    first.join();
    second.join();
    EXPECT_NE(seen[0].context, seen[1].context);
    EXPECT_TRUE(seen[0].sawOwnContext);
    EXPECT_TRUE(seen[1].sawOwnContext);
    EXPECT_EQ(seen[0].pixel, red);
    EXPECT_EQ(seen[1].pixel, blue);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr) << "the test's own thread opened nothing";
}

TEST_F(ImageContextTest, AFrameImageIsSampledThroughTheRunTime) {
    // What the library does per frame: one unfiltered copy of the whole image into one pixel.
    auto frame = makeImage(2, 2, {{64, 128, 255, 255}, {64, 128, 255, 255}, {64, 128, 255, 255}, {64, 128, 255, 255}});
    auto image = Strong<NSObject>::adopt(objc_msgSend<id>(UIImage::objcClass(), SEL_(imageWithCGImage:), frame.get()));
    ASSERT_TRUE(image);
    EXPECT_EQ(callRegistered<CGImageRef>(image.get(), SEL_(CGImage), "^{CGImage=}16@0:8"), frame.get());
    EXPECT_TRUE(
        CGSizeEqualToSize(callRegistered<CGSize>(image.get(), SEL_(size), "{CGSize=dd}16@0:8"), CGSizeMake(2, 2)));

    UIGraphicsBeginImageContext(CGSizeMake(1, 1));
    CGContextSetInterpolationQuality(UIGraphicsGetCurrentContext(), kCGInterpolationNone);
    callRegistered<void>(image.get(), SEL_(drawInRect:blendMode:alpha:),
                         "v60@0:8{CGRect={CGPoint=dd}{CGSize=dd}}16i48d52", CGRectMake(0, 0, 1, 1), kCGBlendModeCopy,
                         CGFloat{1.0});
    EXPECT_EQ(pixelAt(UIGraphicsGetCurrentContext(), 0, 0), (Pixel{64, 128, 255, 255}));
    UIGraphicsEndImageContext();

    // Normal drawing at half alpha over a cleared pixel.
    UIGraphicsBeginImageContext(CGSizeMake(1, 1));
    objc_cast<UIImage>(image.get())->drawInRect_blendMode_alpha(CGRectMake(0, 0, 1, 1), kCGBlendModeNormal, 0.5);
    EXPECT_EQ(pixelAt(UIGraphicsGetCurrentContext(), 0, 0), (Pixel{32, 64, 128, 128}));
}

struct HSB {
    CGFloat r, g, b;
    CGFloat hue, saturation, brightness;
};

TEST(UIColorTest, HueSaturationAndBrightnessAsUIKitComputesThem) {
    const HSB cases[] = {
        {1, 0, 0, 0, 1, 1},
        {0, 1, 0, 1.0 / 3, 1, 1},
        {0, 0, 1, 2.0 / 3, 1, 1},
        {0.5, 0.5, 0.5, 0, 0, 0.5},
        {0, 0, 0, 0, 0, 0},
        {1, 0.5, 0.25, 1.0 / 18, 0.75, 1},
        {1, 0, 0.5, 11.0 / 12, 1, 1},  // a negative hexcone hue wraps round
        // Outside 0..1, the same formulas, unclamped.
        {2, 0, 0, 0, 1, 2},
        {1, -0.5, 0, 17.0 / 18, 1.5, 1},
    };
    for (const HSB& c : cases) {
        auto uiColor = color(c.r, c.g, c.b, 0.25);
        CGFloat h = -1, s = -1, v = -1, a = -1;
        BOOL ok = callRegistered<BOOL>(uiColor.get(), SEL_(getHue:saturation:brightness:alpha:),
                                       "B48@0:8^d16^d24^d32^d40", &h, &s, &v, &a);
        SCOPED_TRACE(testing::Message() << "rgb " << c.r << " " << c.g << " " << c.b);
        EXPECT_TRUE(ok);
        EXPECT_NEAR(h, c.hue, 1e-12);
        EXPECT_NEAR(s, c.saturation, 1e-12);
        EXPECT_NEAR(v, c.brightness, 1e-12);
        EXPECT_EQ(a, 0.25);
    }
    // A hue a hair below red must not come out as 1.0.
    CGFloat hue = -1;
    color(1, 0, 1e-17)->getHue_saturation_brightness_alpha(&hue, nullptr, nullptr, nullptr);
    EXPECT_GE(hue, 0.0);
    EXPECT_LT(hue, 1.0);
}

TEST(UIColorTest, KeepsItsComponentsAndComparesByThem) {
    auto made = Strong<NSObject>::adopt(objc_msgSend<id>(UIColor::objcClass(), SEL_(colorWithRed:green:blue:alpha:),
                                                         CGFloat{1.25}, CGFloat{0.5}, CGFloat{-0.25}, CGFloat{1.0}));
    ASSERT_TRUE(objc_cast<UIColor>(made.get()));
    EXPECT_EQ(objc_retainCount(made.get()), 1) << "the factory gives the caller its only reference";
    CGColorRef cgColor = callRegistered<CGColorRef>(made.get(), SEL_(CGColor), "^{CGColor=}16@0:8");
    ASSERT_EQ(CGColorGetNumberOfComponents(cgColor), 4u);
    const CGFloat* components = CGColorGetComponents(cgColor);
    EXPECT_EQ(std::vector<CGFloat>(components, components + 4), (std::vector<CGFloat>{1.25, 0.5, -0.25, 1.0}));
    CGFloat r, g, b, a;
    EXPECT_TRUE(
        callRegistered<BOOL>(made.get(), SEL_(getRed:green:blue:alpha:), "B48@0:8^d16^d24^d32^d40", &r, &g, &b, &a));
    EXPECT_EQ((std::vector<CGFloat>{r, g, b, a}), (std::vector<CGFloat>{1.25, 0.5, -0.25, 1.0}));

    auto same = color(1.25, 0.5, -0.25, 1.0);
    EXPECT_TRUE(made->isEqual(same));
    EXPECT_EQ(made->hash(), same->hash());
    EXPECT_FALSE(made->isEqual(color(1.25, 0.5, -0.25, 0.5)));
    EXPECT_EQ(color(0, 0, 0)->hash(), color(-0.0, 0, 0)->hash()) << "equal colours hash alike";
}

TEST(UIScreenTest, IsAnIPhone14AtThreePixelsPerPoint) {
    id screen = objc_msgSend<id>(UIScreen::objcClass(), SEL_(mainScreen));
    EXPECT_EQ(screen, UIScreen::mainScreen());
    EXPECT_EQ(objc_msgSend<CGFloat>(screen, SEL_(scale)), 3.0);
    EXPECT_TRUE(
        CGRectEqualToRect(callRegistered<CGRect>(screen, SEL_(bounds), "{CGRect={CGPoint=dd}{CGSize=dd}}16@0:8"),
                          CGRectMake(0, 0, 390, 844)));
}

TEST(UIViewTest, FrameAndBoundsFollowUIKit) {
    auto view = UIView::viewWithFrame(CGRectMake(10, 20, 30, 40));
    EXPECT_TRUE(CGRectEqualToRect(view->bounds(), CGRectMake(0, 0, 30, 40)));
    view->setBounds(CGRectMake(5, 5, 10, 20));  // keeps the centre (25, 40)
    EXPECT_TRUE(CGRectEqualToRect(view->frame(), CGRectMake(20, 30, 10, 20)));
    objc_msgSend<void>(view.get(), SEL_(setOpaque:), NO);
    EXPECT_FALSE(objc_msgSend<BOOL>(view.get(), SEL_(isOpaque)));
    EXPECT_TRUE(
        CGRectEqualToRect(callRegistered<CGRect>(view.get(), SEL_(bounds), "{CGRect={CGPoint=dd}{CGSize=dd}}16@0:8"),
                          CGRectMake(5, 5, 10, 20)));

    // Made the run-time's way, as a subclass would be.
    auto made = Strong<NSObject>::adopt(objc_msgSend<id>(objc_msgSend<id>(UIView::objcClass(), SEL_(alloc)),
                                                         SEL_(initWithFrame:), CGRectMake(0, 0, 2, 3)));
    ASSERT_TRUE(objc_cast<UIView>(made.get()));
    EXPECT_TRUE(objc_msgSend<BOOL>(made.get(), SEL_(isOpaque))) << "views start opaque";
    EXPECT_TRUE(CGRectEqualToRect(objc_cast<UIView>(made.get())->bounds(), CGRectMake(0, 0, 2, 3)));
}

TEST(UIViewTest, SubviewsMoveBetweenSuperviewsAndNeverFormACycle) {
    auto a = UIView::viewWithFrame(CGRectMake(0, 0, 10, 10));
    auto b = UIView::viewWithFrame(CGRectMake(0, 0, 5, 5));
    auto child = UIView::viewWithFrame(CGRectMake(1, 1, 1, 1));
    objc_msgSend<void>(a.get(), SEL_(addSubview:), child.get());
    EXPECT_EQ(child->superview(), a.get());
    b->addSubview(child);
    EXPECT_EQ(a->subviews()->count(), 0u);
    auto* lent = objc_cast<NSArray>(objc_msgSend<id>(b.get(), SEL_(subviews)));
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(lent->count(), 1u);
    EXPECT_EQ(lent->objectAtIndex(0), child.get());

    child->addSubview(b);  // b is child's ancestor
    child->addSubview(child);
    EXPECT_EQ(child->subviews()->count(), 0u);
    EXPECT_EQ(b->superview(), nullptr);

    b = nil;  // the superview goes; the child is left without one
    EXPECT_EQ(child->superview(), nullptr);
}

class SnapshotTest : public ImageContextTest {};

TEST_F(SnapshotTest, DrawsBackgroundThenContentsThenSubviewsAtTheirFrames) {
    // 4 x 4 points: red background; contents green in the top-left quarter, transparent elsewhere;
    // a blue subview over the bottom-right quarter.
    auto view = UIView::viewWithFrame(CGRectMake(100, 100, 4, 4));
    view->setBackgroundColor(color(1, 0, 0));
    view->setContents(makeImage(2, 2, {green, clear, clear, clear}));
    auto subview = UIView::viewWithFrame(CGRectMake(2, 2, 2, 2));
    subview->setBackgroundColor(color(0, 0, 1));
    view->addSubview(subview);

    UIGraphicsBeginImageContextWithOptions(view->bounds().size, NO, 3.0);
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGContextSetBlendMode(context, kCGBlendModeCopy);  // the caller's settings do not leak into the snapshot
    BOOL drawn = callRegistered<BOOL>(view.get(), SEL_(drawViewHierarchyInRect:afterScreenUpdates:),
                                      "B52@0:8{CGRect={CGPoint=dd}{CGSize=dd}}16B48", view->bounds(), NO);
    EXPECT_TRUE(drawn);
    EXPECT_EQ(CGContextGetInterpolationQuality(context), kCGInterpolationDefault);
    EXPECT_EQ(pixelAt(context, 0, 0), green);
    EXPECT_EQ(pixelAt(context, 1, 1), green);
    EXPECT_EQ(pixelAt(context, 11, 0), red);
    EXPECT_EQ(pixelAt(context, 0, 11), red);
    EXPECT_EQ(pixelAt(context, 6, 6), blue);
    EXPECT_EQ(pixelAt(context, 11, 11), blue);
    EXPECT_TRUE(CGAffineTransformEqualToTransform(CGContextGetCTM(context), CGAffineTransformMakeScale(3, 3)))
        << "the context's state is restored";
}

TEST_F(SnapshotTest, TheBoundsAreScaledIntoTheRectangle) {
    auto view = UIView::viewWithFrame(CGRectMake(0, 0, 8, 8));
    view->setBackgroundColor(color(0, 1, 0));
    UIGraphicsBeginImageContext(CGSizeMake(4, 2));
    CGContextRef context = UIGraphicsGetCurrentContext();
    EXPECT_TRUE(view->drawViewHierarchyInRect_afterScreenUpdates(CGRectMake(2, 0, 2, 2), NO));
    for (size_t x = 0; x < 4; ++x) {
        EXPECT_EQ(pixelAt(context, x, 0), x >= 2 ? green : clear) << x;
        EXPECT_EQ(pixelAt(context, x, 1), x >= 2 ? green : clear) << x;
    }
}

TEST_F(SnapshotTest, NoContextOrEmptyBoundsDrawNothing) {
    auto view = UIView::viewWithFrame(CGRectMake(0, 0, 4, 4));
    view->setBackgroundColor(color(1, 0, 0));
    EXPECT_FALSE(view->drawViewHierarchyInRect_afterScreenUpdates(view->bounds(), NO));

    UIGraphicsBeginImageContext(CGSizeMake(1, 1));
    auto empty = UIView::viewWithFrame(CGRectMake(0, 0, 0, 4));
    empty->setBackgroundColor(color(1, 0, 0));
    EXPECT_FALSE(empty->drawViewHierarchyInRect_afterScreenUpdates(CGRectMake(0, 0, 1, 1), NO));
    EXPECT_EQ(pixelAt(UIGraphicsGetCurrentContext(), 0, 0), clear);
}

TEST_F(SnapshotTest, ContentsMayChangeOnAnotherThreadWhileTheViewIsDrawn) {
    auto view = UIView::viewWithFrame(CGRectMake(0, 0, 1, 1));
    auto redImage = makeImage(1, 1, {red});
    auto blueImage = makeImage(1, 1, {blue});
    view->setContents(redImage);
    std::atomic<bool> stop{false};
    std::thread video([&] {
        for (int i = 0; !stop.load(); ++i) view->setContents(i % 2 ? redImage : blueImage);
    });
    int unexpected = 0;
    for (int i = 0; i < 300; ++i) {
        UIGraphicsBeginImageContext(CGSizeMake(1, 1));
        view->drawViewHierarchyInRect_afterScreenUpdates(CGRectMake(0, 0, 1, 1), NO);
        Pixel p = pixelAt(UIGraphicsGetCurrentContext(), 0, 0);
        unexpected += !(p == red || p == blue);
        UIGraphicsEndImageContext();
    }
    stop = true;
    video.join();
    EXPECT_EQ(unexpected, 0) << "every snapshot shows one whole frame";
    view->setContents(nullptr);
    EXPECT_FALSE(view->contents());
}

}  // namespace
