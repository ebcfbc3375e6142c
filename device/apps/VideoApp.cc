#include "VideoApp.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <AVKit/AVFullScreenViewController.h>
#include <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include "ColourDelivery.h"
#include "SimulatedProcess.h"
#include "activity/FrameOrigin.h"
#include "media/VideoFileReader.h"

namespace device {

namespace {

// Ends the player thread's waits early when playback is stopped.
class StopSignal {
public:
    void stop() {
        std::lock_guard hold(lock_);
        stopped_ = true;
        changed_.notify_all();
    }
    bool stopped() {
        std::lock_guard hold(lock_);
        return stopped_;
    }
    // Waits until `when` or a stop; returns false when stopped.
    bool waitUntil(std::chrono::steady_clock::time_point when) {
        std::unique_lock hold(lock_);
        changed_.wait_until(hold, when, [&] { return stopped_; });
        return !stopped_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopped_ = false;
};

struct PlaybackResult {
    long samples = 0;
    double seconds = 0;
};

// The player thread: enqueues each sample at its presentation time. Samples come in decode
// order; one that is due already (a reordered frame) goes at once.
PlaybackResult play(VideoFileReader& reader, AVSampleBufferDisplayLayer* layer, bool playerLayer, StopSignal& stop) {
    PlaybackResult result;
    auto start = std::chrono::steady_clock::now();
    bool haveOrigin = false;
    double origin = 0;
    while (!stop.stopped()) {
        SampleBufferHolder sample = reader.nextSample();
        if (!sample) break;
        CMTime pts = CMSampleBufferGetPresentationTimeStamp(sample.get());
        if (CMTIME_IS_VALID(pts)) {
            double seconds = CMTimeGetSeconds(pts);
            if (!haveOrigin) origin = seconds, haveOrigin = true;
            auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(seconds - origin));
            if (!stop.waitUntil(due)) break;
        }
        FrameOriginScope origin({monotonicNanos(), CallKind::none});  // the sample's frame enters
        if (playerLayer)
            layer->enqueueSampleBuffer(sample.get());  // straight to the pictures, past any hook
        else  // through the run-time, as an app calls it, so that whatever hooks the method runs too
            objc_msgSend<void>(layer, SEL_(enqueueSampleBuffer:), sample.get());
        ++result.samples;
    }
    layer->flushDecoder();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

void sendAppearance(id controller, SEL selector) { objc_msgSend<void>(controller, selector, YES); }

}  // namespace

int runVideoApp(const VideoAppOptions& options, std::ostream& err) {
    std::string error;
    std::unique_ptr<VideoFileReader> reader = VideoFileReader::open(options.videoPath, &error);
    if (!reader) {
        err << "glimmora play: " << error << "\n";
        return 1;
    }
    if (!prepareProcess(options.bundleIdentifier, &error)) {
        err << "glimmora play: " << error << "\n";
        return 1;
    }

    // Made through the run-time, as UIKit makes it, so that the library's additions apply.
    auto* player = static_cast<AVFullScreenViewController*>(
        objc_msgSend<id>(AVFullScreenViewController::objcClass(), SEL_(new)));
    AVSampleBufferDisplayLayer* layer = player->playerLayerView()->displayLayer();
    Strong<AVSampleBufferDisplayLayer> heldLayer(layer);

    warnWhenNoHomeScreen(err);
    CMVideoDimensions size = reader->dimensions();
    err << "glimmora play: " << options.bundleIdentifier << " (pid " << getpid() << ") playing " << options.videoPath
        << " (" << size.width << "x" << size.height << ", " << reader->frameRate() << " fps); SIGINT or SIGTERM ends it"
        << std::endl;

    // The player is presented when playback starts, and dismissed and let go when it ends.
    if (!options.inlinePlayback)
        dispatch_async(dispatch_get_main_queue(), makeBlock([player] { sendAppearance(player, SEL_(viewDidAppear:)); }));
    StopSignal stop;
    PlaybackResult result;
    std::thread playerThread([&] {
        result = play(*reader, layer, options.playerLayer, stop);
        dispatch_async(dispatch_get_main_queue(), makeBlock([] { NSRunLoop::mainRunLoop()->stop(); }));
    });

    NSRunLoop::mainRunLoop()->run();
    stop.stop();
    playerThread.join();
    if (!options.inlinePlayback) {
        sendAppearance(player, SEL_(viewWillDisappear:));
        sendAppearance(player, SEL_(viewDidDisappear:));
    }
    objc_release(player);

    err << "glimmora play: enqueued " << result.samples << " samples, showed " << layer->shownFrameCount()
        << " frames in " << result.seconds << " s";
    if (layer->failedSampleCount() > 0) err << "; " << layer->failedSampleCount() << " samples could not be decoded";
    if (!reader->readError().empty()) err << "; stopped early: " << reader->readError();
    err << std::endl;
    reportColourDelivery(err);
    return 0;
}

}  // namespace device
