// WaylandDesktop: a private GNOME Wayland desktop for a test, with no GPU: in a runtime directory
// of its own, a session bus (dbus-daemon), PipeWire with WirePlumber, mutter running headless on
// one virtual monitor, and the desktop portals (xdg-desktop-portal with its GNOME backend), which
// the bus starts when first asked. Never the machine's own: every one of them, and every process
// the test starts while the desktop is up, gets the private XDG_RUNTIME_DIR, HOME, XDG_*_HOME,
// bus address and Wayland display (the constructor puts them in this process's environment, the
// destructor takes them out again).
//
// The screen-share dialog is answered from the keyboard through mutter's RemoteDesktop API, once
// the dialog shows on the screen (read through mutter's own ScreenCast API): Tabs to the monitor
// and to Share, or Alt+F4, which closes it and so cancels.
//
// Test-thread only; one desktop at a time.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

class WaylandDesktop {
public:
    // "" when every program the desktop needs is installed, else what is missing (tests skip).
    static std::string missing();
    // Starts the desktop on a `width` x `height` monitor; failure() says why when it could not.
    WaylandDesktop(int width, int height);
    ~WaylandDesktop();
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    // Why the desktop could not start; "" when it is up.
    const std::string& failure() const { return failure_; }

    // A fullscreen window of `colour` ("#rrggbb") on top of the others; null when it did not show.
    std::unique_ptr<BackgroundProcess> paint(const std::string& colour);
    // The colour of the screen's pixel at x,y as "#rrggbb"; "" when the screen cannot be read.
    std::string pixelAt(int x, int y);
    // Waits for the screen-share dialog to show, then shares the screen it offers (or cancels);
    // false when no dialog showed in time.
    bool answerShareDialog(bool share);
    // mutter's process (for its CPU time); -1 when none runs.
    pid_t compositorPid() const;
    // Ends mutter at once, as a crash would.
    void killCompositor();

    // What the desktop's processes wrote, for a failing test to show.
    std::string logs() const;

private:
    bool start(int width, int height);
    std::unique_ptr<BackgroundProcess> launch(const std::string& name, const std::vector<std::string>& argv);
    bool sendKey(unsigned keysym, bool down);
    bool pressKeys(const std::vector<unsigned>& keysyms);

    int width_, height_;
    TempDirectory runtime_;
    std::string failure_;
    std::map<std::string, std::string> environment_;
    std::map<std::string, std::string> saved_;  // this process's values before, "\x01" for unset
    std::vector<std::pair<std::string, std::unique_ptr<BackgroundProcess>>> processes_;
    std::string dialogBackground_;
    struct Bus;
    std::unique_ptr<Bus> bus_;
};
