#include "SettingsActions.h"

#include <Foundation/PrintableText.h>
#include <accessories/RealAccessoryPairing.h>
#include <apps/GlimmoraSettings.h>

#include "../HomeDiscovery.h"
#include "SettingsState.h"

using device::quotedPrintable;
using device::Status;

namespace {

// The name of the room with identifier text `identifier` in the published catalogue; false when
// the catalogue has none.
bool catalogueRoomName(HBPreferences* settings, const std::string& identifier, std::string* name) {
    Catalogue catalogue;
    readCatalogue(settings, &catalogue);
    for (const CatalogueRoom& room : catalogue.rooms)
        if (room.identifier == identifier) {
            *name = room.name;
            return true;
        }
    return false;
}

}  // namespace

Status writeSwitch(const std::string& key, bool on, std::string* message) {
    Strong<HBPreferences> settings = device::openGlimmoraSettings();
    std::string what = "\"" + key + "\"";
    if (key != device::kEnabledKey && key != device::kActiveKey && key != device::kYoutubeKey) {
        std::string room;
        if (!isIdentifierText(key) || !catalogueRoomName(settings.get(), key, &room))
            return Status::error("no switch is called " + quotedPrintable(key) +
                                 ": the switches are \"Enabled\", \"Active\", \"Youtube\" and the published rooms");
        what = "the room " + quotedPrintable(room);
    }
    settings->setObject_forKey(NSNumber::numberWithBool(on ? YES : NO),
                               NSString::stringWithUTF8String(key.c_str()).get());
    if (std::string problem = settings->lastError(); !problem.empty())
        return Status::error("cannot write " + what + ": " + problem);
    *message = std::string(on ? "Turned on " : "Turned off ") + what;
    return Status::OK();
}

Status pairAdvertisedAccessory(const std::string& id, const std::string& name, const std::string& room,
                               const std::string& code, std::function<bool()> stopping, std::string* message) {
    if (name.empty()) return Status::error("give the lamp a name");
    if (room.empty()) return Status::error("give the room to put it in");
    if (!device::isSetupCode(code))
        return Status::error("the setup code must have the form XXX-XX-XXX (digits, as printed on the accessory)");
    FoundAccessory found;
    if (Status problem = findAccessoryToPair(id, name, &found); !problem.ok()) return problem;
    device::RealAccessoryRequest request;
    request.name = name;
    request.room = room;
    request.host = found.host;
    request.port = found.port;
    request.configuration = found.configuration;
    request.setupCode = code;
    request.interrupted = std::move(stopping);
    return device::pairRealAccessory(request, message);
}

Status unpairLamp(const std::string& name, std::string* message) {
    if (name.empty()) return Status::error("name the lamp to unpair");
    return device::unpairRealAccessory(name, false, message);
}
