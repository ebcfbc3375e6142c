#include "LightColours.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/PrintableText.h>
#include <activity/ProcessActivity.h>
#include <apps/HomeLights.h>

namespace {

int level(double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 1.0) * 255)); }

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
    return {level(r), level(g), level(b)};
}

}  // namespace

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

bool readLastColour(LastColour* out) {
    device::ActivitySnapshot latest;
    for (const device::ActivitySnapshot& record :
         device::readDeviceActivity(device::deviceDirectory(), &out->unrecorded))
        if (record.lastCallNanos > latest.lastCallNanos) latest = record;
    if (latest.lastCallNanos == 0) return false;
    out->text = device::printable(latest.lastCall);
    out->receivedNanos = latest.lastCallNanos;
    double r = 0, g = 0, b = 0;
    if (std::sscanf(latest.lastCall.c_str(), "%lf,%lf,%lf", &r, &g, &b) == 3)
        out->colour = {level(r), level(g), level(b)};
    return true;
}

std::string missingRecords(const std::vector<pid_t>& unrecorded) {
    if (unrecorded.empty()) return {};
    std::string pids;
    for (pid_t pid : unrecorded) pids += (pids.empty() ? "" : ", ") + std::to_string(pid);
    return "activity record missing for process " + pids + " (no room on the disk): its colours are not shown";
}
