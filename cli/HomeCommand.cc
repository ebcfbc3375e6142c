// `glimmora home`: sets up the device's homes, pairs real accessories and looks into them. It reads the home
// description and the accessory state directly (no main queue, no manager), and keeps room selections in the settings
// store com.tovek.glimmora through HBPreferences, as one more process of the device.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <csignal>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include <Foundation/DeviceDirectory.h>
#include <Foundation/DeviceLock.h>
#include <Foundation/PrintableText.h>
#include <HomeKit/HMTypes.h>
#include <accessories/AccessoryStore.h>
#include <apps/ColourDelivery.h>
#include <homes/CharacteristicValue.h>
#include <homes/ExampleHome.h>
#include <homes/HomeDescription.h>

#include <accessories/HomeChanges.h>
#include <accessories/RealAccessoryPairing.h>
#include <apps/GlimmoraSettings.h>
#include <apps/HomeLights.h>
#include <hap/Keyring.h>

#include "Commands.h"
#include "HomeDiscovery.h"

namespace {

using json = nlohmann::ordered_json;
using device::quotedPrintable;

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "glimmora home: " << message << "\n";
    throw CLI::RuntimeError(1);
}

HomesDescription installedDescription() {
    HomesDescription description;
    bool missing = false;
    std::string path = homeDescriptionPath();
    device::Status problem = readHomeDescription(path, path, &description, &missing);
    if (missing)
        fail("the device has no homes (no " + path +
             "); `glimmora home init` installs an example home, "
             "`glimmora home load FILE` your own");
    if (!problem.ok()) fail(problem.message());
    return description;
}

// --- init and load -----------------------------------------------------------------------------------

// Installs `text` in place of the home description there is, under the home lock. A current
// description that cannot be read is replaced all the same (that is what init --force is for):
// the pairings of its lamps stay in the keyring, where `home show` lists them.
void replaceHome(std::string_view text, const HomesDescription& description, AccessoryStore::Sync sync,
                 std::string_view change, bool mayReplace) {
    std::string directory = device::deviceDirectory();
    if (device::Status problem = device::ensurePrivateDirectory(directory); !problem.ok())
        fail("the device directory cannot be used: " + problem.message());
    device::DeviceLock lock;
    if (device::Status problem = device::lockHomeChanges(directory, &lock); !problem.ok()) fail(problem.message());
    std::string path = homeDescriptionPath();
    HomesDescription current;
    bool missing = false;
    device::Status readable = readHomeDescription(path, path, &current, &missing);
    if (!missing && !mayReplace)
        fail(path + " already exists; `glimmora home init --force` replaces it and resets every accessory");
    if (readable.ok())
        if (device::Status kept = device::checkPairedLampsKept(current, description, change); !kept.ok())
            fail(kept.message());
    if (device::Status problem = device::installHome(text, description, sync); !problem.ok()) fail(problem.message());
}

void initHome(bool force) {
    std::string text = exampleHomeDescription();
    HomesDescription description;
    if (device::Status problem = parseHomeDescription(text, "the example home", &description); !problem.ok())
        fail(problem.message());  // a broken build, not bad input
    replaceHome(text, description, AccessoryStore::Sync::resetAll, "installing the example home", force);
    std::cout << "Installed the example home at " << homeDescriptionPath() << "\n";
}

void loadHome(const std::string& file) {
    std::string text;
    if (device::Status problem = readDescriptionFile(file, &text); !problem.ok()) fail(problem.message());
    HomesDescription description;
    if (device::Status problem = parseHomeDescription(text, file, &description); !problem.ok())
        fail(problem.message() + "\nnothing was changed");
    replaceHome(text, description, AccessoryStore::Sync::keepDescribed, "loading " + device::printable(file), true);
    std::cout << "Installed " << device::printable(file) << " as " << homeDescriptionPath() << "\n";
}

// --- show ----------------------------------------------------------------------------------------------

json jsonValue(NSObject* value) {
    if (auto* number = objc_cast<NSNumber>(value)) {
        switch (number->kind()) {
            case NSNumber::Kind::boolean:
                return number->boolValue();
            case NSNumber::Kind::integer:
                return number->longLongValue();
            case NSNumber::Kind::real:
                return number->doubleValue();
        }
    }
    if (auto* string = objc_cast<NSString>(value)) return string->string();
    return nullptr;
}

std::string textValue(NSObject* value, bool isPower) {
    if (value == nil) return "unknown";
    if (isPower) {
        if (auto* number = objc_cast<NSNumber>(value)) return number->boolValue() ? "on" : "off";
    }
    return device::printable(describeValue(value));
}

