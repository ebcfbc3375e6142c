#include "DeviceProcesses.h"

#include <sys/stat.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <apps/GlimmoraContract.h>
#include <media/TestPattern.h>

#include "support/StatusAssertions.h"

namespace system_test {

namespace {

constexpr const char* kSettings = device::kGlimmoraSettingsIdentifier;

// Power as stored: a Boolean, or the number 1 the home screen writes.
bool isOn(const Json& value) { return value.is_boolean() ? value.get<bool>() : value.is_number() && value != 0; }

int integerOr(const Json& value, int fallback) { return value.is_number() ? value.get<int>() : fallback; }

// A component in 0 ... 1 as the home screen writes it: single-precision product, truncated.
int scaled(double component, float maximum) { return static_cast<int>(maximum * static_cast<float>(component)); }

}  // namespace

std::ostream& operator<<(std::ostream& out, const LightState& light) {
    return out << "{power " << light.power << ", brightness " << light.brightness << ", saturation " << light.saturation
               << ", hue " << light.hue << "}";
}

LightColour lightColourOf(int red, int green, int blue) {
    const double r = red / 255.0, g = green / 255.0, b = blue / 255.0;
    const double high = std::max({r, g, b}), low = std::min({r, g, b}), range = high - low;
    double hue = 0;
    if (range > 0) {
        if (high == r)
            hue = std::fmod((g - b) / range + 6.0, 6.0);
        else if (high == g)
            hue = (b - r) / range + 2.0;
        else
            hue = (r - g) / range + 4.0;
        hue /= 6.0;
    }
    const double saturation = high > 0 ? range / high : 0;
    return {scaled(hue, 360), scaled(saturation, 100), scaled(high, 100)};
}

::testing::AssertionResult showsColour(const LightState& light, const LightColour& colour, int tolerance) {
    const int hueApart = std::abs(light.hue - colour.hue) % 360;
    const bool matches = light.power && std::min(hueApart, 360 - hueApart) <= tolerance &&
                         std::abs(light.saturation - colour.saturation) <= tolerance &&
                         std::abs(light.brightness - colour.brightness) <= tolerance;
    if (matches) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the light is " << light << ", expected on with hue " << colour.hue
                                         << ", saturation " << colour.saturation << ", brightness " << colour.brightness
                                         << " (each within " << tolerance << ")";
}

Json colourBulb(const std::string& name, const LightState& initial, const std::string& hueIdentifier) {
    const Json percentage = {
        {"format", "int"}, {"minimumValue", 0}, {"maximumValue", 100}, {"stepValue", 1}, {"units", "percentage"}};
    Json bulb = {{"type", "lightbulb"},
                 {"name", name},
                 {"characteristics",
                  {{{"type", "power"}, {"value", initial.power}, {"metadata", {{"format", "bool"}}}},
                   {{"type", "brightness"}, {"value", initial.brightness}, {"metadata", percentage}},
                   {{"type", "saturation"}, {"value", initial.saturation}, {"metadata", percentage}},
                   {{"type", "hue"},
                    {"value", initial.hue},
                    {"metadata",
                     {{"format", "float"},
                      {"minimumValue", 0},
                      {"maximumValue", 360},
                      {"stepValue", 1},
                      {"units", "arcdegrees"}}}}}}};
    if (!hueIdentifier.empty()) bulb["characteristics"][3]["uuid"] = hueIdentifier;
    return bulb;
}

Json accessory(const std::string& name, Json services, Json behaviour) {
    Json result = {{"name", name}};
    for (auto& [key, value] : behaviour.items()) result[key] = value;
    result["services"] = std::move(services);
    return result;
}

Json room(const std::string& name, Json accessories) {
    return {{"name", name}, {"accessories", std::move(accessories)}};
}

Json homeOf(const std::string& name, Json rooms) {
    return {{"homes", Json::array({{{"name", name}, {"primary", true}, {"rooms", std::move(rooms)}}})}};
}

// --- DeviceTest ----------------------------------------------------------------------------------------

ProcessResult DeviceTest::glimmora(const std::vector<std::string>& args, std::chrono::milliseconds timeout) const {
    std::vector<std::string> argv = {glimmoraCommand(), "--device", device_.path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {}, timeout);
}

std::unique_ptr<BackgroundProcess> DeviceTest::start(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {glimmoraCommand(), "--device", device_.path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<BackgroundProcess>(argv);
}

std::unique_ptr<BackgroundProcess> DeviceTest::startHomeScreen() const {
    auto homeScreen = start({"springboard"});
    // The launch line comes once the library is loaded and the launch is on the main queue.
    bool launched = BackgroundProcess::waitFor(
        [&] { return homeScreen->err().find(" running (pid ") != std::string::npos || !homeScreen->running(); },
        kEventually);
    EXPECT_TRUE(launched && homeScreen->running()) << homeScreen->err();
    return homeScreen;
}

bool DeviceTest::serving() const {
    struct stat info {};
    return stat((device_.path() + "/ipc/" + device::kColourChannelName).c_str(), &info) == 0;
}

void DeviceTest::installHome(const Json& description, const std::vector<std::string>& rooms) {
    const std::string file = device_.path() + "/test-home.json";
    writeBytes(file, description.dump(2));
    ProcessResult loaded = glimmora({"home", "load", file});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    if (rooms.empty()) return;
    std::vector<std::string> args = {"home", "select"};
    args.insert(args.end(), rooms.begin(), rooms.end());
    ProcessResult selected = glimmora(args);
    ASSERT_EQ(selected.exitCode, 0) << selected.err;
}

Json DeviceTest::show() const {
    ProcessResult shown = glimmora({"home", "show", "--json"});
    if (shown.exitCode != 0) return nullptr;
    return Json::parse(shown.out, nullptr, false);
}

std::map<std::string, LightState> DeviceTest::lights() const {
    std::map<std::string, LightState> result;
    Json shown = show();
    if (!shown.is_object() || !shown.contains("homes")) return result;
    for (const auto& home : shown["homes"])
        for (const auto& room : home["rooms"])
            for (const auto& light : room["lights"])
                result[light["name"].get<std::string>()] = {isOn(light["power"]), integerOr(light["brightness"], -1),
                                                            integerOr(light["saturation"], -1),
                                                            integerOr(light["hue"], -1)};
    return result;
}

LightState DeviceTest::light(const std::string& name) const {
    auto all = lights();
    auto found = all.find(name);
    EXPECT_NE(found, all.end()) << "no light named " << name;
    return found != all.end() ? found->second : LightState{};
}

void DeviceTest::setSwitch(const std::string& key, bool on) const {
    ProcessResult written = glimmora({"prefs", "write", kSettings, key, on ? "YES" : "NO", "--bool"});
    ASSERT_EQ(written.exitCode, 0) << written.err;
}

std::optional<std::string> DeviceTest::readSetting(const std::string& key) const {
    ProcessResult read = glimmora({"prefs", "read", kSettings, key});
    if (read.exitCode != 0) return std::nullopt;
    std::string value = read.out;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

std::string DeviceTest::writeClip(const std::string& name, const std::string& pattern,
                                  const ClipSettings& settings) const {
    const std::string path = device_.path() + "/" + name;
    auto segments = parseTestPattern(pattern);
    EXPECT_TRUE(succeeded(segments));
    if (segments.ok()) {
        EXPECT_TRUE(succeeded(writeTestPatternClip(path, *segments, settings)));
    }
    return path;
}

::testing::AssertionResult DeviceTest::eventuallyShows(const std::string& name, const LightColour& colour) const {
    ::testing::AssertionResult last = ::testing::AssertionFailure() << "no light named " << name;
    eventually([&] {
        auto all = lights();
        auto found = all.find(name);
        if (found != all.end()) last = showsColour(found->second, colour);
        return bool(last);
    });
    if (!last) last << " (" << name << ")";
    return last;
}

::testing::AssertionResult DeviceTest::staysAsItIs(const std::map<std::string, LightState>& expected,
                                                   std::chrono::milliseconds period) const {
    const auto end = std::chrono::steady_clock::now() + period;
    do {
        auto now = lights();
        for (const auto& [name, state] : expected) {
            auto found = now.find(name);
            if (found == now.end()) return ::testing::AssertionFailure() << "the light " << name << " went";
            if (found->second != state)
                return ::testing::AssertionFailure() << name << " changed from " << state << " to " << found->second;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < end);
    return ::testing::AssertionSuccess();
}

// --- Files and output ------------------------------------------------------------------------------------

namespace {

::testing::AssertionResult onlyLinesStartingWith(const std::string& err, const std::string& prefix) {
    std::istringstream lines(err);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) != 0) return ::testing::AssertionFailure() << "unexpected output: " << line;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

::testing::AssertionResult healthy(BackgroundProcess& homeScreen) {
    if (!homeScreen.running()) return ::testing::AssertionFailure() << "the home screen ended: " << homeScreen.err();
    return onlyLinesStartingWith(homeScreen.err(), "glimmora app: ");
}

::testing::AssertionResult onlyPlayerReports(const std::string& err) {
    return onlyLinesStartingWith(err, "glimmora play: ");
}

std::string changingColours(int segments, int frames) {
    std::string pattern;
    for (int i = 0; i < segments; ++i) {
        // Hue i/segments of the circle, in sixths: the sector and how far into it.
        const double sixths = 6.0 * i / segments;
        const int sector = static_cast<int>(sixths);
        const int rising = static_cast<int>(std::lround(255 * (sixths - sector)));
        const int falling = 255 - rising;
        const int rgb[6][3] = {{255, rising, 0},  {falling, 255, 0}, {0, 255, rising},
                               {0, falling, 255}, {rising, 0, 255},  {255, 0, falling}};
        char segment[32];
        std::snprintf(segment, sizeof segment, "%s#%02x%02x%02x*%d", i ? "," : "", rgb[sector][0], rgb[sector][1],
                      rgb[sector][2], frames);
        pattern += segment;
    }
    return pattern;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

}  // namespace system_test
