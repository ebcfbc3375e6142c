// ScreenCastPortal: permission to read the screen, or one window, from the desktop's
// xdg-desktop-portal (org.freedesktop.portal.ScreenCast, over the D-Bus session bus): a session,
// the sources to share, the desktop's own dialog where the user approves, and a PipeWire remote
// that shows only the stream granted. The desktop may give a restore token: handed back on the
// next start, it lets that start share the same source without asking again.
//
// D-Bus through sd-bus (libsystemd): one connection of our own, no threads and no main loop of its
// own, so its descriptor joins the loop that reads the stream, and the session's Closed signal is
// seen there.
//
// One thread at a time. sd-bus stays in the .cc files.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "../base/StatusOr.h"

class ScreenCastPortal {
public:
    enum class Share { monitor, window };
    struct Options {
        Share share = Share::monitor;
        std::string restoreToken;  // from an earlier start; "" to ask
        // How long the user may take to answer the dialog.
        std::chrono::seconds patience = std::chrono::minutes(5);
    };

    // Runs the handshake (CreateSession, SelectSources, Start) up to the granted stream. While it
    // waits, SIGINT and SIGTERM end the wait (when the calling thread blocks them, as the video
    // app's does). An error says why: no session bus or no portal on it, a desktop that cannot
    // share windows, the dialog cancelled ("cancelled"), the request ended otherwise, no answer in
    // time, a stop signal.
    static device::StatusOr<std::unique_ptr<ScreenCastPortal>> start(const Options& options);
    // Closes the session (the desktop stops the stream).
    ~ScreenCastPortal();
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // The granted stream's PipeWire node and size (0 x 0 when the desktop did not say).
    uint32_t node() const;
    int width() const;
    int height() const;
    // The token that lets the next start share the same source silently; "" when none was given.
    const std::string& restoreToken() const;
    // A new connection to PipeWire that shows the granted stream (OpenPipeWireRemote); the caller
    // owns the descriptor. An error says why not.
    device::StatusOr<int> openPipeWireRemote();

    // The bus connection's descriptor, to watch for input.
    int busDescriptor() const;
    // Handles what has come on the bus: an error once the desktop closed the session.
    device::Status dispatch();

private:
    struct Impl;
    explicit ScreenCastPortal(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