void showHomes(bool asJson) {
    device::HomeLights home;
    bool missing = false;
    if (device::Status problem = device::readHomeLights(&home, &missing); !problem.ok()) {
        if (missing)
            fail(problem.message() +
                 "; `glimmora home init` installs an example home, `glimmora home load FILE` your own");
        fail(problem.message());
    }
    if (!home.stateProblem.empty())
        std::cerr << "glimmora home: the accessory state cannot be read, so described values are shown: "
                  << home.stateProblem << "\n";
    // The homes are still worth showing, but a script must not take the rooms for deselected.
    if (!home.selectionProblem.empty())
        std::cerr << "glimmora home: the room selection cannot be read, so rooms show it as unknown: "
                  << home.selectionProblem << "\n";

    bool anyPrimary = false;
    for (const HomeDescription& described : home.description.homes) anyPrimary = anyPrimary || described.primary;
    json homes = json::array();
    size_t next = 0;  // lights come in description order
    for (size_t h = 0; h < home.description.homes.size(); ++h) {
        const HomeDescription& described = home.description.homes[h];
        bool primary;
        json rooms = json::array();
        std::string text;
        for (const RoomDescription& room : described.rooms) {
            bool selected = home.roomSelected[room.identifier];
            bool known = !home.selectionUnknown.count(room.identifier);
            text += "  Room " + quotedPrintable(room.name) + "  " + room.identifier + "  " +
                    (!known     ? "selection unknown"
                     : selected ? "selected"
                                : "not selected") +
                    "\n";
            json lights = json::array();
            for (; next < home.lights.size() && home.lights[next].roomIdentifier == room.identifier; ++next) {
                const device::LightState& light = home.lights[next];
                const std::pair<const char*, std::pair<bool, NSObject*>> values[] = {
                    {"power", {light.hasPower, light.power.get()}},
                    {"brightness", {light.hasBrightness, light.brightness.get()}},
                    {"saturation", {light.hasSaturation, light.saturation.get()}},
                    {"hue", {light.hasHue, light.hue.get()}},
                };
                json entry = {{"accessory", light.accessory}, {"name", light.name}, {"uuid", light.identifier}};
                if (light.real) {
                    entry["reachable"] = light.unreachable.empty();
                    if (!light.unreachable.empty()) entry["problem"] = light.unreachable;
                }
                std::string line =
                    "    " + quotedPrintable(light.name) + " of " + quotedPrintable(light.accessory) + ":";
                const char* separator = " ";
                for (auto& [key, value] : values) {
                    entry[key] = jsonValue(value.second);
                    if (!value.first) continue;
                    line +=
                        separator + std::string(key) + " " + textValue(value.second, std::string_view(key) == "power");
                    separator = ", ";
                }
                if (!light.unreachable.empty()) line += "  (unreachable: " + device::printable(light.unreachable) + ")";
                lights.push_back(std::move(entry));
                text += line + "\n";
            }
            if (lights.empty()) text += "    (no lights)\n";
            json selection = known ? json(selected) : json(nullptr);
            rooms.push_back({{"name", room.name},
                             {"uuid", room.identifier},
                             {"selected", std::move(selection)},
                             {"lights", std::move(lights)}});
        }
        primary = anyPrimary ? described.primary : h == 0;
        if (!asJson)
            std::cout << "Home " << quotedPrintable(described.name) << (primary ? " (primary)" : "") << "  "
                      << described.identifier << "\n"
                      << text;
        homes.push_back({{"name", described.name},
                         {"uuid", described.identifier},
                         {"primary", primary},
                         {"rooms", std::move(rooms)}});
    }
    json unused = json::array();
    std::string unusedText;
    if (device::StatusOr<device::hap::Keyring> keyring = device::hap::Keyring::open(device::deviceDirectory());
        keyring.ok()) {
        for (const device::hap::AccessoryPairing& pairing : device::pairingsWithoutLamp(*keyring, home.description)) {
            json entry{{"id", pairing.pairingId}};
            unusedText += "  " + device::printable(pairing.pairingId);
            if (!pairing.pairedAt.host.empty()) {
                entry["address"] = pairing.pairedAt.host;
                entry["port"] = pairing.pairedAt.port;
                unusedText += "  paired at " + pairing.pairedAt.text();
            }
            unused.push_back(std::move(entry));
            unusedText += "\n";
        }
        for (const device::hap::Endpoint& at : keyring->pendingPairings()) {
            unused.push_back({{"id", nullptr}, {"address", at.host}, {"port", at.port}, {"interrupted", true}});
            unusedText += "  " + at.text() + "  a pairing cut off before the lamp's key arrived\n";
        }
    } else {
        std::cerr << "glimmora home: " << keyring.status().message() << "\n";
    }
    if (!asJson && !unusedText.empty())
        std::cout << "Pairings kept here that no lamp in the home uses (`glimmora home unpair ID` removes one; "
                     "ID is the first word):\n"
                  << unusedText;
    if (asJson)
        std::cout << json({{"homes", std::move(homes)}, {"unusedPairings", std::move(unused)}})
                         .dump(2, ' ', false, json::error_handler_t::replace)
                  << "\n";
    if (!home.selectionProblem.empty()) throw CLI::RuntimeError(1);
}

