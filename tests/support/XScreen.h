// A private X screen for a test: Xvfb on a display number no other server uses, listening only on
// its unix socket (-nolisten tcp), stopped when the test ends; and solid-colour windows on it
// (xlogo with the same foreground and background colour). For tests and benchmarks; one thread.
#pragma once

#include <memory>
#include <string>

#include "Subprocess.h"

class XScreen {
public:
    // Whether Xvfb can be run here; tests skip when it cannot.
    static bool available();
    // Starts a `width` x `height` screen and waits for it to take connections; display() is empty
    // when it cannot.
    XScreen(int width, int height);
    ~XScreen();

    // ":N"; empty when the screen could not be started.
    const std::string& display() const { return display_; }
    // Shows a window filled with `colour` (an X colour name or "#rrggbb") at x,y, on top of the
    // others; it stays until closed or the screen stops.
    std::unique_ptr<BackgroundProcess> paint(const std::string& colour, int x, int y, int width, int height) const;
    // The X server's process (for its CPU time); -1 when none runs.
    pid_t serverPid() const { return server_ ? server_->pid() : -1; }
    // Ends the X server now, as a crash would (SIGKILL).
    void kill();

private:
    std::string display_;
    std::unique_ptr<BackgroundProcess> server_;
};
