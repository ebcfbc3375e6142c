// The video app on a live source (see runLiveVideoApp in VideoApp.h).
#include <pthread.h>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <thread>

#include "../CoreMedia/CoreMediaDevice.h"
#include "../Foundation/Foundation.h"

#include "../activity/FrameOrigin.h"
#include "AppPlayer.h"
#include "ColourDelivery.h"
#include "LiveFrameQueue.h"
#include "VideoApp.h"

namespace device {

namespace {

// How long a stopping app waits for the reading thread to see the interrupt. A source may wait for
// its next frame where interrupt() does not reach (x11grab sleeps until the frame is due, which at
// a low rate is seconds away; a capture device waits in the kernel): the app then ends without it.
constexpr auto kReaderPatience = std::chrono::milliseconds(50);

// The source, its queue and what was read: shared by the app and its reading thread, which may be
// left behind when the app ends.
struct LiveReading {
    std::unique_ptr<LiveSource> source;
    LiveFrameQueue queue;
    std::atomic<long> frames{0};  // taken from the source
    LiveSource::Read end;         // under `lock`, once `finished`
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;

    // The reading thread: every frame the source gives goes to the queue, as soon as it is read.
    void run() {
        LiveFrame frame;
        LiveSource::Read read;
        while ((read = source->read(&frame)).kind == LiveSource::Read::frame) {
            ++frames;
            queue.push(std::move(frame));
        }
        queue.close();
        std::lock_guard hold(lock);
        end = std::move(read);
        finished = true;
        changed.notify_all();
    }
    // How reading ended, once it has within `patience`; else nullopt.
    std::optional<LiveSource::Read> waitForEnd(std::chrono::milliseconds patience) {
        std::unique_lock hold(lock);
        if (!changed.wait_for(hold, patience, [&] { return finished; })) return std::nullopt;
        return end;
    }
};

// The player thread: shows the newest of what waits; older samples still go to the decoder, marked
// not to be shown, since the newest may need them. Counts the frames handed to the layer in `shown`.
void showFrames(LiveFrameQueue& queue, AVSampleBufferDisplayLayer* layer, long& shown) {
    for (std::vector<LiveFrame> frames = queue.take(); !frames.empty(); frames = queue.take()) {
        for (size_t i = 0; i < frames.size(); ++i) {
            LiveFrame& frame = frames[i];
            const bool newest = i + 1 == frames.size();
            if (frame.picture) {
                if (newest) layer->showPicture(frame.picture->view(), frame.captureNanos);
            } else {
                CMSampleBufferSetDoNotDisplay(frame.sample.get(), !newest);
                FrameOriginScope origin({frame.captureNanos, CallKind::none});  // the frame entered when captured
                objc_msgSend<void>(layer, SEL_(enqueueSampleBuffer:), frame.sample.get());
            }
            if (newest) ++shown;
        }
    }
}

}  // namespace

int runLiveVideoApp(const VideoAppOptions& options, std::ostream& err) {
    // Opening a source may start threads (a filter graph's), which must not take the stop signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    StatusOr<std::unique_ptr<LiveSource>> opened = LiveSource::open(*options.live);
    if (!opened.ok()) {
        err << "glimmora play: " << opened.status().message() << "\n";
        return 1;
    }
    auto reading = std::make_shared<LiveReading>();
    reading->source = *std::move(opened);
    LiveSource* source = reading->source.get();
    std::unique_ptr<AppPlayer> player = AppPlayer::open(options.bundleIdentifier, err);
    if (!player) return 1;
    AVSampleBufferDisplayLayer* layer = player->layer();
    layer->setEnqueuedOriginsAreCaptureTimes(true);

    err << "glimmora play: " << options.bundleIdentifier << " (pid " << getpid() << ") showing " << source->name()
        << " live (" << source->width() << "x" << source->height() << ", " << source->frameRate() << " fps, "
        << (source->compressed() ? "compressed samples" : "raw pictures") << "); SIGINT or SIGTERM ends it"
        << std::endl;

    player->present();
    LiveFrameQueue& queue = reading->queue;
    long shown = 0;
    const auto started = std::chrono::steady_clock::now();
    // Named, so that what each costs can be told apart (/proc/PID/task/*/comm).
    std::thread reader([reading] {
        pthread_setname_np(pthread_self(), "live-grab");
        reading->run();
    });
    std::thread shower([&] {
        pthread_setname_np(pthread_self(), "live-show");
        showFrames(queue, layer, shown);
        // The source ended or went away: so does the app.
        AppPlayer::endPlayback();
    });

    player->runUntilPlaybackEnds();
    source->interrupt();
    queue.close();
    const std::optional<LiveSource::Read> end = reading->waitForEnd(kReaderPatience);
    if (end)
        reader.join();
    else
        reader.detach();  // still waiting inside the source; it holds what it uses
    shower.join();
    if (source->compressed()) layer->flushDecoder();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    player->close();

    err << "glimmora play: took " << reading->frames << " frames from " << source->name() << " in " << seconds
        << " s, showed " << shown << ", dropped " << queue.dropped() << " as newer ones came";
    if (layer->failedSampleCount() > 0) err << "; " << layer->failedSampleCount() << " samples could not be decoded";
    err << std::endl;
    int status = 0;
    if (end && end->kind == LiveSource::Read::failed) {
        err << "glimmora play: the source went away: " << end->status.message() << std::endl;
        status = kLiveSourceLost;
    } else if (end && end->kind == LiveSource::Read::ended) {
        err << "glimmora play: " << source->name() << " ended" << std::endl;
    }
    reportColourDelivery(err);
    return status;
}

}  // namespace device