// --- select and deselect ---------------------------------------------------------------------------------

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The identifier text of the room `given` names: a room name (exact) or an identifier (any case).
std::string resolveRoom(const HomesDescription& description, const std::string& given) {
    std::vector<std::string> matches;
    std::string wanted = upper(given);
    for (const HomeDescription& home : description.homes) {
        for (const RoomDescription& room : home.rooms) {
            if (room.identifier == wanted) return room.identifier;
            if (room.name == given) matches.push_back(room.identifier + " in " + quotedPrintable(home.name));
        }
    }
    if (matches.empty())
        fail("no room is named or identified " + quotedPrintable(given) + "; `glimmora home show` lists the rooms");
    if (matches.size() > 1) {
        std::string list;
        for (const std::string& match : matches) list += "\n  " + match;
        fail("more than one room is named " + quotedPrintable(given) + "; give its identifier instead:" + list);
    }
    return matches.front().substr(0, 36);
}

void selectRooms(const std::vector<std::string>& rooms, bool selected) {
    HomesDescription description = installedDescription();
    // Every name is resolved before anything is written, so a bad one changes nothing.
    std::vector<std::string> identifiers;
    for (const std::string& room : rooms) identifiers.push_back(resolveRoom(description, room));
    Strong<HBPreferences> settings = device::openGlimmoraSettings();
    for (size_t i = 0; i < identifiers.size(); ++i) {
        settings->setObject_forKey(NSNumber::numberWithBool(selected),
                                   NSString::stringWithString(identifiers[i]).get());
        if (std::string problem = settings->lastError(); !problem.empty())
            fail("cannot " + std::string(selected ? "select" : "deselect") + " " + quotedPrintable(rooms[i]) + ": " +
                 problem);
        std::cout << (selected ? "Selected " : "Deselected ") << quotedPrintable(rooms[i]) << " (" << identifiers[i]
                  << ")\n";
    }
}

}  // namespace

void installExampleHome(bool force) { initHome(force); }

void setRoomsSelected(const std::vector<std::string>& rooms, bool selected) { selectRooms(rooms, selected); }

namespace {

volatile std::sig_atomic_t pairingInterrupted = 0;

void notePairingInterrupted(int) {
    pairingInterrupted = 1;
    const char note[] = "glimmora home: stopping; anything paired so far is taken back (again to stop at once)\n";
    ssize_t ignored = write(STDERR_FILENO, note, sizeof note - 1);
    (void)ignored;
}

// While pairing, SIGINT and SIGTERM ask the pairing to stop and take back what it made; a second
// one ends the process at once (the keys kept by then still let `home unpair ID` reach the lamp).
void deferInterruptions() {
    struct sigaction action {};
    action.sa_handler = notePairingInterrupted;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A TCP port, said plainly when it is not one. A leading zero is refused too: the conversion
// would read it as octal.
std::string checkPort(const std::string& text) {
    bool digits = !text.empty() && text.size() <= 5 && text[0] != '0' &&
                  text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && std::stoi(text) <= 65535) return "";
    return device::quotedPrintable(text) + " is not a TCP port (a whole number from 1 to 65535)";
}

void addPairingCommands(CLI::App* home) {
    auto request = std::make_shared<device::RealAccessoryRequest>();
    auto id = std::make_shared<std::string>();
    CLI::App* pair = home->add_subcommand(
        "pair",
        "Pair a real HomeKit lamp (or a bridge of lamps) and add its lightbulbs to ROOM as accessory NAME, so they "
        "follow the video when the room is selected. The lamp is found on the network by its device identifier "
        "(--id, as `home discover` lists it), or else by NAME when exactly one accessory advertises that name; "
        "--address and --port reach it where multicast does not pass, and win over both. The lamp must not be "
        "paired with another home; its setup code is printed on it or its box. The code is used once and never "
        "stored");
    pair->add_option("NAME", request->name, "The accessory's name in the home")->required();
    pair->add_option("--room", request->room, "The room to put it in (made when the home has none of that name)")
        ->required();
    pair->add_option("--home", request->home, "The home (default: the primary one)");
    pair->add_option("--id", *id, "The accessory's device identifier, as `glimmora home discover` lists it");
    CLI::Option* address = pair->add_option("--address", request->host, "The accessory's host name or IP address");
    CLI::Option* port = pair->add_option("--port", request->port, "The accessory's TCP port")->check(checkPort, "PORT");
    address->needs(port);
    port->needs(address);
    pair->add_option("--code", request->setupCode, "The setup code, XXX-XX-XXX")->required();
    pair->callback([request, id] {
        deferInterruptions();
        request->interrupted = [] { return pairingInterrupted != 0; };
        if (request->host.empty()) {
            if (!device::isSetupCode(request->setupCode))
                fail(
                    "the setup code must have the form XXX-XX-XXX (digits, as printed on the accessory)\n"
                    "nothing was recorded");
            FoundAccessory found;
            if (device::Status problem = findAccessoryToPair(*id, request->name, &found); !problem.ok())
                fail(problem.message() + "\nnothing was recorded");
            request->host = found.host;
            request->port = found.port;
            request->configuration = found.configuration;
        }
        std::string summary;
        if (device::Status problem = device::pairRealAccessory(*request, &summary); !problem.ok())
            fail(problem.message() + "\nnothing was recorded");
        std::cout << summary << "\n";
    });

    auto name = std::make_shared<std::string>();
    auto forget = std::make_shared<bool>(false);
    CLI::App* unpair = home->add_subcommand(
        "unpair",
        "Remove the pairing of accessory NAME on the accessory itself, then its keys and its lights here. NAME "
        "may also be a pairing identifier, or the address HOST:PORT of a pairing that was cut off, as `home show` "
        "lists the pairings no lamp uses. An "
        "accessory that cannot be reached is left as it is unless --forget is given");
    unpair->add_option("NAME", *name, "The paired accessory's name, or its pairing identifier")->required();
    unpair->add_flag("--forget", *forget,
                     "Remove it here even when the accessory cannot be reached (it then needs a reset to pair again)");
    unpair->callback([name, forget] {
        std::string summary;
        if (device::Status problem = device::unpairRealAccessory(*name, *forget, &summary); !problem.ok())
            fail(problem.message());
        std::cout << summary << "\n";
    });
}

}  // namespace

