#include "ExampleHome.h"

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::ordered_json;

json characteristic(const char* type, json value, json metadata = nullptr) {
    json c = {{"type", type}, {"value", std::move(value)}};
    if (!metadata.is_null()) c["metadata"] = std::move(metadata);
    return c;
}

json percentage() {
    return {{"format", "int"}, {"minimumValue", 0}, {"maximumValue", 100}, {"stepValue", 1}, {"units", "percentage"}};
}

// A lightbulb service with HomeKit's usual metadata for each characteristic.
json colourBulb(const char* name, bool on, int brightness, int saturation, int hue) {
    return {{"type", "lightbulb"},
            {"name", name},
            {"characteristics",
             {characteristic("power", on, {{"format", "bool"}}), characteristic("brightness", brightness, percentage()),
              characteristic("saturation", saturation, percentage()),
              characteristic("hue", hue,
                             {{"format", "float"},
                              {"minimumValue", 0},
                              {"maximumValue", 360},
                              {"stepValue", 1},
                              {"units", "arcdegrees"}}),
              characteristic("name", name, {{"format", "string"}})}}};
}

json accessory(const char* name, json services, int latencyMs = 0) {
    json a = {{"name", name}};
    if (latencyMs > 0) a["latencyMs"] = latencyMs;
    a["services"] = std::move(services);
    return a;
}

}  // namespace

std::string exampleHomeDescription() {
    json bareBulb = {{"type", "lightbulb"},
                     {"characteristics",
                      {characteristic("power", false), characteristic("brightness", 50),
                       characteristic("saturation", 0), characteristic("hue", 0)}}};
    json warmBulb = {
        {"type", "lightbulb"},
        {"characteristics",
         {characteristic("power", true, {{"format", "bool"}}), characteristic("brightness", 40, percentage()),
          characteristic("colorTemperature", 370,
                         {{"format", "uint32"}, {"minimumValue", 140}, {"maximumValue", 500}, {"stepValue", 1}})}}};
    json fan = {{"type", "fan"},
                {"characteristics",
                 {characteristic("power", false, {{"format", "bool"}}), characteristic("rotationSpeed", 0,
                                                                                       {{"format", "float"},
                                                                                        {"minimumValue", 0},
                                                                                        {"maximumValue", 100},
                                                                                        {"stepValue", 1},
                                                                                        {"units", "percentage"}})}}};
    json outlet = {{"type", "outlet"},
                   {"characteristics", json::array({characteristic("power", true, {{"format", "bool"}})})}};
    json hallSwitch = {{"type", "switch"},
                       {"characteristics", json::array({characteristic("power", false, {{"format", "bool"}})})}};

    json home = {{"name", "Home"},
                 {"primary", true},
                 {"rooms",
                  {{{"name", "Living Room"},
                    {"accessories",
                     {accessory("Floor Lamp", json::array({colourBulb("Floor Lamp", true, 80, 60, 30)})),
                      accessory("TV Backlight", json::array({colourBulb("Backlight Left", true, 100, 100, 210),
                                                             colourBulb("Backlight Right", true, 100, 100, 210)})),
                      accessory("Ceiling Fan", json::array({fan}))}}},
                   {{"name", "Kitchen"},
                    {"accessories",
                     {accessory("Pendant", json::array({bareBulb})),
                      accessory("Counter Strip", json::array({colourBulb("Counter Strip", false, 60, 20, 45)}), 300),
                      accessory("Coffee Maker", json::array({outlet}))}}},
                   {{"name", "Guest_Room"},
                    {"accessories",
                     {accessory("Bedside Lamp", json::array({warmBulb})),
                      accessory("Reading Light", json::array({colourBulb("Reading Light", false, 70, 10, 50)}))}}},
                   {{"name", "Hallway"}, {"accessories", {accessory("Hall Switch", json::array({hallSwitch}))}}}}}};
    json studio = {{"name", "Studio"},
                   {"rooms",
                    {{{"name", "Workshop"},
                      {"accessories",
                       {accessory("Desk Lamp", json::array({colourBulb("Desk Lamp", true, 90, 0, 0)})),
                        accessory("Shelf Light", json::array({colourBulb("Shelf Light", false, 30, 80, 280)}))}}}}}};
    json description = {{"homes", json::array({home, studio})}};
    return description.dump(2) + "\n";
}
