// The home description loader: any text as "home.json". A refusal names the file and a line that
// is in the text and leaves the caller's description untouched; an accepted description has
// upper-case identifiers derived the same way every time, reads back the same from the file
// once installed, and is written back (as pairing writes the home) as text that reads back with
// the same identifiers and writes again the same.
#include <algorithm>
#include <cctype>

#include <homes/ExampleHome.h>
#include <homes/HomeDescription.h>
#include <homes/HomeDescriptionWriter.h>

#include "FuzzSupport.h"

namespace {

constexpr const char* kSourceName = "home.json";

std::vector<fuzz::Seed> makeSeeds() {
    const std::string example = exampleHomeDescription();
    std::vector<fuzz::Seed> seeds = {
        {"example", example},
        {"empty", R"({"homes": []})"},
        {"uuids-and-faults", R"({"homes": [{"name": "Casa", "uuid": "a0000000-0000-4000-8000-000000000001",
  "primary": true, "rooms": [{"name": "Hall", "accessories": [
    {"name": "Lamp", "latencyMs": 0, "fault": "unreachable", "timeoutMs": 5, "services": [
      {"type": "lightbulb", "characteristics": [
        {"type": "power", "value": true},
        {"type": "00000008-0000-1000-8000-0026BB765291", "value": 40,
         "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100, "stepValue": 1, "units": "percentage"}},
        {"type": "hue", "value": 12.5, "metadata": {"format": "float", "maximumValue": 360}}]}]},
    {"name": "Plug", "fault": "error", "services": [{"type": "outlet", "name": "Plug", "characteristics": [{"type": "power"}]}]}]}]},
  {"name": "Cabin", "rooms": []}]})"},
    };
    // A few broken variants of the example, each refused at a different place.
    std::string truncated = example.substr(0, example.size() / 2);
    seeds.push_back({"truncated", truncated});
    std::string unknownType = example;
    if (auto at = unknownType.find("\"lightbulb\""); at != std::string::npos) unknownType.replace(at, 11, "\"lamp\"");
    seeds.push_back({"unknown-type", unknownType});
    return seeds;
}

bool upperCase(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](unsigned char c) { return std::islower(c); });
}

// Every identifier of `homes`, in order, with the characteristic types.
std::vector<std::string> identifiers(const HomesDescription& homes) {
    std::vector<std::string> all;
    for (const auto& home : homes.homes) {
        all.push_back(home.identifier);
        for (const auto& room : home.rooms) {
            all.push_back(room.identifier);
            for (const auto& accessory : room.accessories) {
                all.push_back(accessory.identifier);
                for (const auto& service : accessory.services) {
                    all.push_back(service.identifier);
                    for (const auto& characteristic : service.characteristics) {
                        all.push_back(characteristic.identifier);
                        all.push_back(characteristic.type);
                    }
                }
            }
        }
    }
    return all;
}

void checkRefusal(std::string_view text, const std::string& why, const HomesDescription& untouched) {
    // "<source>:<line>[:<column>]: ..."
    const std::string prefix = std::string(kSourceName) + ":";
    if (why.compare(0, prefix.size(), prefix) != 0) fuzz::fail("a refusal that does not name the file: " + why);
    size_t at = prefix.size();
    long line = 0;
    while (at < why.size() && std::isdigit(static_cast<unsigned char>(why[at]))) line = line * 10 + (why[at++] - '0');
    const long lines = 1 + std::count(text.begin(), text.end(), '\n');
    if (line < 1 || line > lines)
        fuzz::fail("a refusal names line " + std::to_string(line) + " of " + std::to_string(lines) + ": " + why);
    if (untouched.homes.size() != 1 || untouched.homes[0].name != "untouched")
        fuzz::fail("a refused description changed the caller's: " + why);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    fuzz::deviceDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    HomesDescription description;
    description.homes.push_back({.name = "untouched"});
    const device::Status refused = parseHomeDescription(text, kSourceName, &description);
    if (!refused.ok()) {
        checkRefusal(text, refused.message(), description);
        return 0;
    }

    const std::vector<std::string> first = identifiers(description);
    for (const std::string& identifier : first)
        if (identifier.empty() || !upperCase(identifier))
            fuzz::fail("an identifier that is empty or not upper case: " + identifier);

    // Installed and read back, the same description: the file holds exactly the text.
    const std::string& directory = fuzz::deviceDirectory();
    if (device::Status failure = installHomeDescription(directory, text); !failure.ok())
        fuzz::fail("install: " + failure.message());
    HomesDescription read;
    if (device::Status failure = readHomeDescription(directory + "/home.json", kSourceName, &read); !failure.ok())
        fuzz::fail("an installed description is refused on reading: " + failure.message());
    if (identifiers(read) != first) fuzz::fail("an installed description reads back with other identifiers");

    // Written by the writer, the description reads back as itself, and writes again the same.
    const std::string written = writeHomeDescription(description);
    HomesDescription again;
    if (device::Status failure = parseHomeDescription(written, kSourceName, &again); !failure.ok())
        fuzz::fail("a written description is refused on reading: " + failure.message() + "\n" + written);
    if (identifiers(again) != first) fuzz::fail("a written description reads back with other identifiers:\n" + written);
    if (writeHomeDescription(again) != written) fuzz::fail("a written description writes again otherwise:\n" + written);
    return 0;
}