void addHomeCommand(CLI::App& app) {
    CLI::App* home = app.add_subcommand(
        "home", "Set up the device's homes (home.json in the device directory) and look at their rooms and lights");
    home->require_subcommand(1);

    auto force = std::make_shared<bool>(false);
    CLI::App* init = home->add_subcommand(
        "init",
        "Install the built-in example home (two homes, nine lights, a fan, an outlet and a switch) and reset "
        "every accessory to its described state. Refuses to replace an existing home.json without --force");
    init->add_flag("--force", *force, "Replace an existing home.json");
    init->callback([force] { initHome(*force); });

    auto file = std::make_shared<std::string>();
    CLI::App* load = home->add_subcommand(
        "load",
        "Check FILE and install it as home.json in one step. A malformed FILE is refused with its line and "
        "the reason, and nothing changes; so is anything but a regular file. Accessories that stay keep "
        "their state; new ones start from their described values. A running home screen picks up the new "
        "home at once");
    load->add_option("FILE", *file, "A home description (JSON)")->required();
    load->callback([file] { loadHome(*file); });

    auto asJson = std::make_shared<bool>(false);
    CLI::App* show = home->add_subcommand(
        "show",
        "List the homes (the primary one marked), each room with its identifier and whether it is selected, "
        "and each light with its power, brightness, saturation and hue from the accessory state. When the "
        "settings store cannot be read, rooms show \"selection unknown\" (null in JSON) and the exit status "
        "is 1");
    show->add_flag("--json", *asJson, "Print the same as JSON");
    show->callback([asJson] { showHomes(*asJson); });

    auto rooms = std::make_shared<std::vector<std::string>>();
    const char* roomHelp = "A room name (exact, case-sensitive) or a room identifier (any case)";
    CLI::App* select = home->add_subcommand(
        "select",
        "Let the lights of ROOM follow the video: stores YES under the room's identifier in the settings "
        "store com.tovek.glimmora. An unknown or ambiguous ROOM is refused and nothing is stored");
    select->add_option("ROOM", *rooms, roomHelp)->required();
    select->callback([rooms] { selectRooms(*rooms, true); });
    CLI::App* deselect =
        home->add_subcommand("deselect",
                             "Stop the lights of ROOM following the video: stores NO under the room's identifier in "
                             "com.tovek.glimmora. An unknown or ambiguous ROOM is refused and nothing is stored");
    deselect->add_option("ROOM", *rooms, roomHelp)->required();
    deselect->callback([rooms] { selectRooms(*rooms, false); });

    addPairingCommands(home);
    addDiscoverCommand(home);
}
