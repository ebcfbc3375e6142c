#include "HsbToRgb.h"

#include <cmath>

namespace device {

UnitRgb rgbFromHsb(double hueTurns, double saturation, double brightness) {
    double h = (hueTurns - std::floor(hueTurns)) * 6;
    int sector = static_cast<int>(h) % 6;
    double f = h - std::floor(h);
    double v = brightness, p = v * (1 - saturation), q = v * (1 - saturation * f), t = v * (1 - saturation * (1 - f));
    switch (sector) {
        case 0:
            return {v, t, p};
        case 1:
            return {q, v, p};
        case 2:
            return {p, v, t};
        case 3:
            return {p, q, v};
        case 4:
            return {t, p, v};
        default:
            return {v, p, q};
    }
}

}  // namespace device
