// The home description: refusals that name the line and the reason, identifiers derived the same
// way every time, and the built-in example home.
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <HomeKit/HMTypes.h>
#include <homes/ExampleHome.h>
#include <homes/HomeDescription.h>
#include <homes/TypeNames.h>

namespace {

using ::testing::HasSubstr;

std::string refusalOf(const std::string& text) {
    HomesDescription description;
    return parseHomeDescription(text, "home.json", &description).message();
}

HomesDescription parsed(const std::string& text) {
    HomesDescription description;
    device::Status problem = parseHomeDescription(text, "home.json", &description);
    EXPECT_EQ(problem.message(), "");
    return description;
}

// A home whose lamp has a second characteristic given by `characteristic` (on line 5).
std::string lampWith(const std::string& characteristic) {
    return "{\"homes\": [{\"name\": \"Flat\", \"rooms\": [{\"name\": \"Study\", \"accessories\": [\n"
           "  {\"name\": \"Desk Lamp\", \"services\": [{\"type\": \"lightbulb\",\n"
           "   \"characteristics\": [\n"
           "     {\"type\": \"power\"},\n"
           "     " +
           characteristic +
           "\n"
           "   ]}]}]}]}]}";
}

TEST(HomeDescriptionRefusals, NameTheLineAndTheReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "home.json:1:1: syntax error"},
        {"{\"homes\": [\n  {\"name\": \"Flat\",\n   \"rooms\": [}\n]}", "home.json:3:14: syntax error"},
        {"[]", "home.json:1: the description must be an object, not an array"},
        {"{\"homes\": []}\n{}", "home.json:2:1: syntax error"},
        {"{\"home\": []}", "home.json:1: unknown member \"home\""},
        {"{\n\"homes\": {}}", "home.json:2: \"homes\" must be an array, not an object"},
        {"{\"homes\": [\n {\"rooms\": []}]}", "home.json:2: home 1: missing \"name\""},
        {"{\"homes\": [{\"name\": \"\"}]}", "home.json:1: home 1: \"name\" must not be empty"},
        {lampWith("{\"type\": \"hue2\"}"),
         "home.json:5: accessory \"Desk Lamp\": service 1: characteristic 2: unknown type \"hue2\""},
        {lampWith("{\"type\": \"brightness\", \"value\": 150,\n\"metadata\": {\"maximumValue\": 100}}"),
         "home.json:5: accessory \"Desk Lamp\": service 1: characteristic 2: \"value\" 150 is above the maximum 100"},
        {lampWith("{\"type\": \"brightness\", \"value\": [1]}"),
         "\"value\" must be a number, a Boolean or a string, not an array"},
        {lampWith("{\"type\": \"hue\",\n \"metadata\": {\"format\": \"double\"}}"),
         "home.json:6: accessory \"Desk Lamp\": service 1: "
         "characteristic 2: unknown format \"double\""},
        {lampWith("{\"type\": \"hue\", \"metadata\": {\"minimumValue\": 5, \"maximumValue\": 1}}"),
         "\"maximumValue\" is below \"minimumValue\""},
        {lampWith("{\"type\": \"hue\", \"metadata\": {\"stepValue\": 0}}"), "\"stepValue\" must be above 0"},
        {lampWith("{\"type\": \"power\", \"uuid\": \"123\"}"),
         "home.json:5: accessory \"Desk Lamp\": service 1: characteristic 2: \"uuid\" \"123\" is not a UUID"},
        {lampWith("{\"type\": \"hue\", \"type\": \"power\"}"),
         "home.json:5: the member \"type\" appears twice in the same object"},
        {"{\"homes\": [{\"name\": \"A\", \"rooms\": [{\"name\": \"R\", \"accessories\": [\n"
         "{\"name\": \"L\", \"latencyMS\": 5}]}]}]}",
         "home.json:2: accessory \"L\": unknown member \"latencyMS\""},
        {"{\"homes\": [{\"name\": \"A\", \"rooms\": [{\"name\": \"R\", \"accessories\": [\n"
         "{\"name\": \"L\",\n \"latencyMs\": -1}]}]}]}",
         "home.json:3: accessory \"L\": \"latencyMs\" must be from 0 to 600000, not -1"},
        {"{\"homes\": [{\"name\": \"A\", \"rooms\": [{\"name\": \"R\", \"accessories\": [{\"name\": \"L\", "
         "\"timeoutMs\": 2.5}]}]}]}",
         "\"timeoutMs\" must be a whole number of milliseconds, not 2.5"},
        {"{\"homes\": [{\"name\": \"A\", \"rooms\": [{\"name\": \"R\", \"accessories\": [{\"name\": \"L\", \"fault\": "
         "\"flaky\"}]}]}]}",
         "accessory \"L\": unknown fault \"flaky\" (none, error or unreachable)"},
        {"{\"homes\": [{\"name\": \"A\", \"rooms\": [{\"name\": \"R\", \"accessories\": [{\"name\": \"L\", "
         "\"services\": [\n"
         "{\"type\": \"bulb\"}]}]}]}]}",
         "home.json:2: accessory \"L\": service 1: unknown type \"bulb\""},
        {"{\"homes\": [\n{\"name\": \"A\", \"primary\": true},\n{\"name\": \"B\",\n \"primary\": true}]}",
         "home.json:4: home \"B\": a second home is marked primary"},
        {"{\"homes\": [\n{\"name\": \"A\", \"uuid\": \"aaaaaaaa-1111-4111-8111-111111111111\"},\n"
         "{\"name\": \"B\", \"rooms\": [{\"name\": \"R\",\n \"uuid\": \"AAAAAAAA-1111-4111-8111-111111111111\"}]}]}",
         "home.json:4: room \"R\": uuid AAAAAAAA-1111-4111-8111-111111111111 is used twice (first on line 2)"},
        {"{\"homes\": " + std::string(40, '[') + std::string(40, ']') + "}", "home.json:1:"},
        // Beyond a double: the JSON reader throws another kind of error for that, with no place.
        {lampWith("{\"type\": \"hue\", \"value\": -2.5e308}"), "home.json:5:31: a number too large"},
        {"4E966E6A520993FF-818F-548A-9FF6-A741F01F7ED3-92B8-5B0rooms8-88A-9FD6-A741F01F7ED3-92B8-5B0roomsC77-"
         "B806A593AD39\xe7\",,i}",
         "home.json:1:1: a number too large"},
    };
    for (const auto& [text, expected] : cases) EXPECT_THAT(refusalOf(text), HasSubstr(expected)) << text;
    EXPECT_THAT(refusalOf("{\"homes\": " + std::string(40, '[') + std::string(40, ']') + "}"),
                HasSubstr("nested deeper"));
}

