#include "RealAccessoryPairing.h"

#include <cctype>
#include <chrono>
#include <optional>

#include <nlohmann/json.hpp>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/PrintableText.h>
#include <HomeKit/AccessoryStore.h>
#include <HomeKit/CharacteristicValue.h>
#include <HomeKit/HomeDescription.h>
#include <HomeKit/HomeKitDevice.h>

#include "hap/AccessoryDatabase.h"
#include "hap/Keyring.h"
#include "hap/Pairing.h"
#include "hap/Session.h"

namespace device {

namespace {

using json = nlohmann::ordered_json;
namespace hap = device::hap;

constexpr std::chrono::milliseconds kExchangeTimeout{10000};
// How long each write to a paired accessory may take before it counts as failed.
constexpr int kWriteTimeoutMs = 3000;

std::string quote(const std::string& text) { return quotedPrintable(text); }

// The home description as a document to edit (an empty one when there is none), checked first.
Status readDocument(json* document) {
    std::string path = homeDescriptionPath();
    std::string text;
    bool missing = false;
    Status problem = readDescriptionFile(path, &text, &missing);
    if (missing) {
        *document = json{{"homes", json::array()}};
        return Status::OK();
    }
    if (!problem.ok()) return problem;
    HomesDescription checked;
    if (problem = parseHomeDescription(text, path, &checked); !problem.ok()) return problem;
    *document = json::parse(text, nullptr, false);
    if (document->is_discarded()) return Status::error(path + " cannot be read as JSON");
    return Status::OK();
}

// Checks `document` as a home description and installs it, bringing the accessory state in line.
Status installDocument(const json& document) {
    std::string text = document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    HomesDescription description;
    if (Status problem = parseHomeDescription(text, "the new home description", &description); !problem.ok())
        return problem;
    std::string directory = deviceDirectory();
    if (Status problem = installHomeDescription(directory, text); !problem.ok()) return problem;
    AccessoryStore store(directory);
    if (Status problem = store.synchronise(describedValues(description), AccessoryStore::Sync::keepDescribed);
        !problem.ok())
        return Status::error("the home description is installed, but the accessory state was not updated: " +
                             problem.message());
    return Status::OK();
}

json& arrayOf(json& object, const char* key) {
    if (!object.contains(key)) object[key] = json::array();
    return object[key];
}

// The home `name` names (empty: the primary one, else the first; one is made when there is none).
json* findHome(json& document, const std::string& name, Status* problem) {
    json& homes = arrayOf(document, "homes");
    if (!name.empty()) {
        for (json& home : homes)
            if (home.value("name", "") == name) return &home;
        *problem = Status::error("there is no home named " + quote(name));
        return nullptr;
    }
    for (json& home : homes)
        if (home.value("primary", false)) return &home;
    if (homes.empty()) homes.push_back(json{{"name", "Home"}, {"primary", true}, {"rooms", json::array()}});
    return &homes.front();
}

// The characteristics of a lightbulb that follow the video, by type.
const char* shortNameOf(const std::string& type) {
    if (type == hap::kOnCharacteristic) return "power";
    if (type == hap::kBrightnessCharacteristic) return "brightness";
    if (type == hap::kSaturationCharacteristic) return "saturation";
    if (type == hap::kHueCharacteristic) return "hue";
    return nullptr;
}

json characteristicEntry(const hap::CharacteristicInfo& info, const char* type) {
    json entry{{"type", type}};
    ValueLimits limits;
    json metadata = json::object();
    if (isKnownValueFormat(info.format)) metadata["format"] = limits.format = info.format;
    if (info.minimum) metadata["minimumValue"] = *(limits.minimumValue = info.minimum);
    if (info.maximum) metadata["maximumValue"] = *(limits.maximumValue = info.maximum);
    if (info.step && *info.step > 0) metadata["stepValue"] = *(limits.stepValue = info.step);
    if (!metadata.empty()) entry["metadata"] = metadata;
    // The accessory's current value, when it suits its own metadata ("On" may come as 1).
    if (Strong<NSObject> value = decodeAccessoryValue(info.value)) {
        json given = json::parse(info.value, nullptr, false);
        if (info.format == "bool" && given.is_number()) {
            given = given.get<double>() != 0;
            value = NSNumber::numberWithBool(given.get<bool>());
        }
        if (checkCharacteristicValue(&limits, value.get()).accepted()) entry["value"] = given;
    }
    entry["hap"] = {{"aid", info.aid}, {"iid", info.iid}};
    return entry;
}

// The lightbulb services of the accessory database, as home description entries.
// A single lamp's light takes the accessory's name; a bridge's lights keep their own.
json lightbulbEntries(const std::vector<hap::ServiceInfo>& services, const std::string& accessoryName) {
    json entries = json::array();
    for (const hap::ServiceInfo& service : services) {
        if (service.type != hap::kLightbulbService) continue;
        json characteristics = json::array();
        for (const hap::CharacteristicInfo& characteristic : service.characteristics)
            if (const char* type = shortNameOf(characteristic.type))
                characteristics.push_back(characteristicEntry(characteristic, type));
        if (characteristics.empty()) continue;
        json entry{{"type", "lightbulb"}};
        entry["name"] = service.name.empty() ? accessoryName : service.name;
        entry["characteristics"] = std::move(characteristics);
        entries.push_back(std::move(entry));
    }
    if (entries.size() == 1) entries[0]["name"] = accessoryName;
    return entries;
}

// Removes this controller's pairing on the accessory.
Status removeOnAccessory(const hap::Endpoint& endpoint, const hap::ControllerIdentity& controller,
                         const hap::AccessoryPairing& pairing) {
    Status problem;
    std::unique_ptr<hap::Session> session =
        hap::Session::open(endpoint, controller, pairing, kExchangeTimeout, &problem);
    if (!session) return problem;
    return hap::removePairing(*session, controller.pairingId);
}

}  // namespace

bool isSetupCode(const std::string& code) {
    if (code.size() != 10 || code[3] != '-' || code[6] != '-') return false;
    for (size_t i = 0; i < code.size(); ++i)
        if (i != 3 && i != 6 && !std::isdigit(static_cast<unsigned char>(code[i]))) return false;
    return true;
}

Status pairRealAccessory(const RealAccessoryRequest& request, std::string* summary) {
    if (request.name.empty()) return Status::error("the accessory needs a name");
    if (request.room.empty()) return Status::error("the accessory needs a room");
    if (!isSetupCode(request.setupCode))
        return Status::error("the setup code must have the form XXX-XX-XXX (digits, as printed on the accessory)");
    if (request.host.empty() || request.port == 0) return Status::error("the accessory needs an address and a port");

    // Everything that can be checked here is checked before the accessory is touched.
    json document;
    if (Status problem = readDocument(&document); !problem.ok()) return problem;
    Status problem;
    json* home = findHome(document, request.home, &problem);
    if (!home) return problem;
    json& rooms = arrayOf(*home, "rooms");
    for (json& room : rooms)
        for (json& accessory : arrayOf(room, "accessories"))
            if (accessory.value("name", "") == request.name)
                return Status::error("the home " + quote(home->value("name", "")) + " already has an accessory named " +
                                     quote(request.name));
    std::optional<hap::Keyring> keyring = hap::Keyring::open(deviceDirectory(), &problem);
    if (!keyring) return problem;

    hap::Endpoint endpoint{request.host, request.port};
    std::optional<hap::AccessoryPairing> pairing =
        hap::pairSetup(endpoint, request.setupCode, keyring->controller(), kExchangeTimeout, &problem);
    if (!pairing) return Status::error("pairing with " + endpoint.text() + " failed: " + problem.message());
    if (problem = keyring->addPairing(*pairing); !problem.ok()) {
        (void)removeOnAccessory(endpoint, keyring->controller(), *pairing);
        return problem;
    }
    // From here on a failure takes the pairing back on both sides.
    auto undo = [&](const std::string& why) {
        Status removed = removeOnAccessory(endpoint, keyring->controller(), *pairing);
        (void)keyring->removePairing(pairing->pairingId);
        std::string text = why;
        if (!removed.ok())
            text += "; the pairing could not be removed on the accessory (" + removed.message() +
                    "), so it may need a reset before it pairs again";
        return Status::error(text);
    };

    std::unique_ptr<hap::Session> session =
        hap::Session::open(endpoint, keyring->controller(), *pairing, kExchangeTimeout, &problem);
    if (!session) return undo("the paired accessory could not be reached again: " + problem.message());
    std::optional<hap::HttpResponse> response = session->request("GET", "/accessories", "", kExchangeTimeout, &problem);
    session.reset();
    if (!response) return undo("the accessory's services could not be read: " + problem.message());
    if (response->status != 200)
        return undo("the accessory answered " + std::to_string(response->status) + " when asked for its services");
    std::optional<std::vector<hap::ServiceInfo>> services = hap::parseAccessoryDatabase(response->body, &problem);
    if (!services) return undo("the accessory's services cannot be read: " + problem.message());
    json lightbulbs = lightbulbEntries(*services, request.name);
    if (lightbulbs.empty()) return undo("the accessory has no lightbulb, so nothing of it could follow the video");

    json* room = nullptr;
    for (json& candidate : rooms)
        if (candidate.value("name", "") == request.room) room = &candidate;
    if (!room) {
        rooms.push_back(json{{"name", request.room}, {"accessories", json::array()}});
        room = &rooms.back();
    }
    size_t lights = lightbulbs.size();
    arrayOf(*room, "accessories")
        .push_back(json{{"name", request.name},
                        {"hap", {{"address", request.host}, {"port", request.port}, {"id", pairing->pairingId}}},
                        {"timeoutMs", kWriteTimeoutMs},
                        {"services", std::move(lightbulbs)}});
    if (problem = installDocument(document); !problem.ok())
        return undo("the accessory could not be recorded: " + problem.message());
    *summary = "Paired " + quote(request.name) + " (" + pairing->pairingId + ", " + endpoint.text() + ") into " +
               quote(request.room) + " of " + quote(home->value("name", "")) + ": " + std::to_string(lights) +
               (lights == 1 ? " light" : " lights");
    return Status::OK();
}

Status unpairRealAccessory(const std::string& name, bool forget, std::string* summary) {
    json document;
    if (Status problem = readDocument(&document); !problem.ok()) return problem;
    json* found = nullptr;
    json* foundIn = nullptr;
    int count = 0;
    for (json& home : arrayOf(document, "homes"))
        for (json& room : arrayOf(home, "rooms"))
            for (json& accessory : arrayOf(room, "accessories"))
                if (accessory.value("name", "") == name && accessory.contains("hap")) {
                    found = &accessory, foundIn = &room;
                    ++count;
                }
    if (count == 0) return Status::error("no paired accessory is named " + quote(name));
    if (count > 1) return Status::error("more than one paired accessory is named " + quote(name));
    const json& address = found->at("hap");
    hap::Endpoint endpoint{address.at("address").get<std::string>(), address.at("port").get<uint16_t>()};
    std::string pairingId = address.at("id").get<std::string>();

    Status problem;
    std::optional<hap::Keyring> keyring = hap::Keyring::open(deviceDirectory(), &problem);
    if (!keyring) return problem;
    std::string note;
    if (std::optional<hap::AccessoryPairing> pairing = keyring->pairing(pairingId)) {
        Status removed = removeOnAccessory(endpoint, keyring->controller(), *pairing);
        if (!removed.ok() && !forget)
            return Status::error("the pairing could not be removed on the accessory at " + endpoint.text() + ": " +
                                 removed.message() + "; `glimmora home unpair " + name +
                                 " --forget` removes it from this device anyway (the accessory then needs a reset "
                                 "before it pairs again)");
        if (!removed.ok()) note = " (only here: " + removed.message() + ")";
        if (problem = keyring->removePairing(pairingId); !problem.ok()) return problem;
    } else {
        note = " (this device held no keys for it)";
    }
    json& accessories = (*foundIn)["accessories"];
    for (auto it = accessories.begin(); it != accessories.end(); ++it)
        if (&*it == found) {
            accessories.erase(it);
            break;
        }
    if (problem = installDocument(document); !problem.ok()) return problem;
    *summary = "Unpaired " + quote(name) + note;
    return Status::OK();
}

}  // namespace device
