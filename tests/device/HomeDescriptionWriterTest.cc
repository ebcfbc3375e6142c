// The home description writer: what it writes reads back as the description written, and writing
// that again gives the same text; only what differs from the defaults is written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <homes/ExampleHome.h>
#include <homes/HomeDescription.h>
#include <homes/HomeDescriptionWriter.h>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

HomesDescription parsed(const std::string& text) {
    HomesDescription description;
    device::Status problem = parseHomeDescription(text, "home.json", &description);
    EXPECT_EQ(problem.message(), "") << text;
    return description;
}

std::string optionalText(const std::optional<double>& value) { return value ? std::to_string(*value) : "-"; }

// A value with its kind, so that a Boolean written as 1 or a real number written as a whole one shows.
std::string valueText(NSObject* value) {
    if (auto* number = objc_cast<NSNumber>(value))
        return std::to_string(static_cast<int>(number->kind())) + ":" + describeValue(value);
    return describeValue(value);
}

// Everything a description holds but where its characteristics start in the file, one line each,
// so that a difference shows as the line that differs.
std::vector<std::string> facts(const HomesDescription& description) {
    std::vector<std::string> all;
    for (const HomeDescription& home : description.homes) {
        all.push_back("home " + home.name + " " + home.identifier + (home.identifierGiven ? " given" : "") +
                      (home.primary ? " primary" : ""));
        for (const RoomDescription& room : home.rooms) {
            all.push_back(" room " + room.name + " " + room.identifier + (room.identifierGiven ? " given" : ""));
            for (const AccessoryDescription& accessory : room.accessories) {
                all.push_back("  accessory " + accessory.name + " " + accessory.identifier +
                              (accessory.identifierGiven ? " given" : "") + " latency " +
                              std::to_string(accessory.latencyMs) + " fault " +
                              std::to_string(static_cast<int>(accessory.fault)) + " timeout " +
                              std::to_string(accessory.timeoutMs));
                if (accessory.hap)
                    all.push_back("  at " + accessory.hap->host + ":" + std::to_string(accessory.hap->port) + " id " +
                                  accessory.hap->pairingId);
                for (const ServiceDescription& service : accessory.services) {
                    all.push_back("   service " + service.type + " " + service.name +
                                  (service.nameGiven ? " given" : "") + " " + service.identifier +
                                  (service.identifierGiven ? " given" : ""));
                    for (const CharacteristicDescription& c : service.characteristics) {
                        all.push_back("    characteristic " + c.type + " " + c.identifier +
                                      (c.identifierGiven ? " given" : "") + " value " + valueText(c.value.get()) +
                                      " hap " + std::to_string(c.aid) + "." + std::to_string(c.iid));
                        if (c.metadata)
                            all.push_back("    metadata " + c.metadata->format + " " +
                                          optionalText(c.metadata->minimumValue) + " " +
                                          optionalText(c.metadata->maximumValue) + " " +
                                          optionalText(c.metadata->stepValue) + " " + c.metadata->units);
                    }
                }
            }
        }
    }
    return all;
}

