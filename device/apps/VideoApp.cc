#include "VideoApp.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "../CoreMedia/CoreMediaDevice.h"
#include "../Foundation/Foundation.h"

#include "../activity/FrameOrigin.h"
#include "../media/VideoFileReader.h"
#include "AppPlayer.h"
#include "ColourDelivery.h"
#include "PlaybackPacer.h"

namespace device {

namespace {

// The playback clock: steady time since playback started. Its waits end early when playback is
// stopped.
class StopSignal : public PlaybackClock {
public:
    void stop() {
        std::lock_guard hold(lock_);
        stopped_ = true;
        changed_.notify_all();
    }
    double now() override { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
    bool waitUntil(double seconds) override {
        auto when = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
        std::unique_lock hold(lock_);
        changed_.wait_until(hold, when, [&] { return stopped_; });
        return !stopped_;
    }

private:
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopped_ = false;
};

struct PlaybackResult {
    PacedPlayback paced;
    double seconds = 0;
};

// The player thread: hands each sample to the layer when it is due, marking those it is too late
// to show (see PlaybackPacer).
PlaybackResult play(VideoFileReader& reader, AVSampleBufferDisplayLayer* layer, bool playerLayer, StopSignal& clock) {
    PlaybackResult result;
    result.paced = pacePlayback([&] { return reader.nextSample(); }, reader.frameRate(), clock,
                                [&](CMSampleBufferRef sample, bool show) {
                                    CMSampleBufferSetDoNotDisplay(sample, !show);
                                    FrameOriginScope origin({monotonicNanos(), CallKind::none});  // the frame enters
                                    if (playerLayer)
                                        layer->enqueueSampleBuffer(sample);  // straight to the pictures, past any hook
                                    else  // through the run-time, as an app calls it, so whatever hooks it runs too
                                        objc_msgSend<void>(layer, SEL_(enqueueSampleBuffer:), sample);
                                });
    layer->flushDecoder();
    result.seconds = clock.now();
    return result;
}

// Why playback ended before the end the file declares ("FILE ended early: played 1.2 s of 3.0 s"),
// or empty when it played to the end, or was stopped.
std::string endedEarlyWarning(const VideoFileReader& reader, const PacedPlayback& paced) {
    if (paced.stopped) return {};
    const double frame = reader.frameRate() > 0 ? 1.0 / reader.frameRate() : 1.0 / 30;
    const double played = paced.samples > 0 ? paced.end + frame : 0;
    const double length = CMTIME_IS_VALID(reader.duration()) ? CMTimeGetSeconds(reader.duration()) : NAN;
    // A few frames short is how containers round their length, not a cut.
    const bool cut = std::isfinite(length) && length - played > std::max(3 * frame, 0.1);
    if (!cut && reader.readStatus().ok()) return {};
    char text[160];
    if (std::isfinite(length))
        std::snprintf(text, sizeof text, "played %.2f s of %.2f s", played, length);
    else
        std::snprintf(text, sizeof text, "played %.2f s", played);
    std::string warning = reader.path() + " ended early: " + text;
    if (!reader.readStatus().ok()) warning += " (" + reader.readStatus().message() + ")";
    return warning;
}

}  // namespace

int runVideoApp(const VideoAppOptions& options, std::ostream& err) {
    if (options.live) return runLiveVideoApp(options, err);
    StatusOr<std::unique_ptr<VideoFileReader>> opened = VideoFileReader::open(options.videoPath);
    if (!opened.ok()) {
        err << "glimmora play: " << opened.status().message() << "\n";
        return 1;
    }
    std::unique_ptr<VideoFileReader> reader = *std::move(opened);
    std::unique_ptr<AppPlayer> player = AppPlayer::open(options.bundleIdentifier, err);
    if (!player) return 1;
    AVSampleBufferDisplayLayer* layer = player->layer();

    CMVideoDimensions size = reader->dimensions();
    err << "glimmora play: " << options.bundleIdentifier << " (pid " << getpid() << ") playing " << options.videoPath
        << " (" << size.width << "x" << size.height << ", " << reader->frameRate() << " fps); SIGINT or SIGTERM ends it"
        << std::endl;

    // The player is presented when playback starts, and dismissed and let go when it ends.
    if (!options.inlinePlayback) player->present();
    StopSignal stop;
    PlaybackResult result;
    std::thread playerThread([&] {
        result = play(*reader, layer, options.playerLayer, stop);
        AppPlayer::endPlayback();
    });

    player->runUntilPlaybackEnds();
    stop.stop();
    playerThread.join();
    player->close();

    err << "glimmora play: enqueued " << result.paced.samples << " samples, showed " << layer->shownFrameCount()
        << " frames in " << result.seconds << " s";
    if (layer->failedSampleCount() > 0) err << "; " << layer->failedSampleCount() << " samples could not be decoded";
    if (layer->droppedFrameCount() > 0) err << "; " << layer->droppedFrameCount() << " frames dropped as too late";
    if (!reader->readStatus().ok()) err << "; stopped early: " << reader->readStatus().message();
    err << std::endl;
    // The video did play, so the status stays 0; the warning says it was not all there.
    if (std::string warning = endedEarlyWarning(*reader, result.paced); !warning.empty())
        err << "glimmora play: warning: " << warning << std::endl;
    reportColourDelivery(err);
    return 0;
}

}  // namespace device
