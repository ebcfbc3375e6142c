// The home-screen process as a whole: colour messages sent by another process change the lights of
// the selected rooms, as `glimmora home show` reports them, and the catalogue is published.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <apps/GlimmoraContract.h>
#include <apps/GlimmoraSettings.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

class HomeScreen : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1);
        ASSERT_EQ(runProcess({glimmoraCommand(), "home", "init"}).exitCode, 0);
    }

    bool serving() const {
        struct stat info;
        return stat((device_.path() + "/ipc/" + device::kColourChannelName).c_str(), &info) == 0;
    }

    static nlohmann::json show() {
        ProcessResult shown = runProcess({glimmoraCommand(), "home", "show", "--json"});
        if (shown.exitCode != 0) return {};
        return nlohmann::json::parse(shown.out, nullptr, false);
    }

    // Every light of every home, each with its room's name added.
    static std::vector<nlohmann::json> lights(const nlohmann::json& shown) {
        std::vector<nlohmann::json> result;
        if (!shown.is_object() || !shown.contains("homes")) return result;
        for (const auto& home : shown["homes"])
            for (const auto& room : home["rooms"])
                for (nlohmann::json light : room["lights"]) {
                    light["room"] = room["name"];
                    result.push_back(light);
                }
        return result;
    }

    TempDirectory device_;
};

TEST_F(HomeScreen, ColourMessagesFromAnotherProcessReachTheLightsOfSelectedRooms) {
    nlohmann::json before = show();
    ASSERT_FALSE(lights(before).empty()) << before.dump();
    std::string selectedRoom = lights(before).front()["room"];
    ASSERT_EQ(runProcess({glimmoraCommand(), "home", "select", selectedRoom}).exitCode, 0);

    BackgroundProcess springboard({glimmoraCommand(), "springboard"});
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); })) << springboard.err();

    // Pure blue: hue 240 degrees, full saturation and brightness.
    MRYIPCCenter* center = MRYIPCCenter::centerNamed(NSSTR(device::kColourChannelName));
    bool changed = BackgroundProcess::waitFor(
        [&] {
            center->callExternalVoidMethod_withArguments(SEL_(_updateColors:),
                                                         NSSTR("0.000000,0.000000,1.000000,1.000000"));
            for (const auto& light : lights(show()))
                if (light["room"] == selectedRoom && light["hue"] == 240 && light["power"] == true) return true;
            return false;
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(changed) << show().dump(2) << springboard.err();

    // Lights of rooms nobody selected are as they were.
    nlohmann::json after = show();
    for (size_t i = 0; i < lights(after).size(); ++i) {
        if (lights(after)[i]["room"] != selectedRoom) {
            EXPECT_EQ(lights(after)[i], lights(before)[i]);
        }
    }

    // The catalogue is published two seconds after launch.
    Strong<HBPreferences> settings = device::openGlimmoraSettings();
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return bool(settings->objectForKey(NSSTR(device::kRoomsKey))); }));
    EXPECT_TRUE(springboard.running());
}

}  // namespace
