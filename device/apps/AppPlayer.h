// The full-screen player of a video app, as both the file and the live form of the app use it: the
// process prepared as the app, the player made through the run-time as UIKit makes it (so that the
// library's additions apply), presented while the main run loop runs, dismissed and let go after.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "../AVKit/AVFullScreenViewController.h"

namespace device {

class AppPlayer {
public:
    // Prepares this process as the app `bundleIdentifier` (see prepareProcess) and makes the player,
    // warning on `err` when no home screen serves the device. nullptr, having said why on `err`, when
    // the library cannot be loaded. Main thread only, as everything here but endPlayback.
    static std::unique_ptr<AppPlayer> open(const std::string& bundleIdentifier, std::ostream& err);
    AppPlayer(const AppPlayer&) = delete;
    AppPlayer& operator=(const AppPlayer&) = delete;

    // Held until this is destroyed, so that what it counted can be read after close().
    AVSampleBufferDisplayLayer* layer() const { return layer_.get(); }
    // Presents the player as soon as the main run loop runs; an inline video leaves it out.
    void present();
    // Runs the main run loop until endPlayback() or a stop signal.
    void runUntilPlaybackEnds();
    // From any thread: playback is over, so the main run loop stops.
    static void endPlayback();
    // Dismisses the player, when it was presented, and lets it go.
    void close();

private:
    explicit AppPlayer(AVFullScreenViewController* player);

    AVFullScreenViewController* player_;  // owned until close()
    Strong<AVSampleBufferDisplayLayer> layer_;
    bool presented_ = false;
};

}  // namespace device
