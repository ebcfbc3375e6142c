#include "LightView.h"

#include "LightColours.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/PrintableText.h>
#include <activity/ProcessActivity.h>
#include <apps/HomeLights.h>

namespace {

using device::printable;

constexpr const char* kReset = "\x1b[0m";
constexpr const char* kDim = "\x1b[2m";
constexpr const char* kBold = "\x1b[1m";
constexpr const char* kClearLine = "\x1b[K";

std::string swatch(const Rgb& colour, int width) {
    char code[32];
    std::snprintf(code, sizeof code, "\x1b[48;2;%d;%d;%dm", colour.red, colour.green, colour.blue);
    return code + std::string(static_cast<size_t>(width), ' ') + kReset;
}

std::string number(bool present, NSObject* value) {
    if (!present) return "-";
    double n = 0;
    if (!device::numericValue(value, &n)) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%g", n);
    return text;
}

std::string power(const device::LightState& light) {
    if (!light.hasPower) return "-";
    double n = 0;
    if (!device::numericValue(light.power.get(), &n)) return "?";
    return n != 0 ? "on" : "off";
}

std::string padded(std::string text, size_t width) {
    if (text.size() > width) text = text.substr(0, width - 1) + "~";
    return text + std::string(width - text.size(), ' ');
}

// The terminal's width in columns; 0 when unknown.
int terminalColumns() {
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// `line` cut to `columns` - 1 visible characters (escape sequences take none, a UTF-8 character
// one), so that no line wraps: a wrapped line would throw the next redraw off by a line.
std::string fittedTo(const std::string& line, int columns) {
    if (columns <= 1) return line;
    const size_t limit = static_cast<size_t>(columns - 1);
    std::string fitted;
    size_t visible = 0;
    for (size_t i = 0; i < line.size();) {
        auto byte = static_cast<unsigned char>(line[i]);
        if (byte == 0x1b && i + 1 < line.size() && line[i + 1] == '[') {
            size_t end = i + 2;
            while (end < line.size() && !(line[end] >= 0x40 && line[end] <= 0x7e)) ++end;
            end = std::min(end + 1, line.size());
            fitted.append(line, i, end - i);
            i = end;
            continue;
        }
        if ((byte & 0xc0) != 0x80) {  // not a continuation byte: a character starts
            if (visible == limit) return fitted + kReset;
            ++visible;
        }
        fitted += line[i++];
    }
    return fitted;
}

}  // namespace

LightView::LightView(std::ostream& out, bool terminal, std::string title)
    : out_(out), terminal_(terminal), title_(std::move(title)), lights_(std::make_unique<device::HomeLightsReader>()) {
    if (terminal_) out_ << "\x1b[?25l" << std::flush;  // no cursor blinking over the table
}

LightView::~LightView() {
    if (terminal_) out_ << "\x1b[?25h" << std::flush;
}

void LightView::refresh(const std::string& status) {
    device::HomeLights home;
    device::Status problem = lights_->read(&home);
    bool haveHome = problem.ok();
    LastColour message;
    bool haveMessage = readLastColour(&message);
    const std::string& messageText = message.text;
    const double secondsAgo = static_cast<double>(device::monotonicNanos() - message.receivedNanos) / 1e9;
    const std::string missing = missingRecords(message.unrecorded);

    if (!terminal_) {
        auto now = std::chrono::steady_clock::now();
        if (now - lastPlainLine_ < std::chrono::seconds(1)) return;
        lastPlainLine_ = now;
        std::ostringstream line;
        line << status;
        if (haveMessage) line << " | last colour " << messageText;
        if (!missing.empty()) line << " | " << missing;
        if (!haveHome) line << " | " << problem.message();
        if (!home.selectionProblem.empty()) line << " | the room selection cannot be read: " << home.selectionProblem;
        for (const device::LightState& light : home.lights) {
            if (!light.roomSelected) continue;
            line << " | " << printable(light.room) << "/" << printable(light.name) << " " << power(light) << " b"
                 << number(light.hasBrightness, light.brightness.get()) << " s"
                 << number(light.hasSaturation, light.saturation.get()) << " h"
                 << number(light.hasHue, light.hue.get());
            if (!light.unreachable.empty()) line << " (unreachable)";
        }
        if (line.str() == lastPlain_) return;  // nothing new to say
        lastPlain_ = line.str();
        out_ << lastPlain_ << "\n" << std::flush;
        return;
    }

    std::vector<std::string> lines;
    lines.push_back(std::string(kBold) + title_ + kReset + "  " + status);
    if (haveMessage) {
        char ago[32];
        std::snprintf(ago, sizeof ago, "%.1f s ago", secondsAgo);
        lines.push_back("last colour received " + swatch(message.colour, 4) + " " + messageText + "  " + kDim + ago +
                        kReset);
    } else {
        lines.push_back(std::string(kDim) + "no colour received yet" + kReset);
    }
    if (!missing.empty()) lines.push_back(missing);
    lines.push_back("");
    if (!haveHome) {
        lines.push_back(problem.message());
    } else {
        if (!home.selectionProblem.empty())
            lines.push_back("the room selection cannot be read: " + home.selectionProblem);
        lines.push_back(std::string(kBold) + "        " + padded("ROOM", 14) + padded("LIGHT", 18) +
                        padded("POWER", 7) + padded("BRIGHT", 8) + padded("SAT", 6) + "HUE" + kReset);
        for (const device::LightState& light : home.lights) {
            std::string row = swatch(shownColour(light), 6) + "  " + padded(printable(light.room), 14) +
                              padded(printable(light.name), 18) + padded(power(light), 7) +
                              padded(number(light.hasBrightness, light.brightness.get()), 8) +
                              padded(number(light.hasSaturation, light.saturation.get()), 6) +
                              padded(number(light.hasHue, light.hue.get()), 5);
            if (light.real) row += light.unreachable.empty() ? "  (real lamp)" : "  (unreachable)";
            if (!light.selectionKnown)
                row += std::string(kDim) + "  (room selection unknown)" + kReset;
            else if (!light.roomSelected)
                row += std::string(kDim) + "  (room not selected)" + kReset;
            lines.push_back(row);
        }
    }

    // One write per refresh: back to the top of the last drawing, each line cleared as it is
    // overwritten, and whatever the last drawing had below cleared too.
    std::string frame;
    if (linesDrawn_ > 0) frame += "\x1b[" + std::to_string(linesDrawn_) + "F";
    const int columns = terminalColumns();
    for (const std::string& line : lines) frame += fittedTo(line, columns) + kClearLine + "\n";
    frame += "\x1b[J";
    out_ << frame << std::flush;
    linesDrawn_ = static_cast<int>(lines.size());
}
