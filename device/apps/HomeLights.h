// The device's lights as a user sees them: every lightbulb service of every room, with whether
// its room is selected and its current power, brightness, saturation and hue. Read straight from
// the home description, the accessory state and the settings store, as one more process of the
// device (no HomeKit manager, no main queue), so any process may look while the home screen runs.
//
// Plain values; reading takes a few milliseconds. Any thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "../Foundation/Foundation.h"
#include "../homes/HomeDescription.h"

#include "../base/Status.h"

namespace device {

struct LightState {
    std::string home, room, roomIdentifier, accessory, name, identifier;
    bool roomSelected = false;
    bool real = false;           // a paired accessory, reached over the network
    std::string unreachable;     // a real accessory that could not be reached when last tried: why
    bool selectionKnown = true;  // false when the settings store could not tell
    // The current value of each characteristic, nil when unknown; `has…` is false when the light
    // has no such characteristic.
    Strong<NSObject> power, brightness, saturation, hue;
    bool hasPower = false, hasBrightness = false, hasSaturation = false, hasHue = false;
    // Each characteristic's maximum: its metadata's, else HomeKit's usual one.
    double brightnessMaximum = 100, saturationMaximum = 100, hueMaximum = 360;
};

struct HomeLights {
    HomesDescription description;
    // In description order; a room without lights has none here.
    std::vector<LightState> lights;
    // Whether each room is selected, by the room's identifier text; a room whose selection could not
    // be read counts as not selected and is in `selectionUnknown`.
    std::unordered_map<std::string, bool> roomSelected;
    std::unordered_set<std::string> selectionUnknown;
    // Set when the settings store could not tell whether some room is selected (a damaged or
    // unreadable database): why not.
    std::string selectionProblem;
    // Set when the accessory state could not be read: the described values are shown instead.
    std::string stateProblem;
};

// Reads the installed home and the lights' state. An error says why (no home.json, a malformed
// one) when there is no home to show; `*missing` tells the first case apart.
Status readHomeLights(HomeLights* out, bool* missing = nullptr);

// Reads the lights again and again, as a live view does, at a fraction of the cost: the accessory
// state and the settings stay open, and the home description is parsed again only when its file
// changed (or a second has passed, for an edit within the file system's clock tick). One sequence.
class HomeLightsReader {
public:
    HomeLightsReader();
    ~HomeLightsReader();
    HomeLightsReader(const HomeLightsReader&) = delete;
    HomeLightsReader& operator=(const HomeLightsReader&) = delete;

    // As readHomeLights.
    Status read(HomeLights* out, bool* missing = nullptr);

private:
    struct Open;
    std::unique_ptr<Open> open_;
};

// The characteristic value as a number (a boolean is 0 or 1); false when it is not a number.
bool numericValue(NSObject* value, double* number);

}  // namespace device
