// What the settings page shows of the device, read afresh: the three switches; the catalogue of
// homes and rooms the home screen published ("Homes" and "Rooms"), each room with its switch;
// every light with its colour, power, brightness, saturation and hue; and the last colour the home
// screen received. As the JSON text the page draws.
//
// Any thread; each call opens what it reads.
#pragma once

#include <memory>
#include <string>
#include <vector>

// One published room: its name, its identifier text and its home's.
struct CatalogueRoom {
    std::string name, identifier, homeIdentifier;
};
struct CatalogueHome {
    std::string name, identifier;
};
struct Catalogue {
    std::vector<CatalogueHome> homes;
    std::vector<CatalogueRoom> rooms;
    // Entries that are not "name_ID" (homes) or "name_ID_HOMEID" (rooms) with identifier texts: left out.
    std::vector<std::string> unreadable;
};

// The catalogue in the published lists. A name may hold "_": the identifiers are the last fields.
Catalogue parseCatalogue(const std::vector<std::string>& homes, const std::vector<std::string>& rooms);

class HBPreferences;
// The catalogue as published in `settings`; false when neither list has been published.
bool readCatalogue(HBPreferences* settings, Catalogue* out);

// Whether `text` is an identifier text: a UUID in upper case, as the room switches are keyed.
bool isIdentifierText(const std::string& text);

// Reads the page's state as JSON text (an object: switches, catalogue, lights, lastColour,
// problems), again and again at little cost: the stores stay open. One sequence.
class SettingsStateReader {
public:
    SettingsStateReader();
    ~SettingsStateReader();
    SettingsStateReader(const SettingsStateReader&) = delete;
    SettingsStateReader& operator=(const SettingsStateReader&) = delete;

    std::string read();

private:
    struct Open;
    std::unique_ptr<Open> open_;
};