TEST(HomeDescriptionRefusals, LeaveTheDescriptionUntouched) {
    HomesDescription description = parsed("{\"homes\": [{\"name\": \"Kept\"}]}");
    EXPECT_FALSE(parseHomeDescription("{\"homes\": [{\"name\": 3}]}", "x", &description).ok());
    ASSERT_EQ(description.homes.size(), 1u);
    EXPECT_EQ(description.homes[0].name, "Kept");
}

// Two rooms with twin accessories; `swap` gives the rooms in the other order and moves the
// kettle to the other room.
std::string twins(bool swap) {
    std::string kitchen =
        R"({"name": "Kitchen", "accessories": [{"name": "Lamp"}, {"name": "Lamp"}, {"name": "Kettle"}]})";
    std::string hall = R"({"name": "Hall", "accessories": [{"name": "Lamp", "services": [{"type": "lightbulb",
        "characteristics": [{"type": "hue"}, {"type": "00000013-0000-1000-8000-0026bb765291"}]}]}]})";
    if (swap) {
        kitchen = R"({"name": "Kitchen", "accessories": [{"name": "Lamp"}, {"name": "Lamp"}]})";
        hall =
            R"({"name": "Hall", "accessories": [{"name": "Kettle"}, {"name": "Lamp", "services": [{"type": "lightbulb",
            "characteristics": [{"type": "hue"}, {"type": "00000013-0000-1000-8000-0026bb765291"}]}]}]})";
    }
    return R"({"homes": [{"name": "Flat", "rooms": [)" + (swap ? hall + "," + kitchen : kitchen + "," + hall) + "]}]}";
}

