#include "HomeLights.h"

#include <sys/stat.h>
#include <unordered_map>

#include "../Foundation/DeviceDirectory.h"
#include "../HomeKit/HMTypes.h"
#include "../accessories/AccessoryStore.h"
#include "../homes/CharacteristicValue.h"

#include "GlimmoraSettings.h"

namespace device {

bool numericValue(NSObject* value, double* number) {
    auto* held = objc_cast<NSNumber>(value);
    if (held == nil) return false;
    *number = held->doubleValue();
    return true;
}

struct HomeLightsReader::Open {
    AccessoryStore store{deviceDirectory()};
    Strong<HBPreferences> settings = openGlimmoraSettings();
    // The description last parsed, with its file's identity and change time, and when it was parsed.
    std::string stamp;
    std::chrono::steady_clock::time_point parsed{};
    HomesDescription description;
    Status problem;
    bool absent = false;
};

HomeLightsReader::HomeLightsReader() : open_(std::make_unique<Open>()) {}
HomeLightsReader::~HomeLightsReader() = default;

Status readHomeLights(HomeLights* out, bool* missing) { return HomeLightsReader().read(out, missing); }

Status HomeLightsReader::read(HomeLights* out, bool* missing) {
    *out = HomeLights{};
    const std::string path = homeDescriptionPath();
    struct stat info {};
    const std::string stamp = stat(path.c_str(), &info) != 0
                                  ? std::string("-")
                                  : std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
                                        std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
                                        std::to_string(info.st_mtim.tv_nsec);
    const auto now = std::chrono::steady_clock::now();
    if (stamp != open_->stamp || now - open_->parsed >= std::chrono::seconds(1)) {
        open_->description = HomesDescription{};
        open_->absent = false;
        open_->problem = readHomeDescription(path, path, &open_->description, &open_->absent);
        open_->stamp = stamp;
        open_->parsed = now;
    }
    if (missing) *missing = open_->absent;
    if (open_->absent) return Status::error("the device has no homes (no " + path + ")");
    if (!open_->problem.ok()) return open_->problem;
    out->description = open_->description;
    std::unordered_map<std::string, Strong<NSObject>> state;
    AccessoryStore& store = open_->store;
    out->stateProblem = store.readAll(&state).message();
    std::unordered_map<std::string, std::string> reachability;
    if (out->stateProblem.empty()) out->stateProblem = store.readReachability(&reachability).message();
    HBPreferences* settings = open_->settings.get();

    for (const HomeDescription& home : out->description.homes) {
        for (const RoomDescription& room : home.rooms) {
            bool selected = settings->boolForKey(NSString::stringWithString(room.identifier).get());
            out->roomSelected[room.identifier] = selected;
            // A missing setting reads as NO without an error; an unreadable one must not pass for NO.
            std::string unreadable = settings->lastError();
            if (!unreadable.empty()) {
                out->selectionUnknown.insert(room.identifier);
                if (out->selectionProblem.empty()) out->selectionProblem = unreadable;
            }
            for (const AccessoryDescription& accessory : room.accessories) {
                for (const ServiceDescription& service : accessory.services) {
                    if (service.type != HMServiceTypeLightbulb->string()) continue;
                    LightState light;
                    light.home = home.name;
                    light.room = room.name;
                    light.roomIdentifier = room.identifier;
                    light.roomSelected = selected;
                    light.selectionKnown = unreadable.empty();
                    light.accessory = accessory.name;
                    light.real = accessory.hap.has_value();
                    if (auto found = reachability.find(accessory.identifier); light.real && found != reachability.end())
                        light.unreachable = found->second;
                    light.name = service.name;
                    light.identifier = service.identifier;
                    for (const CharacteristicDescription& characteristic : service.characteristics) {
                        auto found = state.find(characteristic.identifier);
                        Strong<NSObject> value = found != state.end() ? found->second : characteristic.value;
                        auto maximum = [&](double usual) {
                            const auto& limits = characteristic.metadata;
                            return limits && limits->maximumValue && *limits->maximumValue > 0 ? *limits->maximumValue
                                                                                               : usual;
                        };
                        const std::string& type = characteristic.type;
                        if (type == HMCharacteristicTypePowerState->string()) {
                            light.power = value, light.hasPower = true;
                        } else if (type == HMCharacteristicTypeBrightness->string()) {
                            light.brightness = value, light.hasBrightness = true;
                            light.brightnessMaximum = maximum(100);
                        } else if (type == HMCharacteristicTypeSaturation->string()) {
                            light.saturation = value, light.hasSaturation = true;
                            light.saturationMaximum = maximum(100);
                        } else if (type == HMCharacteristicTypeHue->string()) {
                            light.hue = value, light.hasHue = true;
                            light.hueMaximum = maximum(360);
                        }
                    }
                    out->lights.push_back(std::move(light));
                }
            }
        }
    }
    return Status::OK();
}

}  // namespace device
