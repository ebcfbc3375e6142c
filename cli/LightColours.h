// The colours the device's lights and its last colour message show as, for every view of the
// lights (the terminal's and the settings page's). Plain functions.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>
#include <cstdint>

namespace device {
struct LightState;
}

struct Rgb {
    int red = 0, green = 0, blue = 0;
    bool operator==(const Rgb& other) const { return red == other.red && green == other.green && blue == other.blue; }
};

// A light's colour as it shines: black when off, else its hue, saturation and brightness.
Rgb shownColour(const device::LightState& light);

// The last colour message any process of the device received.
struct LastColour {
    std::string text;               // as received, made printable (any process may send any text)
    Rgb colour;                     // its red, green and blue; black when the text is not three numbers
    uint64_t receivedNanos = 0;     // when it arrived (monotonic)
    std::vector<pid_t> unrecorded;  // running processes that have no record to tell it
};
// False when no process has received one.
bool readLastColour(LastColour* out);

// Says which processes the colours shown may leave out: those that could not make their record;
// empty when none.
std::string missingRecords(const std::vector<pid_t>& unrecorded);
