// Real lamps across real processes: `glimmora home pair` pairs a test accessory (hap-nodejs, a
// HomeKit accessory nobody here wrote), the home screen writes a clip's colours to it over its
// verified session, and what the lamp holds is read back from the lamp itself over HAP, not from
// the device's own store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include <hap/AccessoryDatabase.h>
#include <hap/Keyring.h>
#include <hap/Session.h>

#include "support/TestAccessory.h"
#include "system/DeviceProcesses.h"

namespace system_test {
namespace {

using ::testing::HasSubstr;

constexpr std::chrono::milliseconds kExchange{5000};

// The lamp's four values as the lamp itself reports them, read over a session of the device's
// own controller.
std::optional<LightState> lampSays(const std::string& device, const TestAccessory& lamp) {
    auto keyring = device::hap::Keyring::open(device);
    if (!keyring.ok()) return std::nullopt;
    std::optional<device::hap::AccessoryPairing> pairing = keyring->pairing(lamp.identifier());
    if (!pairing) return std::nullopt;
    auto session = device::hap::Session::open({"127.0.0.1", lamp.port()}, keyring->controller(), *pairing, kExchange);
    if (!session.ok()) return std::nullopt;
    auto response = (*session)->request("GET", "/accessories", "", kExchange);
    if (!response.ok() || response->status != 200) return std::nullopt;
    auto services = device::hap::parseAccessoryDatabase(response->body);
    if (!services.ok()) return std::nullopt;
    for (const device::hap::ServiceInfo& service : *services) {
        if (service.type != device::hap::kLightbulbService) continue;
        LightState state;
        for (const device::hap::CharacteristicInfo& c : service.characteristics) {
            Json value = Json::parse(c.value, nullptr, false);
            if (value.is_discarded() || value.is_null()) continue;
            if (c.type == device::hap::kOnCharacteristic)
                state.power = value.is_boolean() ? value.get<bool>() : value.get<double>() != 0;
            else if (c.type == device::hap::kBrightnessCharacteristic)
                state.brightness = static_cast<int>(value.get<double>());
            else if (c.type == device::hap::kSaturationCharacteristic)
                state.saturation = static_cast<int>(value.get<double>());
            else if (c.type == device::hap::kHueCharacteristic)
                state.hue = static_cast<int>(value.get<double>());
        }
        return state;
    }
    return std::nullopt;
}

ProcessResult runGlimmora(const std::string& device, std::vector<std::string> args) {
    args.insert(args.begin(), {glimmoraCommand(), "--device", device});
    return runProcess(args, {}, std::chrono::seconds(60));
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class RealLamp : public DeviceTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(lamp.start());
        installHome(homeOf("Flat", {room("Lounge", {accessory("Strip", {colourBulb("Strip", {false, 10, 10, 300})})}),
                                    room("Study", Json::array())}),
                    {"Lounge"});
    }

    ProcessResult pair(const std::string& name, const std::string& code, const std::string& room = "Lounge") {
        return glimmora({"home", "pair", name, "--room", room, "--address", "127.0.0.1", "--port",
                         std::to_string(lamp.port()), "--code", code});
    }

