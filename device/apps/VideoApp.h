// A video app: a simulated browser or YouTube process that plays one video file in the system's
// full-screen player, as a user watching it would see it.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "../media/LiveSourceRequest.h"

namespace device {

struct VideoAppOptions {
    std::string bundleIdentifier;  // "com.apple.mobilesafari" or "com.google.ios.youtube"
    std::string videoPath;
    // A live source to play instead of the file (see runLiveVideoApp).
    std::optional<LiveSourceRequest> live;
    // Plays the video inline, in the page, as an embedded video plays: the full-screen player is
    // never presented, so only its display layer sees the video.
    bool inlinePlayback = false;
    // Shows the video as a player layer (AVPlayerLayer) does: the samples reach the display layer
    // without the enqueueSampleBuffer: message, so nothing that hooks that method sees them and
    // only the full-screen player's view carries the frames.
    bool playerLayer = false;
};

// Runs the app on the calling (main) thread: opens the file, presents the full-screen player when
// playback starts (unless inline), enqueues every video sample on the player's display layer when
// it is due, from a player thread of its own (PlaybackPacer: the video's real times, the frame
// rate where its timestamps fail, and samples it is too late to show marked not to be shown), and
// dismisses and releases the player at the end. SIGINT or SIGTERM end playback early. Returns 0
// when the video played, also when the file ended early (damage, a cut) -- a warning line then
// names the file and how far it played -- and 1 when the file cannot be played at all or the
// library cannot be loaded; says why on `err`.
// With a live source, runs runLiveVideoApp instead.
int runVideoApp(const VideoAppOptions& options, std::ostream& err);

// Exit statuses of a live source's app besides 0 (stopped, or the source ended) and 1 (the source
// cannot be opened or the library cannot be loaded: nothing was started).
constexpr int kLiveSourceLost = 2;  // the source went away or broke during the run

// Runs the app on a live source (media/LiveSource.h): opens the source before anything starts,
// presents the full-screen player, and from then on shows each frame as it is captured, from a
// reading thread and a player thread of its own: raw pictures straight into the player view (as a
// player layer does, past enqueueSampleBuffer:, so only the frame clock sees them), compressed
// samples enqueued on the display layer through the run-time (so both capture paths see them).
// Frames never queue (LiveFrameQueue): when the player falls behind, the oldest are dropped. Each
// frame's origin is its capture time. Runs until SIGINT or SIGTERM, or the source ends (0), or
// goes away (kLiveSourceLost, having said so on `err`). A stop signal ends it at once, also while
// the source waits for a frame that is seconds away: a reading thread still waiting inside the
// source then stays behind, holding the source, so the caller ends the process once this returns.
int runLiveVideoApp(const VideoAppOptions& options, std::ostream& err);

}  // namespace device
