// Live sources below the app: how `--live` text is read, what the hand-over to the player keeps
// when the player falls behind, frames read from a filter graph, and a live picture in the player.
#include <time.h>
#include <algorithm>
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <AVKit/AVPlayerViews.h>
#include <UIKit/UIGraphics.h>
#include <activity/FrameOrigin.h>
#include <apps/LiveFrameQueue.h>
#include <media/FrameConverter.h>
#include <media/LiveSource.h>
#include <media/LiveSourceRequest.h>

#include "VideoToolboxSupport.h"
#include "support/StatusAssertions.h"

namespace {

using ::testing::HasSubstr;

TEST(LiveSourceRequest, ReadsEachKindWithItsOptionsAndRefusesWhatDoesNotFit) {
    auto region = parseLiveSource("x11::1.0+100,50", "640x360", "", 60);
    ASSERT_TRUE(succeeded(region));
    EXPECT_EQ(region->kind, LiveSourceRequest::Kind::x11);
    EXPECT_EQ(region->target, ":1.0");
    EXPECT_EQ(region->x, 100);
    EXPECT_EQ(region->y, 50);
    EXPECT_EQ(region->region, (PixelSize{640, 360}));
    EXPECT_EQ(region->frameRate, 60);
    EXPECT_EQ(region->name(), "x11::1.0+100,50 (640x360)");

    auto camera = parseLiveSource("v4l2:/dev/video0", "", "1280x720", 30);
    ASSERT_TRUE(succeeded(camera));
    EXPECT_EQ(camera->inputSize, (PixelSize{1280, 720}));
    // The graph is the rest of the text, colons and all.
    auto graph = parseLiveSource("lavfi:color=c=red:s=64x48", "", "", std::nullopt);
    ASSERT_TRUE(succeeded(graph));
    EXPECT_EQ(graph->target, "color=c=red:s=64x48");
    // "portal" alone shares a monitor; a Wayland screen takes a rate as the most to send.
    auto screen = parseLiveSource("portal", "", "", 30);
    ASSERT_TRUE(succeeded(screen));
    EXPECT_EQ(screen->kind, LiveSourceRequest::Kind::portal);
    EXPECT_EQ(screen->name(), "portal:monitor");
    EXPECT_EQ(screen->frameRate, 30);
    auto node = parseLiveSource("pipewire:gnome-screen-cast", "", "", std::nullopt);
    ASSERT_TRUE(succeeded(node));
    EXPECT_EQ(node->kind, LiveSourceRequest::Kind::pipewire);
    EXPECT_EQ(node->target, "gnome-screen-cast");

    const std::optional<double> none;
    const struct {
        const char *text, *size, *inputSize;
        std::optional<double> rate;
        const char* why;
    } refused[] = {
        {"x11::0+10", "", "", none, "is not X,Y"},
        {"x11::0+-1,0", "", "", none, "is not X,Y"},
        {"x11::0+20000,0", "", "", none, "\"20000,0\" is too large"},
        {"x11:", "", "", none, "names no display"},
        {"x11::0", "0x10", "", none, "is not WxH"},
        {"x11::0", "20000x20000", "", none, "--size \"20000x20000\" is too large"},
        {"v4l2:/dev/video0", "", "1280x9999999999", none, "\"1280x9999999999\" is too large"},
        // A rate given as 0 is refused like any other out of range; it never means "the default".
        {"x11::0", "", "", -5, "--framerate -5 is out of range"},
        {"x11::0", "", "", 0, "--framerate 0 is out of range"},
        {"x11::0", "", "", 1e-9, "--framerate 1e-09 is out of range: it is 0.1 to 1000"},
        {"v4l2:/dev/video0", "", "", 0.05, "--framerate 0.05 is out of range"},
        {"x11::0", "", "64x48", none, "--input-size applies only to v4l2"},
        {"lavfi:color", "", "", 30, "does not apply to lavfi"},
        {"/dev/video0", "", "", none, "expected x11:DISPLAY"},
        {"portal:region", "", "", none, "shares a \"monitor\" or a \"window\""},
        {"portal:monitor", "64x48", "", none, "--size picks a screen region"},
        {"pipewire:", "", "", none, "names no display, device, graph or node"},
    };
    for (const auto& c : refused) {
        const device::Status status = parseLiveSource(c.text, c.size, c.inputSize, c.rate).status();
        EXPECT_FALSE(status.ok()) << c.text;
        EXPECT_THAT(status.message(), HasSubstr(c.why)) << c.text;
        EXPECT_THAT(status.message(), HasSubstr(c.text)) << "the message names the source";
    }
    EXPECT_TRUE(succeeded(parseLiveSource("x11::0", "16384x16384", "", 0.1)));

    // "x11:$DISPLAY" in a shell without DISPLAY: the message says why the display is missing.
    const char* saved = std::getenv("DISPLAY");
    const std::string display = saved ? saved : "";
    unsetenv("DISPLAY");
    EXPECT_THAT(parseLiveSource("x11:", "", "", none).status().message(), HasSubstr("DISPLAY is unset"));
    setenv("DISPLAY", ":7", 1);
    const device::Status noDisplay = parseLiveSource("x11:", "", "", none).status();
    EXPECT_FALSE(noDisplay.ok());
    EXPECT_THAT(noDisplay.message(), ::testing::Not(HasSubstr("DISPLAY")));
    if (saved)
        setenv("DISPLAY", display.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

LiveFrame sampleFrame(uint64_t when, bool keyFrame) {
    LiveFrame frame;
    frame.captureNanos = when;
    frame.keyFrame = keyFrame;
    return frame;
}

std::vector<uint64_t> times(const std::vector<LiveFrame>& frames) {
    std::vector<uint64_t> result;
    for (const LiveFrame& frame : frames) result.push_back(frame.captureNanos);
    return result;
}

TEST(LiveFrameQueue, KeepsOnlyWhatTheNewestFrameNeeds) {
    LiveFrameQueue queue(3);
    // A keyframe makes everything before it unneeded; the frames after it need it.
    for (uint64_t t : {1, 2}) queue.push(sampleFrame(t, false));
    queue.push(sampleFrame(3, true));
    queue.push(sampleFrame(4, false));
    EXPECT_THAT(times(queue.take()), ::testing::ElementsAre(3, 4));
    EXPECT_EQ(queue.dropped(), 2);

    // Too many frames behind: all go, and so does everything up to the next keyframe.
    for (uint64_t t : {5, 6, 7, 8, 9}) queue.push(sampleFrame(t, false));
    queue.push(sampleFrame(10, true));
    EXPECT_THAT(times(queue.take()), ::testing::ElementsAre(10));
    EXPECT_EQ(queue.dropped(), 2 + 5);

    // Closed: what waits still comes out, then nothing, at once.
    queue.push(sampleFrame(11, true));
    queue.close();
    queue.push(sampleFrame(12, true));
    EXPECT_THAT(times(queue.take()), ::testing::ElementsAre(11));
    EXPECT_TRUE(queue.take().empty());
}

TEST(LiveSource, AFilterGraphGivesItsPicturesAtItsOwnPaceStampedWhenTheyCame) {
    auto request = parseLiveSource("lavfi:color=c=0x3040e0:s=64x48:r=20:d=0.5", "", "", std::nullopt);
    ASSERT_TRUE(succeeded(request));
    auto source = expectValue(LiveSource::open(*request));
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->compressed());
    EXPECT_EQ(source->width(), 64);
    EXPECT_EQ(source->height(), 48);
    EXPECT_DOUBLE_EQ(source->frameRate(), 20);

    const uint64_t start = device::monotonicNanos();
    LiveFrame frame;
    std::vector<uint64_t> stamps;
    LiveSource::Read read;
    FrameConverter converter;
    BgraImage image;
    while ((read = source->read(&frame)).kind == LiveSource::Read::frame) {
        ASSERT_TRUE(frame.picture);
        const DecodedFrame picture = frame.picture->view();
        EXPECT_EQ(picture.width(), 64);
        ASSERT_EQ(converter.convert(picture, &image), 0);
        const uint8_t* middle = image.pixels.data() + 24 * image.bytesPerRow + 32 * 4;  // B, G, R
        EXPECT_NEAR(middle[0], 0xe0, 3);
        EXPECT_NEAR(middle[1], 0x40, 3);
        EXPECT_NEAR(middle[2], 0x30, 3);
        stamps.push_back(frame.captureNanos);
    }
    EXPECT_EQ(read.kind, LiveSource::Read::ended) << read.status.message();
    ASSERT_EQ(stamps.size(), 10u);
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
    // Paced: the last of ten frames at 20 a second comes at least 0.45 s after the start.
    EXPECT_GE(stamps.back() - start, 400'000'000u);
}

// A live picture is in the player view as soon as it is shown, scaled to the view, and whatever
// snapshots the view at a later tick serves the frame captured then, not the tick.
TEST(LiveSource, APictureShownGoesIntoThePlayerViewWithItsCaptureTime) {
    // Packed B,G,R,x as a grabbed screen comes, and YUV as a filter graph's colour comes.
    for (const char* graph : {"lavfi:color=c=0x3040e0:s=64x48,format=bgr0", "lavfi:color=c=0x3040e0:s=64x48"}) {
        SCOPED_TRACE(graph);
        auto source = expectValue(LiveSource::open(*parseLiveSource(graph, "", "", std::nullopt)));
        ASSERT_TRUE(source);
        LiveFrame frame;
        ASSERT_EQ(source->read(&frame).kind, LiveSource::Read::frame);

        Strong<AVPlayerLayerView> view = AVPlayerLayerView::viewWithFrame(CGRectMake(0, 0, 844, 390));
        view->displayLayer()->showPicture(frame.picture->view(), frame.captureNanos);
        EXPECT_EQ(view->displayLayer()->shownFrameCount(), 1);
        CGHandle<CGImageRef> shown = view->contents();
        ASSERT_TRUE(shown);
        EXPECT_EQ(CGImageGetWidth(shown.get()), 1560u);  // 4:3 in the 2532 x 1170 pixel view
        EXPECT_EQ(CGImageGetHeight(shown.get()), 1170u);
        EXPECT_TRUE(vt_test::isFilledWith(shown.get(), {0x30, 0x40, 0xe0}, 3));

        auto snapshot = [&] {
            UIGraphicsBeginImageContextWithOptions(view->bounds().size, YES, 1.0);
            EXPECT_TRUE(view->drawViewHierarchyInRect_afterScreenUpdates(view->bounds(), NO));
            UIGraphicsEndImageContext();
        };
        {
            device::FrameOriginScope tick({device::monotonicNanos(), device::CallKind::none});
            snapshot();
            EXPECT_EQ(device::currentFrameOrigin().nanos, frame.captureNanos);
        }
        snapshot();  // outside any frame's work: no origin is made up
        EXPECT_EQ(device::currentFrameOrigin().nanos, 0u);
    }
}

// Waiting for a frame that is late costs no CPU (no busy loop), and interrupt() ends the wait.
TEST(LiveSource, AWaitingReadSleepsUntilInterrupted) {
    auto source =
        expectValue(LiveSource::open(*parseLiveSource("lavfi:color=c=red:s=16x16:r=0.2", "", "", std::nullopt)));
    ASSERT_TRUE(source);
    LiveFrame frame;
    ASSERT_EQ(source->read(&frame).kind, LiveSource::Read::frame);  // the first comes at once, the next in 5 s
    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        source->interrupt();
    });
    auto threadCpu = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    };
    const double before = threadCpu();
    EXPECT_EQ(source->read(&frame).kind, LiveSource::Read::interrupted);
    EXPECT_LT(threadCpu() - before, 0.1) << "half a second of waiting";
    interrupter.join();
}

}  // namespace