    TestAccessory lamp;
};

// Paired while the home screen runs, the lamp follows the next clip with no restart; unpaired, its
// session closes and nothing more goes to it.
TEST_F(RealLamp, ALampPairedWhileTheHomeScreenRunsFollowsTheVideoUntilItIsUnpaired) {
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();
    ProcessResult paired = pair("Desk Lamp", lamp.code());
    ASSERT_EQ(paired.exitCode, 0) << paired.err;
    EXPECT_THAT(paired.out, HasSubstr("Paired \"Desk Lamp\""));
    EXPECT_THAT(paired.err, ::testing::Not(HasSubstr("restart")));
    // The lamp's lightbulb, with the lamp's own metadata, is in the home description.
    std::string description = fileText(devicePath() + "/home.json");
    EXPECT_THAT(description, HasSubstr("\"hap\""));
    EXPECT_THAT(description, HasSubstr("\"stepValue\""));
    EXPECT_THAT(description, ::testing::Not(HasSubstr(lamp.code())));

    ProcessResult played = glimmora({"play", writeClip("clip.mp4", "#30c060*6,blue*6,#e0a020*12")});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    const LightColour last = lightColourOf(0xe0, 0xa0, 0x20);
    EXPECT_TRUE(eventuallyShows("Strip", last));
    std::optional<LightState> reported;
    EXPECT_TRUE(eventually([&] {
        reported = lampSays(devicePath(), lamp);
        return reported && showsColour(*reported, last);
    })) << "the lamp holds "
        << (reported ? ::testing::PrintToString(*reported) : "nothing readable");
    // The device's own view is what the lamp holds.
    EXPECT_TRUE(eventually([&] { return reported && light("Desk Lamp") == *reported; }));
    EXPECT_TRUE(healthy(*homeScreen));

    ProcessResult unpaired = glimmora({"home", "unpair", "Desk Lamp"});
    ASSERT_EQ(unpaired.exitCode, 0) << unpaired.err;
    // Let the home screen take the change in before the next clip.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string lampLog = lamp.log();
    played = glimmora({"play", writeClip("other.mp4", "red*6,#2040e0*12")});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(eventuallyShows("Strip", lightColourOf(0x20, 0x40, 0xe0)));
    EXPECT_EQ(lamp.log(), lampLog) << "a write went to the unpaired lamp";
    // (The lamp drops the session as its pairing is removed, before the home changes, and the home
    // screen logs that it lost it: its standard error is not bare here.)
    EXPECT_TRUE(homeScreen->running());
}

TEST_F(RealLamp, AWrongCodeOrALampPairedElsewhereIsRefusedAndNothingIsKept) {
    ProcessResult wrong = pair("Desk Lamp", "111-22-333");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_THAT(wrong.err, HasSubstr("setup code"));
    EXPECT_THAT(wrong.err, HasSubstr("nothing was recorded"));
    EXPECT_THAT(fileText(devicePath() + "/home.json"), ::testing::Not(HasSubstr("Desk Lamp")));
    ProcessResult malformed = pair("Desk Lamp", "12345678");
    EXPECT_EQ(malformed.exitCode, 1);
    EXPECT_THAT(malformed.err, HasSubstr("XXX-XX-XXX"));

    ASSERT_EQ(pair("Desk Lamp", lamp.code()).exitCode, 0);
    // A second device finds the lamp taken.
    TempDirectory other;
    ProcessResult taken = runGlimmora(other.path(), {"home", "pair", "Lamp", "--room", "Den", "--address", "127.0.0.1",
                                                     "--port", std::to_string(lamp.port()), "--code", lamp.code()});
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_THAT(taken.err, HasSubstr("removed first"));

    // Unpaired here, the lamp is free for the other device.
    ProcessResult unpaired = glimmora({"home", "unpair", "Desk Lamp"});
    EXPECT_EQ(unpaired.exitCode, 0) << unpaired.err;
    EXPECT_THAT(fileText(devicePath() + "/home.json"), ::testing::Not(HasSubstr("Desk Lamp")));
    ProcessResult again = runGlimmora(other.path(), {"home", "pair", "Lamp", "--room", "Den", "--address", "127.0.0.1",
                                                     "--port", std::to_string(lamp.port()), "--code", lamp.code()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

TEST_F(RealLamp, TheDeviceShowsChangesMadeByAnotherControllerAndALampThatIsGone) {
    ASSERT_EQ(pair("Desk Lamp", lamp.code()).exitCode, 0);
    auto homeScreen = startHomeScreen();
    ASSERT_TRUE(BackgroundProcess::waitFor([&] { return serving(); }, kEventually)) << homeScreen->err();

    // Another connection (a second controller's session, as far as the lamp is concerned) turns
    // it to hue 200: the lamp tells the home screen, whose store shows it.
    {
        auto keyring = device::hap::Keyring::open(devicePath());
        ASSERT_TRUE(keyring.ok()) << keyring.status().message();
        auto session = device::hap::Session::open({"127.0.0.1", lamp.port()}, keyring->controller(),
                                                  *keyring->pairing(lamp.identifier()), kExchange);
        ASSERT_TRUE(session.ok()) << session.status().message();
        auto response = (*session)->request("GET", "/accessories", "", kExchange);
        ASSERT_TRUE(response.ok()) << response.status().message();
        auto services = device::hap::parseAccessoryDatabase(response->body);
        ASSERT_TRUE(services.ok()) << services.status().message();
        uint64_t aid = 0, iid = 0;
        for (const auto& service : *services)
            for (const auto& c : service.characteristics)
                if (c.type == device::hap::kHueCharacteristic) aid = c.aid, iid = c.iid;
        ASSERT_NE(iid, 0u);
        std::string body = "{\"characteristics\":[{\"aid\":" + std::to_string(aid) + ",\"iid\":" + std::to_string(iid) +
                           ",\"value\":200}]}";
        auto written = (*session)->request("PUT", "/characteristics", body, kExchange);
        ASSERT_TRUE(written.ok()) << written.status().message();
        EXPECT_EQ(written->status, 204);
    }
    EXPECT_TRUE(eventually([&] { return light("Desk Lamp").hue == 200; })) << light("Desk Lamp");
    EXPECT_TRUE(healthy(*homeScreen));

    lamp.kill();
    EXPECT_TRUE(eventually([&] {
        Json shown = show();
        if (shown.is_null()) return false;
        for (const Json& home : shown["homes"])
            for (const Json& room : home["rooms"])
                for (const Json& light : room["lights"])
                    if (light["accessory"] == "Desk Lamp") return light.value("reachable", true) == false;
        return false;
    }));
    EXPECT_TRUE(homeScreen->running());
}

}  // namespace
}  // namespace system_test
