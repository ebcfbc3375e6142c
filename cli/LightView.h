// The live light view: the device's lights as they change, for `glimmora lights` and the demo.
//
// On a terminal it draws a table in place, several times a second: a row per light with a
// swatch in the light's real colour (24-bit colour), its room, power, brightness, saturation and
// hue, and above it the last colour the home screen received. Each refresh is written in one
// piece over the last one, so it does not flicker. Elsewhere (a pipe, a file) it prints a plain
// progress line at most once a second instead.
//
// One thread only.
#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

namespace device {
class HomeLightsReader;
}

class LightView {
public:
    // `terminal` chooses the drawing; `title` heads it.
    LightView(std::ostream& out, bool terminal, std::string title);
    // Leaves the cursor below the last drawing and shows it again.
    ~LightView();
    LightView(const LightView&) = delete;
    LightView& operator=(const LightView&) = delete;

    // Reads the device's lights and the last colour received and shows them; `status` is a line
    // of the caller's (what is running) shown with them.
    void refresh(const std::string& status);

private:
    std::ostream& out_;
    const bool terminal_;
    const std::string title_;
    int linesDrawn_ = 0;
    std::chrono::steady_clock::time_point lastPlainLine_{};
    std::string lastPlain_;
    std::unique_ptr<device::HomeLightsReader> lights_;
};
