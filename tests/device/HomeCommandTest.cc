// `glimmora home` as its own process: installing homes, refusing bad ones without losing the old,
// showing the accessory state other processes wrote, and selecting rooms in the settings store.
#include <sys/stat.h>
#include <algorithm>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <HBPreferences/HBPreferences.h>
#include <accessories/AccessoryStore.h>
#include <apps/GlimmoraSettings.h>
#include <homes/ExampleHome.h>
#include <homes/HomeDescription.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

namespace {

using ::testing::HasSubstr;

class HomeCommandTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1); }

    static ProcessResult home(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {glimmoraCommand(), "home"});
        return runProcess(arguments);
    }
    static nlohmann::json show() {
        ProcessResult result = home({"show", "--json"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return nlohmann::json::parse(result.out, nullptr, false);
    }
    // The light called `name` in `shown`, or null.
    static nlohmann::json light(const nlohmann::json& shown, const std::string& name) {
        for (auto& home : shown["homes"])
            for (auto& room : home["rooms"])
                for (auto& light : room["lights"])
                    if (light["name"] == name) return light;
        return nullptr;
    }
    // The identifier text of the room called `name` in the installed description.
    std::string roomIdentifier(const std::string& name) const {
        HomesDescription description;
        EXPECT_EQ(readHomeDescription(device_.path() + "/home.json", "home.json", &description).message(), "");
        for (auto& home : description.homes)
            for (auto& room : home.rooms)
                if (room.name == name) return room.identifier;
        ADD_FAILURE() << "no room " << name;
        return {};
    }
    // The stored value of the `index`th characteristic of the light called `name` (in the example home).
    std::string characteristicIdentifier(const std::string& lightName, size_t index) const {
        HomesDescription description;
        EXPECT_EQ(readHomeDescription(device_.path() + "/home.json", "home.json", &description).message(), "");
        for (auto& home : description.homes)
            for (auto& room : home.rooms)
                for (auto& accessory : room.accessories)
                    for (auto& service : accessory.services)
                        if (service.name == lightName) return service.characteristics.at(index).identifier;
        ADD_FAILURE() << "no light " << lightName;
        return {};
    }
    std::string writeFile(const std::string& name, const std::string& text) const {
        std::string path = device_.path() + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::string installedText() const {
        std::ifstream file(device_.path() + "/home.json");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static Strong<HBPreferences> settings() { return device::openGlimmoraSettings(); }

    TempDirectory device_;
};

TEST_F(HomeCommandTest, InitInstallsTheExampleOnceAndForceResetsTheAccessories) {
    ProcessResult none = home({"show"});
    EXPECT_NE(none.exitCode, 0);
    EXPECT_THAT(none.err, HasSubstr("glimmora home init"));

    ASSERT_EQ(home({"init"}).exitCode, 0);
    EXPECT_EQ(installedText(), exampleHomeDescription());
    nlohmann::json shown = show();
    ASSERT_EQ(shown["homes"].size(), 2u);
    EXPECT_EQ(shown["homes"][0]["primary"], true);
    EXPECT_EQ(shown["homes"][1]["primary"], false);
    EXPECT_EQ(light(shown, "Desk Lamp")["brightness"], 90);

    // Another process of the device changes a light; show reads it from the shared state.
    AccessoryStore store(device_.path());
    ASSERT_EQ(store.write(characteristicIdentifier("Desk Lamp", 1), NSNumber::numberWithInteger(7)).message(), "");
    EXPECT_EQ(light(show(), "Desk Lamp")["brightness"], 7);

    ProcessResult again = home({"init"});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_THAT(again.err, HasSubstr("already exists"));
    EXPECT_EQ(light(show(), "Desk Lamp")["brightness"], 7) << "a refused init changes nothing";
    ASSERT_EQ(home({"init", "--force"}).exitCode, 0);
    EXPECT_EQ(light(show(), "Desk Lamp")["brightness"], 90);

    struct stat info {};
    ASSERT_EQ(stat((device_.path() + "/accessories.sqlite3").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(HomeCommandTest, LoadRefusesAMalformedFileWithItsLineAndKeepsTheOldHome) {
    ASSERT_EQ(home({"init"}).exitCode, 0);
    std::string before = installedText();
    std::string bad =
        writeFile("bad.json",
                  "{\"homes\": [\n"
                  "  {\"name\": \"Flat\", \"rooms\": [\n"
                  "    {\"name\": \"Den\", \"accessories\": [\n"
                  "      {\"name\": \"Desk Lamp\", \"services\": [{\"type\": \"lightbulb\", \"characteristics\": [\n"
                  "        {\"type\": \"power\"},\n"
                  "        {\"type\": \"hue2\"}]}]}]}]}]}\n");
    ProcessResult refused = home({"load", bad});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_THAT(refused.err,
                HasSubstr(bad + ":6: accessory \"Desk Lamp\": service 1: characteristic 2: unknown type \"hue2\""));
    std::string broken = writeFile("broken.json", "{\"homes\": [\n{\"name\": \"Flat\",,}]}");
    ProcessResult syntax = home({"load", broken});
    EXPECT_NE(syntax.exitCode, 0);
    EXPECT_THAT(syntax.err, HasSubstr(broken + ":2:17: syntax error"));
    EXPECT_NE(home({"load", device_.path() + "/missing.json"}).exitCode, 0);
    EXPECT_EQ(installedText(), before);
    EXPECT_EQ(show()["homes"].size(), 2u);
}

TEST_F(HomeCommandTest, LoadKeepsTheStateOfAccessoriesThatStayAndDropsTheRest) {
    ASSERT_EQ(home({"init"}).exitCode, 0);
    AccessoryStore store(device_.path());
    ASSERT_EQ(store.write(characteristicIdentifier("Desk Lamp", 3), NSNumber::numberWithDouble(123.0)).message(), "");
    std::string floorLampPower = characteristicIdentifier("Floor Lamp", 0);

    // Only the studio with its desk lamp: same names, so the same derived identifiers.
    std::string studio = writeFile("studio.json", R"({"homes": [{"name": "Studio", "rooms": [{"name": "Workshop",
        "accessories": [{"name": "Desk Lamp", "services": [{"type": "lightbulb", "name": "Desk Lamp",
        "characteristics": [{"type": "power", "value": false}, {"type": "brightness", "value": 1},
                            {"type": "saturation", "value": 1}, {"type": "hue", "value": 1}]}]}]}]}]})");
    ProcessResult loaded = home({"load", studio});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    nlohmann::json shown = show();
    ASSERT_EQ(shown["homes"].size(), 1u);
    EXPECT_EQ(shown["homes"][0]["primary"], true) << "the only home is the primary one";
    nlohmann::json lamp = light(shown, "Desk Lamp");
    EXPECT_EQ(lamp["hue"], 123.0) << "state of an accessory that stays is kept";
    EXPECT_EQ(lamp["power"], true);

    std::unordered_map<std::string, Strong<NSObject>> values;
    ASSERT_EQ(store.readAll(&values).message(), "");
    EXPECT_EQ(values.count(floorLampPower), 0u) << "accessories that went have no state left";
    EXPECT_EQ(values.size(), 4u);
}

TEST_F(HomeCommandTest, SelectsRoomsByNameOrIdentifierAndRefusesUnknownOnesWritingNothing) {
    ASSERT_EQ(home({"init"}).exitCode, 0);
    std::string kitchen = roomIdentifier("Kitchen");
    std::string guest = roomIdentifier("Guest_Room");
    std::string lowerGuest = guest;
    for (char& c : lowerGuest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    ProcessResult selected = home({"select", "Kitchen", lowerGuest});
    ASSERT_EQ(selected.exitCode, 0) << selected.err;
    EXPECT_TRUE(settings()->boolForKey(NSString::stringWithString(kitchen).get()));
    EXPECT_TRUE(settings()->boolForKey(NSString::stringWithString(guest).get()));
    nlohmann::json shown = show();
    EXPECT_EQ(shown["homes"][0]["rooms"][1]["selected"], true);
    EXPECT_EQ(shown["homes"][0]["rooms"][0]["selected"], false);

    ASSERT_EQ(home({"deselect", "Kitchen"}).exitCode, 0);
    Strong<NSObject> stored = settings()->objectForKey(NSString::stringWithString(kitchen).get());
    EXPECT_TRUE(stored && stored->isEqual(NSNumber::numberWithBool(NO))) << "deselecting stores NO";

    for (const char* unknown : {"Nowhere", "kitchen"}) {
        ProcessResult refused = home({"select", "Living Room", unknown});
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_THAT(refused.err, HasSubstr(std::string("\"") + unknown + "\""));
    }
    EXPECT_EQ(settings()->objectForKey(NSString::stringWithString(roomIdentifier("Living Room")).get()).get(), nil)
        << "a refused selection writes nothing, not even for the rooms that were found";

    std::string twins = writeFile("twins.json", R"({"homes": [{"name": "A", "rooms": [{"name": "Den"}]},
                                                             {"name": "B", "rooms": [{"name": "Den"}]}]})");
    ASSERT_EQ(home({"load", twins}).exitCode, 0);
    ProcessResult ambiguous = home({"select", "Den"});
    EXPECT_NE(ambiguous.exitCode, 0);
    EXPECT_THAT(ambiguous.err, HasSubstr("more than one room is named \"Den\""));
}

