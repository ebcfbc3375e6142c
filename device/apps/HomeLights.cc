#include "HomeLights.h"

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

Status readHomeLights(HomeLights* out, bool* missing) {
    *out = HomeLights{};
    std::string path = homeDescriptionPath();
    bool absent = false;
    Status problem = readHomeDescription(path, path, &out->description, &absent);
    if (missing) *missing = absent;
    if (absent) return Status::error("the device has no homes (no " + path + ")");
    if (!problem.ok()) return problem;
    std::unordered_map<std::string, Strong<NSObject>> state;
    AccessoryStore store(deviceDirectory());
    out->stateProblem = store.readAll(&state).message();
    std::unordered_map<std::string, std::string> reachability;
    if (out->stateProblem.empty()) out->stateProblem = store.readReachability(&reachability).message();
    Strong<HBPreferences> settings = openGlimmoraSettings();

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
