// The home description: the device's homes, rooms, accessories, services and characteristics as
// the file "home.json" in the device directory gives them, checked and with every identifier
// resolved. Device only: HMHomeManager builds its objects from it, and the `glimmora home` tool
// reads and installs it. Plain values; a description may be shared between threads once made.
//
// The file:
//   {"homes": [{"name", "uuid"?, "primary"?, "rooms": [{"name", "uuid"?, "accessories": [
//     {"name", "uuid"?, "latencyMs"?, "fault"? ("none" | "error" | "unreachable"), "timeoutMs"?,
//      "hap"?: {"address", "port", "id"},
//      "services": [{"type", "name"?, "uuid"?, "characteristics": [
//        {"type", "uuid"?, "value"?, "metadata"?: {"format"?, "minimumValue"?, "maximumValue"?,
//                                                  "stepValue"?, "units"?},
//         "hap"?: {"aid", "iid"}}]}]}]}]}]}
// Types are HomeKit type identifiers or short names ("lightbulb", "hue", ...; see TypeNames.h).
// Arrays other than "homes" may be left out. A missing uuid is derived from the names (or types)
// of the object and its parents, so it is the same in every process and every run.
// writeHomeDescription (HomeDescriptionWriter.h) writes a description back as this text.
//
// An accessory with "hap" is a real one, paired with `glimmora home pair` and reached over the
// HomeKit Accessory Protocol at that address; "id" is its pairing identifier, and each of its
// characteristics names its own accessory and instance ids. Its latency and faults are its own, so
// it takes no "latencyMs" or "fault"; "timeoutMs" bounds each request to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../base/Status.h"

#include "../Foundation/Foundation.h"

#include "CharacteristicValue.h"

enum class AccessoryFault { none, error, unreachable };

struct CharacteristicDescription {
    std::string type;        // the type identifier, upper case
    std::string identifier;  // upper case
    // Whether the file gave the identifier ("uuid"), else it is derived; the writer writes only a
    // given one. The same on every level below.
    bool identifierGiven = false;
    Strong<NSObject> value;  // NSNumber or NSString; nil when the description gives none
    std::optional<ValueLimits> metadata;
    uint64_t aid = 0, iid = 0;  // a real accessory's own ids for it; 0 for a simulated one
    int line = 0;               // where the description starts in its file
};

struct ServiceDescription {
    std::string type;
    std::string name;        // the accessory's name when the description gives none
    bool nameGiven = false;  // whether the file gave a name (not empty); the writer writes only a given one
    std::string identifier;
    bool identifierGiven = false;
    std::vector<CharacteristicDescription> characteristics;
};

// Where a real accessory is reached, and who it is.
struct HapAccessoryAddress {
    std::string host;
    uint16_t port = 0;
    std::string pairingId;
    // The configuration number ("c#") it advertised when its services were last read; 0 when not known.
    uint32_t configuration = 0;
};

struct AccessoryDescription {
    std::string name;
    std::string identifier;
    bool identifierGiven = false;
    int latencyMs = 20;
    AccessoryFault fault = AccessoryFault::none;
    int timeoutMs = 10000;
    std::optional<HapAccessoryAddress> hap;  // absent for a simulated accessory
    std::vector<ServiceDescription> services;
};

struct RoomDescription {
    std::string name;
    std::string identifier;
    bool identifierGiven = false;
    std::vector<AccessoryDescription> accessories;
};

struct HomeDescription {
    std::string name;
    std::string identifier;
    bool identifierGiven = false;
    bool primary = false;
    std::vector<RoomDescription> rooms;
};

struct HomesDescription {
    std::vector<HomeDescription> homes;
};

// The largest description file read, and the deepest nesting accepted.
constexpr size_t kMaxHomeDescriptionBytes = 4 << 20;
constexpr int kMaxHomeDescriptionDepth = 32;

// Parses and checks `text`, filling `*description`. An error says
// "<sourceName>:<line>[:<column>]: <where>: <why>" and leaves `*description` untouched.
device::Status parseHomeDescription(std::string_view text, const std::string& sourceName,
                                    HomesDescription* description);

// Reads the file at `path` and parses it as above, naming it `sourceName` in messages. A missing
// file gives "no home description at <path>" and sets `*missing` (when given).
device::Status readHomeDescription(const std::string& path, const std::string& sourceName,
                                   HomesDescription* description, bool* missing = nullptr);
// Reads `path` whole, refusing files larger than kMaxHomeDescriptionBytes. An error says why not
// (then `*text` is unspecified); sets `*missing` when there is no file.
device::Status readDescriptionFile(const std::string& path, std::string* text, bool* missing = nullptr);

// Every characteristic's identifier with its described value (nil when none), in description order:
// what the accessory store is brought in line with.
std::vector<std::pair<std::string, Strong<NSObject>>> describedValues(const HomesDescription& description);

// "home.json" in the device directory.
std::string homeDescriptionPath();
// Replaces "home.json" in `directory` with `text` at once (a private temporary file renamed over
// it), so a reader sees the old description or the new one, never a part. An error says why not,
// and the old description is untouched then. Does not check `text`.
device::Status installHomeDescription(const std::string& directory, std::string_view text);