// Names with escape sequences, newlines, a NUL and a C1 control, as a hostile home description could
// give them.
constexpr const char* kHostileHome = R"({"homes": [{"name": "Casa\u001b]0;owned\u0007", "rooms": [
    {"name": "Den\u001b[2J\nHome \"Forged\"", "accessories": [{"name": "Lamp\u0000Hidden", "services": [
        {"type": "lightbulb", "name": "Bulb\r\u009b31m", "characteristics": [{"type": "power"}]}]}]}]}]})";

// Whether `text` holds nothing a terminal acts on but line ends.
bool onlyPrintable(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7f) return false;
        if (byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f) return false;
    }
    return true;
}

TEST_F(HomeCommandTest, NamesFromTheDescriptionShowWithTheirControlCharactersEscaped) {
    ASSERT_EQ(home({"load", writeFile("hostile.json", kHostileHome)}).exitCode, 0);
    ProcessResult shown = home({"show"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_TRUE(onlyPrintable(shown.out)) << shown.out;
    EXPECT_THAT(shown.out, HasSubstr(R"(Home "Casa\x1b]0;owned\x07")"));
    EXPECT_THAT(shown.out, HasSubstr(R"(Room "Den\x1b[2J\nHome \"Forged\"")"));
    EXPECT_THAT(shown.out, HasSubstr(R"("Bulb\r\xc2\x9b31m" of "Lamp\x00Hidden")"));
    EXPECT_EQ(std::count(shown.out.begin(), shown.out.end(), '\n'), 3) << "a name forges no line";

    ProcessResult selected = home({"select", "Den\x1b[2J\nHome \"Forged\""});
    ASSERT_EQ(selected.exitCode, 0) << selected.err;
    EXPECT_TRUE(onlyPrintable(selected.out)) << selected.out;
    EXPECT_THAT(selected.out, HasSubstr(R"(Selected "Den\x1b[2J\nHome \"Forged\"")"));
    ProcessResult unknown = home({"select", "Attic\x1b[2J"});
    EXPECT_NE(unknown.exitCode, 0);
    EXPECT_TRUE(onlyPrintable(unknown.err)) << unknown.err;

    // Refusals quote the file's names and members escaped too.
    ProcessResult refused =
        home({"load", writeFile("bad.json", R"({"homes": [{"name": "\u001b[2J", "\u001b]0;x": 1}]})")});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(onlyPrintable(refused.err)) << refused.err;
    EXPECT_THAT(refused.err, HasSubstr(R"(home "\x1b[2J": unknown member "\x1b]0;x")"));
}

}  // namespace

TEST_F(HomeCommandTest, PairRefusesABlankNameAndAPortThatIsNotOneBeforeDialling) {
    ASSERT_EQ(home({"init"}).exitCode, 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"pair", "   ", "--room", "Den", "--address", "lamp.local", "--port", "51826", "--code", "031-45-154"},
         "name that is not blank"},
        {{"pair", "Lamp", "--room", "Den", "--address", "lamp.local", "--port", "abc", "--code", "031-45-154"},
         "\"abc\" is not a TCP port"},
        {{"pair", "Lamp", "--room", "Den", "--address", "lamp.local", "--port", "08080", "--code", "031-45-154"},
         "is not a TCP port"},
    };
    for (const auto& [arguments, expected] : cases) {
        ProcessResult refused = home(arguments);
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_THAT(refused.err, HasSubstr(expected));
    }
}

TEST_F(HomeCommandTest, UnpairRefusesWhatNamesNoPairedLampAndLeavesTheHomeAsItWas) {
    ASSERT_EQ(home({"init"}).exitCode, 0);
    const std::string before = installedText();
    // A simulated accessory's name, and an empty identifier (which no simulated accessory's missing
    // pairing matches).
    for (const std::string& nameOrId : {std::string("Floor Lamp"), std::string()}) {
        ProcessResult refused = home({"unpair", nameOrId});
        EXPECT_EQ(refused.exitCode, 1) << nameOrId;
        EXPECT_THAT(refused.err, HasSubstr("no paired accessory is named or identified"));
        EXPECT_EQ(installedText(), before);
    }
}