TEST(HomeDescriptionIdentifiers, DeriveFromNamesSoTheySurviveReorderingAndMoves) {
    HomesDescription before = parsed(twins(false));
    HomesDescription after = parsed(twins(true));
    const RoomDescription& kitchen = before.homes[0].rooms[0];
    const RoomDescription& hall = before.homes[0].rooms[1];
    EXPECT_EQ(after.homes[0].identifier, before.homes[0].identifier);
    EXPECT_EQ(after.homes[0].rooms[1].identifier, kitchen.identifier);
    EXPECT_EQ(after.homes[0].rooms[0].identifier, hall.identifier);
    EXPECT_NE(kitchen.accessories[0].identifier, kitchen.accessories[1].identifier) << "twins differ";
    EXPECT_EQ(after.homes[0].rooms[0].accessories[0].identifier, kitchen.accessories[2].identifier)
        << "an accessory keeps its identifier when it moves to another room";
    // Two characteristics of one type (one named by UUID text) differ, and types come out upper case.
    const ServiceDescription& bulb = hall.accessories[0].services[0];
    EXPECT_NE(bulb.characteristics[0].identifier, bulb.characteristics[1].identifier);
    EXPECT_EQ(bulb.characteristics[1].type, HMCharacteristicTypeHue->string());
    EXPECT_EQ(bulb.name, "Lamp") << "a service without a name takes its accessory's";

    // Children are derived from their parent's identifier, so a home given one keeps its rooms'
    // identifiers when it is renamed.
    auto roomOf = [](const char* homeName) {
        return parsed(std::string(R"({"homes": [{"name": ")") + homeName +
                      R"(", "uuid": "0b0b0b0b-0000-4000-8000-000000000000", "rooms": [{"name": "Den"}]}]})")
            .homes[0]
            .rooms[0]
            .identifier;
    };
    EXPECT_EQ(roomOf("Old name"), roomOf("New name"));
}

TEST(ExampleHome, IsAValidDescriptionWithEveryKindOfLight) {
    HomesDescription example = parsed(exampleHomeDescription());
    ASSERT_EQ(example.homes.size(), 2u);
    EXPECT_TRUE(example.homes[0].primary);
    int lights = 0, bareLights = 0, slow = 0, twoLightAccessories = 0, temperatureLights = 0, roomsWithoutLights = 0;
    std::set<std::string> otherServices;
    for (const HomeDescription& home : example.homes) {
        for (const RoomDescription& room : home.rooms) {
            int roomLights = 0;
            for (const AccessoryDescription& accessory : room.accessories) {
                int accessoryLights = 0;
                slow += accessory.latencyMs >= 100;
                for (const ServiceDescription& service : accessory.services) {
                    if (service.type != HMServiceTypeLightbulb->string()) {
                        otherServices.insert(device::shortNameOfServiceType(service.type));
                        continue;
                    }
                    ++accessoryLights;
                    bool anyMetadata = false;
                    for (const CharacteristicDescription& c : service.characteristics) {
                        anyMetadata = anyMetadata || c.metadata.has_value();
                        temperatureLights += c.type == HMCharacteristicTypeColorTemperature->string();
                    }
                    bareLights += !anyMetadata;
                }
                lights += accessoryLights;
                roomLights += accessoryLights;
                twoLightAccessories += accessoryLights == 2;
            }
            roomsWithoutLights += roomLights == 0;
        }
    }
    EXPECT_GE(lights, 6);
    EXPECT_LE(lights, 10);
    EXPECT_GE(bareLights, 1);
    EXPECT_GE(slow, 1);
    EXPECT_GE(twoLightAccessories, 1);
    EXPECT_GE(temperatureLights, 1);
    EXPECT_GE(roomsWithoutLights, 1);
    EXPECT_EQ(otherServices, (std::set<std::string>{"fan", "outlet", "switch"}));
    EXPECT_EQ(example.homes[0].rooms[2].name, "Guest_Room");
    EXPECT_EQ(parsed(exampleHomeDescription()).homes[1].rooms[0].identifier, example.homes[1].rooms[0].identifier);
}

}  // namespace
