#include "SettingsState.h"

#include <ctime>

#include <nlohmann/json.hpp>

#include <Foundation/Foundation.h>
#include <activity/FrameOrigin.h>
#include <apps/GlimmoraSettings.h>
#include <apps/HomeLights.h>

#include "../LightColours.h"

namespace {

using json = nlohmann::ordered_json;

// The strings of the list stored under `key`; empty when there is none or it is not a list.
std::vector<std::string> stringList(HBPreferences* settings, const char* key, bool* present) {
    std::vector<std::string> strings;
    Strong<NSObject> value = settings->objectForKey(NSString::stringWithUTF8String(key).get());
    auto* list = dynamic_cast<NSArray*>(value.get());
    *present = list != nullptr;
    if (list == nullptr) return strings;
    for (const Strong<NSObject>& item : *list)
        if (auto* text = dynamic_cast<NSString*>(item.get())) strings.push_back(text->string());
    return strings;
}

json number(bool present, NSObject* value) {
    double n = 0;
    if (!present || !device::numericValue(value, &n)) return nullptr;
    return n;
}

json rgb(const Rgb& colour) { return json::array({colour.red, colour.green, colour.blue}); }

// The wall-clock time, in milliseconds since the epoch, of the monotonic time `nanos`: what a
// browser on this machine can compare with its own clock. The offset between the two clocks is
// taken once, so that the same moment always gives the same number (the state is sent when its text
// changes).
double wallMillis(uint64_t nanos) {
    static const double offset = [] {
        timespec wall{};
        clock_gettime(CLOCK_REALTIME, &wall);
        const double nowWall = static_cast<double>(wall.tv_sec) * 1e3 + static_cast<double>(wall.tv_nsec) / 1e6;
        return nowWall - static_cast<double>(device::monotonicNanos()) / 1e6;
    }();
    return offset + static_cast<double>(nanos) / 1e6;
}

json catalogueJson(HBPreferences* settings, json& problems) {
    Catalogue catalogue;
    if (!readCatalogue(settings, &catalogue)) return nullptr;
    for (const std::string& entry : catalogue.unreadable)
        problems.push_back("the catalogue has an entry that is not a name and identifiers: " + entry);
    json out = {{"homes", json::array()}};
    for (const CatalogueHome& home : catalogue.homes) {
        json roomList = json::array();
        for (const CatalogueRoom& room : catalogue.rooms) {
            if (room.homeIdentifier != home.identifier) continue;
            roomList.push_back(
                {{"name", room.name},
                 {"identifier", room.identifier},
                 {"selected",
                  settings->boolForKey(NSString::stringWithUTF8String(room.identifier.c_str()).get()) != NO}});
        }
        out["homes"].push_back({{"name", home.name}, {"identifier", home.identifier}, {"rooms", roomList}});
    }
    return out;
}

}  // namespace

bool readCatalogue(HBPreferences* settings, Catalogue* out) {
    bool haveHomes = false, haveRooms = false;
    std::vector<std::string> homes = stringList(settings, device::kHomesKey, &haveHomes);
    std::vector<std::string> rooms = stringList(settings, device::kRoomsKey, &haveRooms);
    *out = parseCatalogue(homes, rooms);
    return haveHomes || haveRooms;
}

bool isIdentifierText(const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

Catalogue parseCatalogue(const std::vector<std::string>& homes, const std::vector<std::string>& rooms) {
    Catalogue catalogue;
    // The identifiers are the last 37 characters of a field each ("_" and the identifier text).
    auto lastIdentifier = [](const std::string& entry, size_t end, std::string* identifier) {
        if (end < 37 || entry[end - 37] != '_') return false;
        *identifier = entry.substr(end - 36, 36);
        return isIdentifierText(*identifier);
    };
    for (const std::string& entry : homes) {
        CatalogueHome home;
        if (!lastIdentifier(entry, entry.size(), &home.identifier)) {
            catalogue.unreadable.push_back(entry);
            continue;
        }
        home.name = entry.substr(0, entry.size() - 37);
        catalogue.homes.push_back(home);
    }
    for (const std::string& entry : rooms) {
        CatalogueRoom room;
        if (!lastIdentifier(entry, entry.size(), &room.homeIdentifier) ||
            !lastIdentifier(entry, entry.size() - 37, &room.identifier)) {
            catalogue.unreadable.push_back(entry);
            continue;
        }
        room.name = entry.substr(0, entry.size() - 74);
        catalogue.rooms.push_back(room);
    }
    return catalogue;
}

struct SettingsStateReader::Open {
    Strong<HBPreferences> settings = device::openGlimmoraSettingsWithDefaults();
    device::HomeLightsReader lights;
};

SettingsStateReader::SettingsStateReader() : open_(std::make_unique<Open>()) {}
SettingsStateReader::~SettingsStateReader() = default;

std::string SettingsStateReader::read() {
    json problems = json::array();
    HBPreferences* settings = open_->settings.get();
    json state;
    state["switches"] = {{"Enabled", settings->boolForKey(NSSTR(device::kEnabledKey)) != NO},
                         {"Active", settings->boolForKey(NSSTR(device::kActiveKey)) != NO},
                         {"Youtube", settings->boolForKey(NSSTR(device::kYoutubeKey)) != NO}};
    state["catalogue"] = catalogueJson(settings, problems);
    if (std::string problem = settings->lastError(); !problem.empty())
        problems.push_back("the settings cannot be read: " + problem);

    device::HomeLights home;
    bool missing = false;
    json lights = json::array();
    if (device::Status status = open_->lights.read(&home, &missing); !status.ok()) {
        if (!missing) problems.push_back(status.message());
    } else {
        if (!home.stateProblem.empty()) problems.push_back("the lights' state cannot be read: " + home.stateProblem);
        for (const device::LightState& light : home.lights)
            lights.push_back({{"identifier", light.identifier},
                              {"home", light.home},
                              {"room", light.room},
                              {"roomIdentifier", light.roomIdentifier},
                              {"accessory", light.accessory},
                              {"name", light.name},
                              {"real", light.real},
                              {"unreachable", light.unreachable},
                              {"selected", light.roomSelected},
                              {"power", number(light.hasPower, light.power.get())},
                              {"brightness", number(light.hasBrightness, light.brightness.get())},
                              {"saturation", number(light.hasSaturation, light.saturation.get())},
                              {"hue", number(light.hasHue, light.hue.get())},
                              {"rgb", rgb(shownColour(light))}});
    }
    state["home"] = !missing;
    state["lights"] = lights;

    LastColour last;
    if (readLastColour(&last))
        state["lastColour"] = {
            {"text", last.text}, {"rgb", rgb(last.colour)}, {"receivedAt", wallMillis(last.receivedNanos)}};
    else
        state["lastColour"] = nullptr;
    if (std::string missingRecord = missingRecords(last.unrecorded); !missingRecord.empty())
        problems.push_back(missingRecord);
    state["problems"] = problems;
    // Strings from the home and the processes are any bytes: replaced where they are not UTF-8.
    return state.dump(-1, ' ', false, json::error_handler_t::replace);
}
