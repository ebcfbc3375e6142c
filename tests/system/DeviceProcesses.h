// One simulated device per test, driven only through real processes: a fresh device directory, the
// `glimmora` command run in it (home, prefs, springboard, play), home descriptions written for the
// test, generated clips, and what the lights show afterwards. Test-thread only.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <media/ClipWriter.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace system_test {

using Json = nlohmann::ordered_json;

// Conditions that must eventually hold get this long: the machine is shared and the sanitizer
// builds are slow.
constexpr std::chrono::seconds kEventually{30};

// The tests' clips: small, ten frames a second and a keyframe every half second. A video app's
// display layer scales every sample to the screen and the frame clock draws the whole player 60
// times a second, so under a sanitizer each frame costs tens of milliseconds; few frames keep
// playback near real time. Played inline, decoding starts at the first keyframe after the first
// sample, here the sixth frame.
constexpr ClipSettings kTestClip{.width = 64, .height = 48, .fps = 10, .gop = 5};

// Polls `condition` until it holds or kEventually passes; returns whether it held. Conditions that
// run processes are asked a few times a second, leaving the machine to the processes under test.
template <class F>
bool eventually(F condition) {
    return BackgroundProcess::waitFor(
        [&] {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return false;
        },
        kEventually);
}

// What `glimmora home show --json` reports of one light.
struct LightState {
    bool power = false;
    int brightness = -1;
    int saturation = -1;
    int hue = -1;
    bool operator==(const LightState&) const = default;
};
std::ostream& operator<<(std::ostream& out, const LightState& light);

// Hue, saturation and brightness as the home screen writes them for a colour: each component scaled
// to the characteristic's maximum (360, 100, 100) and truncated.
struct LightColour {
    int hue, saturation, brightness;
};
// The values a light takes for the 8-bit colour (red, green, blue).
LightColour lightColourOf(int red, int green, int blue);
// Whether `light` is on and shows `colour`, each value within `tolerance` (hue around the circle).
::testing::AssertionResult showsColour(const LightState& light, const LightColour& colour, int tolerance = 1);

// Parts of a home description (see device/HomeKit/HomeDescription.h).
// A colour lightbulb service named `name` with HomeKit's usual metadata; its hue characteristic
// gets `hueIdentifier` when one is given, for a test that reads the accessory state directly.
Json colourBulb(const std::string& name, const LightState& initial, const std::string& hueIdentifier = "");
// An accessory holding `services`; `behaviour` adds "latencyMs", "fault" and "timeoutMs" as given.
Json accessory(const std::string& name, Json services, Json behaviour = Json::object());
Json room(const std::string& name, Json accessories);
// A description of one primary home.
Json homeOf(const std::string& name, Json rooms);

class DeviceTest : public ::testing::Test {
protected:
    // Runs `glimmora --device DIR args...` to its end.
    ProcessResult glimmora(const std::vector<std::string>& args,
                           std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
    // Starts `glimmora --device DIR args...` in the background.
    std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& args) const;
    // Starts the home screen and waits until it has launched (its colour channel may still be
    // coming up). Fails the test when it does not.
    std::unique_ptr<BackgroundProcess> startHomeScreen() const;
    // Whether the colour channel's socket is there (it stays behind a killed home screen).
    bool serving() const;

    // Installs `description` with `glimmora home load` and selects `rooms`.
    void installHome(const Json& description, const std::vector<std::string>& rooms);
    // Every light of every home by its service name; empty when `home show` fails.
    std::map<std::string, LightState> lights() const;
    // The light named `name` (a test failure, and a default state, when there is none).
    LightState light(const std::string& name) const;
    // The full `home show --json` report; null when it fails.
    Json show() const;

    // `glimmora prefs write com.tovek.glimmora KEY YES|NO --bool`.
    void setSwitch(const std::string& key, bool on) const;
    // `glimmora prefs read com.tovek.glimmora KEY`; nullopt when the store has no such value.
    std::optional<std::string> readSetting(const std::string& key) const;

    // Writes the test pattern `pattern` (see media/TestPattern.h) as `name` in the device directory.
    std::string writeClip(const std::string& name, const std::string& pattern,
                          const ClipSettings& settings = kTestClip) const;

    // Waits until `name` shows `colour`; on failure the assertion names the last state seen.
    ::testing::AssertionResult eventuallyShows(const std::string& name, const LightColour& colour) const;
    // Watches the lights for `period`: every light keeps the state `expected` gives it.
    ::testing::AssertionResult staysAsItIs(const std::map<std::string, LightState>& expected,
                                           std::chrono::milliseconds period) const;

    const std::string& devicePath() const { return device_.path(); }

private:
    TempDirectory device_;
};

// Whether the home screen still runs and its standard error holds only its own launch report
// (no sanitizer report, exception or log line).
::testing::AssertionResult healthy(BackgroundProcess& homeScreen);

// Whether every line of a video app's standard error is one of the player's own reports, i.e.
// nothing else (a sanitizer, an exception, a log line of the library) wrote there.
::testing::AssertionResult onlyPlayerReports(const std::string& err);

// A test pattern of `segments` colours, each `frames` frames long, whose hues go once around the
// circle at full saturation and brightness: no colour comes back, and each differs from the one
// before also after 8-bit video coding. For clips whose colour keeps changing.
std::string changingColours(int segments, int frames);

// The whole content of a file, and writing one.
std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);

}  // namespace system_test
