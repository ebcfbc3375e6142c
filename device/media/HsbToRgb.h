// A colour given as hue, saturation and brightness (HSV's hexcone), as red, green and blue: what
// a lamp's values look like, and how the demo video paints its hue sweeps.
//
// Keeps no state: any thread.
#pragma once

namespace device {

struct UnitRgb {
    double red, green, blue;  // 0..1 for inputs in range
};

// Hue in turns (any value; only its fraction counts: 0 red, 1/3 green, 2/3 blue), saturation and
// brightness 0..1.
UnitRgb rgbFromHsb(double hueTurns, double saturation, double brightness);

}  // namespace device
