// The display layer decodes on a thread of its own: an enqueue only queues the sample, a flush
// waits for the queue and shows what the decoder held back, and a layer let go with samples still
// queued releases them.
#include <gtest/gtest.h>

#include <AVKit/AVPlayerViews.h>
#include <AVKit/AVSampleBufferDisplayLayer.h>
#include <CoreMedia/CoreMediaDevice.h>
#include <UIKit/UIGraphics.h>
#include <UIKit/UIView.h>

#include "VideoToolboxSupport.h"

namespace {

using namespace vt_test;

ClipSamples redThenBlue(const TempDirectory& dir, ClipCodec codec, const char* name) {
    ClipSettings settings;
    settings.codec = codec;
    settings.gop = 3;
    return readClip(writeClip(dir, name, "red*3,blue*3", settings));
}

TEST(DisplayLayer, AFlushShowsEverySampleInOrderOnTheView) {
    TempDirectory dir;
    for (auto [codec, name] : {std::pair{ClipCodec::h264, "clip.mp4"}, std::pair{ClipCodec::vp9, "clip.webm"}}) {
        SCOPED_TRACE(name);
        const ClipSamples clip = redThenBlue(dir, codec, name);
        ASSERT_EQ(clip.samples.size(), 6u);
        Strong<UIView> view = UIView::viewWithFrame(CGRectMake(0, 0, 16, 12));
        Strong<AVSampleBufferDisplayLayer> layer = makeObject<AVSampleBufferDisplayLayer>();
        layer->setDisplayView(view.get(), 32, 24);

        for (const SampleBufferHolder& sample : clip.samples) layer->enqueueSampleBuffer(sample);
        layer->flushDecoder();
        EXPECT_EQ(layer->enqueuedSampleCount(), 6);
        EXPECT_EQ(layer->shownFrameCount(), 6);
        EXPECT_EQ(layer->failedSampleCount(), 0);
        CGHandle<CGImageRef> shown = view->contents();
        ASSERT_TRUE(shown);
        EXPECT_EQ(CGImageGetWidth(shown.get()), 32u);
        EXPECT_EQ(CGImageGetHeight(shown.get()), 24u);
        EXPECT_TRUE(isFilledWith(shown.get(), {0, 0, 255})) << "the last sample is shown last";

        // The layer goes on after a flush, and a flush with nothing queued returns.
        layer->enqueueSampleBuffer(clip.samples[0]);
        layer->flushDecoder();
        layer->flushDecoder();
        EXPECT_EQ(layer->shownFrameCount(), 7);
        EXPECT_TRUE(isFilledWith(view->contents().get(), {255, 0, 0}));
        layer->setDisplayView(nullptr, 0, 0);
    }
}

TEST(DisplayLayer, SamplesMarkedNotToBeDisplayedAreDecodedButNotShown) {
    TempDirectory dir;
    const ClipSamples clip = redThenBlue(dir, ClipCodec::h264, "clip.mp4");
    ASSERT_EQ(clip.samples.size(), 6u);
    Strong<UIView> view = UIView::viewWithFrame(CGRectMake(0, 0, 16, 8));
    Strong<AVSampleBufferDisplayLayer> layer = makeObject<AVSampleBufferDisplayLayer>();
    layer->setDisplayView(view.get(), 16, 8);
    // Only the first and the last are to be shown; the last blue one needs the ones before it.
    for (size_t i = 0; i < clip.samples.size(); ++i) {
        CMSampleBufferSetDoNotDisplay(clip.samples[i].get(), i != 0 && i != 5);
        layer->enqueueSampleBuffer(clip.samples[i].get());
    }
    layer->flushDecoder();
    EXPECT_EQ(layer->shownFrameCount(), 2);
    EXPECT_EQ(layer->droppedFrameCount(), 4);
    EXPECT_EQ(layer->failedSampleCount(), 0);
    EXPECT_TRUE(isFilledWith(view->contents().get(), {0, 0, 255}));
    layer->setDisplayView(nullptr, 0, 0);
}

// The player's view shows each picture as large as fits, in its proportions, between black bars;
// its middle, where the frame clock's one-pixel sample lands, is always picture.
TEST(DisplayLayer, ThePlayerViewFitsPicturesBetweenBarsAndFollowsItsBounds) {
    TempDirectory dir;
    struct Case {
        const char* name;
        int width, height;
        size_t pictureWidth, pictureHeight;  // in the 844 x 390 point view at 3 pixels a point
        CGPoint bar;                         // a point in a bar
    };
    const Case cases[] = {{"4 by 3", 64, 48, 1560, 1170, CGPointMake(100, 195)},
                          {"21 by 9", 112, 48, 2532, 1085, CGPointMake(422, 5)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClipSettings settings{.width = c.width, .height = c.height, .gop = 1};
        const ClipSamples clip = readClip(writeClip(dir, std::string(c.name) + ".mp4", "orange*2", settings));
        Strong<AVPlayerLayerView> view = AVPlayerLayerView::viewWithFrame(CGRectMake(0, 0, 844, 390));
        view->displayLayer()->enqueueSampleBuffer(clip.samples[0]);
        view->displayLayer()->flushDecoder();
        CGHandle<CGImageRef> shown = view->contents();
        ASSERT_TRUE(shown);
        EXPECT_EQ(CGImageGetWidth(shown.get()), c.pictureWidth);
        EXPECT_EQ(CGImageGetHeight(shown.get()), c.pictureHeight);

        UIGraphicsBeginImageContextWithOptions(view->bounds().size, YES, 1.0);
        ASSERT_TRUE(view->drawViewHierarchyInRect_afterScreenUpdates(view->bounds(), NO));
        CGContextRef snapshot = UIGraphicsGetCurrentContext();
        auto pixel = [&](CGPoint at) {
            const auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(snapshot)) +
                                static_cast<size_t>(at.y) * CGBitmapContextGetBytesPerRow(snapshot) +
                                static_cast<size_t>(at.x) * 4;
            return Colour{bytes[2], bytes[1], bytes[0]};
        };
        const Colour middle = pixel(CGPointMake(422, 195)), bar = pixel(c.bar);
        UIGraphicsEndImageContext();
        EXPECT_NEAR(middle.red, 255, 6);  // orange: the picture
        EXPECT_NEAR(middle.green, 128, 12);
        EXPECT_NEAR(middle.blue, 0, 6);
        EXPECT_EQ(bar.red + bar.green + bar.blue, 0) << "black in the bar";

        // Turned upright: the next picture is made for the new bounds.
        view->setBounds(CGRectMake(0, 0, 390, 844));
        view->displayLayer()->enqueueSampleBuffer(clip.samples[1]);
        view->displayLayer()->flushDecoder();
        EXPECT_EQ(CGImageGetWidth(view->contents().get()), 1170u);
        EXPECT_EQ(CGImageGetHeight(view->contents().get()), c.width == 64 ? 878u : 501u);
    }
}

TEST(DisplayLayer, SamplesStillQueuedWhenTheLayerGoesAreReleased) {
    TempDirectory dir;
    const ClipSamples clip = redThenBlue(dir, ClipCodec::h264, "clip.mp4");
    ASSERT_EQ(clip.samples.size(), 6u);
    std::vector<CFIndex> before;
    for (const SampleBufferHolder& sample : clip.samples) before.push_back(CFGetRetainCount(sample.get()));
    {
        Strong<AVSampleBufferDisplayLayer> layer = makeObject<AVSampleBufferDisplayLayer>();
        for (int round = 0; round < 4; ++round)
            for (const SampleBufferHolder& sample : clip.samples) layer->enqueueSampleBuffer(sample);
        EXPECT_EQ(layer->enqueuedSampleCount(), 24);
    }
    for (size_t i = 0; i < clip.samples.size(); ++i)
        EXPECT_EQ(CFGetRetainCount(clip.samples[i].get()), before[i]) << "sample " << i;
}

TEST(DisplayLayer, ANullSampleIsCountedAndChangesNothing) {
    Strong<AVSampleBufferDisplayLayer> layer = makeObject<AVSampleBufferDisplayLayer>();
    layer->enqueueSampleBuffer(nullptr);
    layer->flushDecoder();
    EXPECT_EQ(layer->enqueuedSampleCount(), 1);
    EXPECT_EQ(layer->shownFrameCount(), 0);
    EXPECT_EQ(layer->failedSampleCount(), 0);
}

}  // namespace