// Every member the file knows, with values of every kind and limits that are not whole numbers.
const char* kEveryField = R"({"homes": [
  {"name": "Casa \"Sol\"", "uuid": "a0000000-0000-4000-8000-000000000001", "primary": true, "rooms": [
    {"name": "Sala", "uuid": "a0000000-0000-4000-8000-000000000002", "accessories": [
      {"name": "Slow Lamp", "uuid": "a0000000-0000-4000-8000-000000000003", "latencyMs": 250, "fault": "error",
       "timeoutMs": 700, "services": [
        {"type": "lightbulb", "name": "Left", "uuid": "a0000000-0000-4000-8000-000000000004", "characteristics": [
          {"type": "power", "uuid": "a0000000-0000-4000-8000-000000000005", "value": false},
          {"type": "brightness", "value": 40,
           "metadata": {"format": "int", "minimumValue": -5, "maximumValue": 100, "stepValue": 0.5,
                        "units": "percentage"}},
          {"type": "hue", "value": 12.0, "metadata": {"maximumValue": 359.9}},
          {"type": "name", "value": "Left \u0001 \u00e9"}]},
        {"type": "ABCDEF00-0000-1000-8000-0026BB765291", "characteristics": [
          {"type": "12345678-0000-1000-8000-0026bb765291", "metadata": {}}]}]},
      {"name": "Gone", "fault": "unreachable", "services": []}]},
    {"name": "Porch", "accessories": [
      {"name": "Real Lamp", "hap": {"address": "lamp.local", "port": 51826, "id": "AB:CD:EF:01:02:03"},
       "services": [{"type": "lightbulb", "characteristics": [
         {"type": "power", "value": true, "metadata": {"format": "bool"}, "hap": {"aid": 1, "iid": 9}},
         {"type": "saturation", "value": 1e20, "hap": {"aid": 18446744073709551615, "iid": 10}}]}]}]}]},
  {"name": "Cabin", "rooms": []}]})";

TEST(HomeDescriptionWriter, WritesWhatReadsBackTheSameAndWritesItAgainTheSame) {
    for (const std::string& source : {std::string(kEveryField), exampleHomeDescription()}) {
        HomesDescription original = parsed(source);
        std::string text = writeHomeDescription(original);
        HomesDescription reread = parsed(text);
        EXPECT_EQ(facts(reread), facts(original));
        EXPECT_EQ(writeHomeDescription(reread), text);
        EXPECT_EQ(text.back(), '\n');
    }
    // Given identifiers are written; derived ones are not, so they follow a renamed parent.
    HomesDescription example = parsed(exampleHomeDescription());
    EXPECT_THAT(exampleHomeDescription(), Not(HasSubstr("\"uuid\"")));
    example.homes[0].name = "Renamed";
    EXPECT_NE(parsed(writeHomeDescription(example)).homes[0].rooms[0].identifier, example.homes[0].rooms[0].identifier);
    HomesDescription given = parsed(kEveryField);
    given.homes[0].name = "Renamed";
    EXPECT_EQ(parsed(writeHomeDescription(given)).homes[0].rooms[1].identifier, given.homes[0].rooms[1].identifier)
        << "a room derived under a home with a given identifier keeps its own";
}

TEST(HomeDescriptionWriter, WritesOnlyWhatDiffersFromTheDefaults) {
    HomesDescription bare = parsed(R"({"homes": [{"name": "H", "rooms": [{"name": "R", "accessories": [
        {"name": "A", "latencyMs": 20, "fault": "none", "timeoutMs": 10000, "services": [
          {"type": "00000043-0000-1000-8000-0026bb765291", "name": "", "characteristics": [
            {"type": "power", "metadata": {"units": ""}}]}]}]}]}]})");
    EXPECT_EQ(writeHomeDescription(bare), R"({
  "homes": [
    {
      "name": "H",
      "rooms": [
        {
          "name": "R",
          "accessories": [
            {
              "name": "A",
              "services": [
                {
                  "type": "lightbulb",
                  "characteristics": [
                    {
                      "type": "power",
                      "metadata": {}
                    }
                  ]
                }
              ]
            }
          ]
        }
      ]
    }
  ]
}
)");
    // A real accessory takes no simulated latency or fault, even when its description holds them.
    HomesDescription real = parsed(kEveryField);
    AccessoryDescription& lamp = real.homes[0].rooms[1].accessories[0];
    lamp.latencyMs = 5;
    lamp.fault = AccessoryFault::error;
    HomesDescription written = parsed(writeHomeDescription(real));
    const AccessoryDescription& reread = written.homes[0].rooms[1].accessories[0];
    EXPECT_EQ(reread.latencyMs, AccessoryDescription().latencyMs);
    EXPECT_EQ(reread.fault, AccessoryFault::none);
}

}  // namespace
