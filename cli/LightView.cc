#include "LightView.h"

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

struct Rgb {
    int red = 0, green = 0, blue = 0;
};

Rgb fromHsb(double hueDegrees, double saturation, double brightness) {
    double h = std::fmod(std::fmod(hueDegrees, 360.0) + 360.0, 360.0) / 60.0;
    int sector = static_cast<int>(h) % 6;
    double f = h - std::floor(h);
    double v = brightness, p = v * (1 - saturation), q = v * (1 - saturation * f), t = v * (1 - saturation * (1 - f));
    double r, g, b;
    switch (sector) {
        case 0:
            r = v, g = t, b = p;
            break;
        case 1:
            r = q, g = v, b = p;
            break;
        case 2:
            r = p, g = v, b = t;
            break;
        case 3:
            r = p, g = q, b = v;
            break;
        case 4:
            r = t, g = p, b = v;
            break;
        default:
            r = v, g = p, b = q;
            break;
    }
    auto level = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 1.0) * 255)); };
    return {level(r), level(g), level(b)};
}

std::string swatch(const Rgb& colour, int width) {
    char code[32];
    std::snprintf(code, sizeof code, "\x1b[48;2;%d;%d;%dm", colour.red, colour.green, colour.blue);
    return code + std::string(static_cast<size_t>(width), ' ') + kReset;
}

// A light's colour as it shines: black when off, else its hue, saturation and brightness.
Rgb shownColour(const device::LightState& light) {
    double power = 1, brightness = 1, saturation = 0, hue = 0;
    if (light.hasPower && !device::numericValue(light.power.get(), &power)) power = 0;
    if (light.hasBrightness && device::numericValue(light.brightness.get(), &brightness))
        brightness /= light.brightnessMaximum;
    if (light.hasSaturation && device::numericValue(light.saturation.get(), &saturation))
        saturation /= light.saturationMaximum;
    if (light.hasHue && device::numericValue(light.hue.get(), &hue)) hue = hue / light.hueMaximum * 360.0;
    if (power == 0) return {};
    return fromHsb(hue, saturation, brightness);
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

// The last colour message any process of the device received, as red, green and blue 0...1;
// `*unrecorded` receives the running processes that have no record to tell it.
bool lastColour(std::string* text, Rgb* colour, double* secondsAgo, std::vector<pid_t>* unrecorded) {
    device::ActivitySnapshot latest;
    for (const device::ActivitySnapshot& record : device::readDeviceActivity(device::deviceDirectory(), unrecorded))
        if (record.lastCallNanos > latest.lastCallNanos) latest = record;
    if (latest.lastCallNanos == 0) return false;
    *text = printable(latest.lastCall);  // any process may send any text
    *secondsAgo = static_cast<double>(device::monotonicNanos() - latest.lastCallNanos) / 1e9;
    double r = 0, g = 0, b = 0;
    if (std::sscanf(latest.lastCall.c_str(), "%lf,%lf,%lf", &r, &g, &b) != 3) return true;
    auto level = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 1.0) * 255)); };
    *colour = {level(r), level(g), level(b)};
    return true;
}

// Says which processes the colours shown may leave out: those that could not make their record.
std::string missingRecords(const std::vector<pid_t>& unrecorded) {
    if (unrecorded.empty()) return {};
    std::string pids;
    for (pid_t pid : unrecorded) pids += (pids.empty() ? "" : ", ") + std::to_string(pid);
    return "activity record missing for process " + pids + " (no room on the disk): its colours are not shown";
}

}  // namespace

LightView::LightView(std::ostream& out, bool terminal, std::string title)
    : out_(out), terminal_(terminal), title_(std::move(title)) {
    if (terminal_) out_ << "\x1b[?25l" << std::flush;  // no cursor blinking over the table
}

LightView::~LightView() {
    if (terminal_) out_ << "\x1b[?25h" << std::flush;
}

void LightView::refresh(const std::string& status) {
    device::HomeLights home;
    device::Status problem = device::readHomeLights(&home);
    bool haveHome = problem.ok();
    std::string messageText;
    Rgb messageColour;
    double secondsAgo = 0;
    std::vector<pid_t> unrecorded;
    bool haveMessage = lastColour(&messageText, &messageColour, &secondsAgo, &unrecorded);
    const std::string missing = missingRecords(unrecorded);

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
        lines.push_back("last colour received " + swatch(messageColour, 4) + " " + messageText + "  " + kDim + ago +
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
