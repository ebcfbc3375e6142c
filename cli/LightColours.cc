#include "LightColours.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/PrintableText.h>
#include <activity/ProcessActivity.h>
#include <apps/HomeLights.h>
#include <media/HsbToRgb.h>

namespace {

int level(double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 1.0) * 255)); }

}  // namespace

Rgb shownColour(const device::LightState& light) {
    double power = 1, brightness = 1, saturation = 0, hue = 0;
    if (light.hasPower && !device::numericValue(light.power.get(), &power)) power = 0;
    if (light.hasBrightness && device::numericValue(light.brightness.get(), &brightness))
        brightness /= light.brightnessMaximum;
    if (light.hasSaturation && device::numericValue(light.saturation.get(), &saturation))
        saturation /= light.saturationMaximum;
    if (light.hasHue && device::numericValue(light.hue.get(), &hue)) hue /= light.hueMaximum;  // in turns
    if (power == 0) return {};
    device::UnitRgb rgb = device::rgbFromHsb(hue, saturation, brightness);
    return {level(rgb.red), level(rgb.green), level(rgb.blue)};
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
