// ScreenCastReader: the live source of a screen shared over PipeWire, by the desktop's
// ScreenCast portal (a Wayland desktop's screen or window) or named as a PipeWire node. Each
// picture is copied out of the producer's shared memory, as it comes, into a picture of our own.
//
// A compositor sends a picture only when the screen changes, so on a still screen read() waits:
// the player view keeps showing the last picture, and the lights its colour, until the screen
// changes. Repeating the last picture would only copy the same pixels again and stamp them with a
// capture time they do not have.
//
// The portal's restore token is kept in the device directory (screencast-monitor.token,
// screencast-window.token), so that only the first share asks.
//
// One reading thread; interrupt() from any.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "../base/StatusOr.h"
#include "LiveSourceRequest.h"

struct AVFrame;
class PipeWireStream;
class ScreenCastPortal;

class ScreenCastReader {
public:
    // Asks the portal (kind portal) or finds the node (kind pipewire) and agrees on a format. An
    // error says why not, in the words of ScreenCastPortal and PipeWireStream.
    static device::StatusOr<std::unique_ptr<ScreenCastReader>> open(const LiveSourceRequest& request);
    ~ScreenCastReader();

    enum class Result { picture, failed, interrupted };
    // Waits for the screen to change; `picture` puts the picture in `*picture` (the caller frees it)
    // and its capture time in `*captureNanos`. `failed`: the stream or the session ended, `*why` says
    // how.
    Result read(AVFrame** picture, uint64_t* captureNanos, device::Status* why);
    void interrupt();

    int width() const;
    int height() const;
    double frameRate() const;

    // Where the restore token of a share of `target` ("monitor", "window") is kept.
    static std::string restoreTokenPath(const std::string& target);

private:
    ScreenCastReader();
    struct Pictures;
    std::unique_ptr<ScreenCastPortal> portal_;  // outlives the stream, which reads its session
    std::unique_ptr<Pictures> pictures_;
    std::unique_ptr<PipeWireStream> stream_;
};
