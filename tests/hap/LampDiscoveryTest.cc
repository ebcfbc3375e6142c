// Lamps found on the network: the test accessory advertises itself over multicast DNS (by each of
// hap-nodejs's two advertisers), `home discover` lists it, `home pair` finds it with no address
// typed, and a running home screen follows it when it comes back on another port, and turns it
// unreachable when it says goodbye.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/TestAccessory.h"
#include "system/DeviceProcesses.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;

// The accessory `home discover --json` lists with identifier `id`; null when it lists none.
Json discovered(const Json& list, const std::string& id) {
    if (list.is_array())
        for (const Json& accessory : list)
            if (accessory.value("id", "") == id) return accessory;
    return nullptr;
}

// The real light of accessory `name` as `home show --json` shows it; null when there is none.
Json shownLight(const Json& shown, const std::string& name) {
    if (!shown.is_object() || !shown.contains("homes")) return nullptr;
    for (const Json& home : shown["homes"])
        for (const Json& room : home["rooms"])
            for (const Json& light : room["lights"])
                if (light.value("accessory", "") == name) return light;
    return nullptr;
}

std::string homeJson(const std::string& device) {
    std::ifstream in(device + "/home.json");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class LampDiscovery : public DeviceTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        lamp.setAdvertiser(GetParam());
        ASSERT_TRUE(lamp.start());
        installHome(homeOf("Flat", {room("Lounge", {accessory("Strip", {colourBulb("Strip", {false, 10, 10, 300})})})}),
                    {"Lounge"});
    }

    Json discover() {
        ProcessResult listed = glimmora({"home", "discover", "--json", "--seconds", "2"});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        return Json::parse(listed.out, nullptr, false);
    }

    TestAccessory lamp;
};

TEST_P(LampDiscovery, ALampIsListedPairedWithNoAddressAndFollowedWhenItMovesOrLeaves) {
    Json found = discovered(discover(), lamp.identifier());
    ASSERT_TRUE(found.is_object()) << "not listed";
    EXPECT_EQ(found.value("name", ""), "Test Lamp " + std::to_string(lamp.port()));
    EXPECT_EQ(found.value("category", ""), "lightbulb");
    EXPECT_EQ(found.value("paired", true), false);
    EXPECT_EQ(found.value("address", ""), "127.0.0.1");
    EXPECT_EQ(found.value("port", 0), lamp.port());
    EXPECT_TRUE(found["lamp"].is_null());

    // An identifier nobody advertises is refused, and nothing is recorded.
    ProcessResult unknown =
        glimmora({"home", "pair", "Desk Lamp", "--room", "Lounge", "--code", lamp.code(), "--id", "0E:00:00:00:00:01"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_THAT(unknown.err, HasSubstr("no accessory with the identifier"));
    EXPECT_THAT(homeJson(devicePath()), ::testing::Not(HasSubstr("Desk Lamp")));

    // Paired by its identifier with one advertiser, by its advertised name with the other.
    std::vector<std::string> pair = {"home", "pair", "Desk Lamp", "--room", "Lounge", "--code", lamp.code()};
    if (std::string(GetParam()) == "ciao") {
        pair[2] = found.value("name", "");
    } else {
        pair.insert(pair.end(), {"--id", lamp.identifier()});
    }
    ProcessResult paired = glimmora(pair);
    ASSERT_EQ(paired.exitCode, 0) << paired.err;
    const std::string name = pair[2];
    found = discovered(discover(), lamp.identifier());
    EXPECT_EQ(found.value("paired", false), true);
    EXPECT_EQ(found.value("lamp", ""), name);

    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    ProcessResult played = glimmora({"play", writeClip("first.mp4", "#30c060*6,#e0a020*12")});
    ASSERT_EQ(played.exitCode, 0) << played.err;
    ASSERT_TRUE(eventuallyShows(name, lightColourOf(0xe0, 0xa0, 0x20)));

    // Back on another port, the lamp is found again and follows the next clip with no command typed.
    ASSERT_TRUE(lamp.moveToAnotherPort());
    const std::string movedTo = "moved to 127.0.0.1:" + std::to_string(lamp.port());
    EXPECT_TRUE(
        BackgroundProcess::waitFor([&] { return homeScreen->err().find(movedTo) != std::string::npos; }, kEventually))
        << homeScreen->err();
    EXPECT_TRUE(eventually(
        [&] { return homeJson(devicePath()).find("\"port\": " + std::to_string(lamp.port())) != std::string::npos; }));
    played = glimmora({"play", writeClip("second.mp4", "red*6,#2040e0*12")});
    ASSERT_EQ(played.exitCode, 0) << played.err;
    const LightColour blue = lightColourOf(0x20, 0x40, 0xe0);
    EXPECT_TRUE(eventuallyShows(name, blue));
    EXPECT_THAT(lamp.log(), HasSubstr("-> " + std::to_string(blue.hue)));

    // Its goodbye makes it unreachable at once, not after a write times out; its return, reachable.
    lamp.stop();
    EXPECT_TRUE(eventually([&] {
        Json light = shownLight(show(), name);
        return light.is_object() && !light.value("reachable", true) &&
               light.value("problem", "").find("said goodbye") != std::string::npos;
    })) << shownLight(show(), name).dump();
    ASSERT_TRUE(lamp.start());
    EXPECT_TRUE(eventually([&] { return shownLight(show(), name).value("reachable", false); }))
        << shownLight(show(), name).dump();
    // (The lamp's leaving and its moving are logged: the home screen's standard error is not bare.)
    EXPECT_TRUE(homeScreen->running());
}

// A bridge that comes back with another lamp tells it by a new configuration number: the running
// home screen reads its services again, and the new lamp joins the home.
class BridgeDiscovery : public DeviceTest {};

TEST_F(BridgeDiscovery, ABridgeWhoseLampsChangedIsReadAgain) {
    TestAccessory bridge(2);
    ASSERT_TRUE(bridge.start());
    installHome(homeOf("Flat", {room("Lounge", Json::array())}), {"Lounge"});
    ProcessResult paired =
        glimmora({"home", "pair", "Shelf", "--room", "Lounge", "--code", bridge.code(), "--id", bridge.identifier()});
    ASSERT_EQ(paired.exitCode, 0) << paired.err;
    auto bridgeLights = [&] {
        size_t count = 0;
        for (const auto& [name, state] : lights()) count += name.rfind("Test Bridge", 0) == 0;
        return count;
    };
    ASSERT_EQ(bridgeLights(), 2u);
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();

    bridge.setLights(3);
    ASSERT_TRUE(bridge.restart());
    EXPECT_TRUE(eventually([&] { return bridgeLights() == 3; })) << homeScreen->err();
    EXPECT_THAT(homeScreen->err(), HasSubstr("changed its configuration: \"Shelf\" has 3 lights now (2 before)"));
    EXPECT_TRUE(homeScreen->running());
}

INSTANTIATE_TEST_SUITE_P(Advertisers, LampDiscovery, ::testing::Values("bonjour-hap", "ciao"),
                         [](const auto& info) { return std::string(info.param) == "ciao" ? "Ciao" : "BonjourHap"; });

}  // namespace
}  // namespace system_test
