#include "HomeDescription.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "../Foundation/DeviceDirectory.h"
#include "../Foundation/PrintableText.h"

#include "HMTypes.h"
#include "HomeKitDevice.h"
#include "JsonLocations.h"
#include "NameBasedUUID.h"

using device::Status;

namespace {

using json = nlohmann::json;

constexpr int kMaxMilliseconds = 600000;

// The namespace of identifiers derived from names; fixed for good, or every derived identifier
// (and every room selection stored under one) would change.
const NSUUID* derivationSpace() {
    static const Strong<NSUUID> space = NSUUID::fromString("9C7E3A52-5D0B-4C2E-8F61-3B4A0D7E91C5");
    return space.get();
}

const char* typeName(const json& value) {
    switch (value.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return "a Boolean";
        case json::value_t::string:
            return "a string";
        case json::value_t::array:
            return "an array";
        case json::value_t::object:
            return "an object";
        default:
            return "a number";
    }
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Names and members come from the file: they are quoted escaped, so a message cannot act on a terminal.
std::string quote(const std::string& text) { return device::quotedPrintable(text); }

struct Refusal {
    std::string pointer;
    std::string reason;
};

// Walks the parsed description, building the checked one; the first problem ends the walk.
class Checker {
public:
    explicit Checker(const JsonLocations& where) : where_(where) {}

    HomesDescription homes(const json& root) {
        if (!root.is_object()) refuse("", std::string("the description must be an object, not ") + typeName(root));
        allowOnly(root, "", {"homes"});
        if (!root.contains("homes")) refuse("", "missing \"homes\"");
        HomesDescription description;
        const json& homes = arrayMember(root, "", "homes");
        bool primaryFound = false;
        std::unordered_map<std::string, int> seen;
        for (size_t i = 0; i < homes.size(); ++i) {
            std::string pointer = childPointer(childPointer("", "homes"), i);
            Scope scope(*this, "home", i);
            HomeDescription home = this->home(homes[i], pointer, seen);
            if (home.primary && primaryFound)
                refuse(childPointer(pointer, "primary"), "a second home is marked primary");
            primaryFound = primaryFound || home.primary;
            description.homes.push_back(std::move(home));
        }
        return description;
    }

    // "<line>: <where>: <why>" for a refusal.
    std::string describe(const Refusal& refusal) const {
        std::string where;
        for (const std::string& label : refusalContext_) where += label + ": ";
        return std::to_string(where_.lineOf(refusal.pointer)) + ": " + where + refusal.reason;
    }

private:
    // A level of the walk, named in messages: `room "Kitchen"`, or `room 2` until its name is known.
    class Scope {
    public:
        Scope(Checker& checker, const char* kind, size_t index) : checker_(checker) {
            checker_.context_.push_back({kind, "", index});
        }
        ~Scope() { checker_.context_.pop_back(); }

    private:
        Checker& checker_;
    };
    struct Label {
        std::string kind;
        std::string name;
        size_t index;
    };

    [[noreturn]] void refuse(const std::string& pointer, const std::string& reason) {
        // From the innermost named level down: enough to find the place without the whole path.
        size_t first = 0;
        for (size_t i = 0; i < context_.size(); ++i) {
            if (!context_[i].name.empty()) first = i;
        }
        refusalContext_.clear();
        for (size_t i = first; i < context_.size(); ++i) {
            const Label& label = context_[i];
            refusalContext_.push_back(label.kind + " " +
                                      (label.name.empty() ? std::to_string(label.index + 1) : quote(label.name)));
        }
        throw Refusal{pointer, reason};
    }

    void allowOnly(const json& object, const std::string& pointer, std::initializer_list<const char*> members) {
        for (auto& [key, value] : object.items()) {
            bool known = false;
            for (const char* member : members) known = known || key == member;
            if (!known) refuse(childPointer(pointer, key), "unknown member " + quote(key));
        }
    }

    const json& arrayMember(const json& object, const std::string& pointer, const char* key) {
        static const json empty = json::array();
        if (!object.contains(key)) return empty;
        const json& value = object.at(key);
        if (!value.is_array())
            refuse(childPointer(pointer, key), quote(key) + " must be an array, not " + typeName(value));
        return value;
    }

    std::optional<std::string> stringMember(const json& object, const std::string& pointer, const char* key) {
        if (!object.contains(key)) return std::nullopt;
        const json& value = object.at(key);
        if (!value.is_string())
            refuse(childPointer(pointer, key), quote(key) + " must be a string, not " + typeName(value));
        return value.get<std::string>();
    }

    // The object's name, which must be there and not be empty; the current level takes it.
    std::string name(const json& object, const std::string& pointer) {
        std::optional<std::string> name = stringMember(object, pointer, "name");
        if (!name) refuse(pointer, "missing \"name\"");
        if (name->empty()) refuse(childPointer(pointer, "name"), "\"name\" must not be empty");
        context_.back().name = *name;
        return *name;
    }

    int milliseconds(const json& object, const std::string& pointer, const char* key, int fallback) {
        if (!object.contains(key)) return fallback;
        const json& value = object.at(key);
        std::string at = childPointer(pointer, key);
        if (!value.is_number_integer())
            refuse(at, quote(key) + " must be a whole number of milliseconds, not " +
                           (value.is_number() ? value.dump() : typeName(value)));
        long long ms = value.get<long long>();
        if (ms < 0 || ms > kMaxMilliseconds)
            refuse(at, quote(key) + " must be from 0 to " + std::to_string(kMaxMilliseconds) + ", not " + value.dump());
        return static_cast<int>(ms);
    }

    // The object's identifier: its "uuid" when given, else derived from `derivedName` under
    // `parent`. Every identifier of the description must differ from every other.
    std::string identifier(const json& object, const std::string& pointer, const NSUUID* parent,
                           const std::string& derivedName) {
        std::string text;
        std::string at = pointer;
        if (std::optional<std::string> given = stringMember(object, pointer, "uuid")) {
            at = childPointer(pointer, "uuid");
            Strong<NSUUID> parsed = NSUUID::fromString(given->c_str());
            if (!parsed) refuse(at, "\"uuid\" " + quote(*given) + " is not a UUID (8-4-4-4-12 hexadecimal digits)");
            text = parsed->uuidText()->string();
        } else {
            text = nameBasedUUID(parent, derivedName)->uuidText()->string();
        }
        auto [existing, added] = identifiers_.emplace(text, at);
        if (!added)
            refuse(at, "uuid " + text + " is used twice (first on line " +
                           std::to_string(where_.lineOf(existing->second)) + ")");
        return text;
    }

    // Counts earlier siblings with the same key, so derived identifiers differ even for twins.
    static std::string occurrence(std::unordered_map<std::string, int>& seen, const std::string& key) {
        return key + "#" + std::to_string(seen[key]++);
    }

    static Strong<NSUUID> uuid(const std::string& text) { return NSUUID::fromString(text.c_str()); }

    HomeDescription home(const json& object, const std::string& pointer, std::unordered_map<std::string, int>& seen) {
        if (!object.is_object()) refuse(pointer, std::string("a home must be an object, not ") + typeName(object));
        HomeDescription home;
        home.name = name(object, pointer);  // first, so later messages name the home
        allowOnly(object, pointer, {"name", "uuid", "primary", "rooms"});
        home.identifier = identifier(object, pointer, derivationSpace(), "home:" + occurrence(seen, home.name));
        if (object.contains("primary")) {
            const json& primary = object.at("primary");
            if (!primary.is_boolean())
                refuse(childPointer(pointer, "primary"),
                       std::string("\"primary\" must be true or false, not ") + typeName(primary));
            home.primary = primary.get<bool>();
        }
        Strong<NSUUID> homeUUID = uuid(home.identifier);
        std::unordered_map<std::string, int> roomsSeen, accessoriesSeen;
        const json& rooms = arrayMember(object, pointer, "rooms");
        for (size_t i = 0; i < rooms.size(); ++i) {
            Scope scope(*this, "room", i);
            home.rooms.push_back(
                room(rooms[i], childPointer(childPointer(pointer, "rooms"), i), homeUUID, roomsSeen, accessoriesSeen));
        }
        return home;
    }

    RoomDescription room(const json& object, const std::string& pointer, const Strong<NSUUID>& homeUUID,
                         std::unordered_map<std::string, int>& roomsSeen,
                         std::unordered_map<std::string, int>& accessoriesSeen) {
        if (!object.is_object()) refuse(pointer, std::string("a room must be an object, not ") + typeName(object));
        RoomDescription room;
        room.name = name(object, pointer);
        allowOnly(object, pointer, {"name", "uuid", "accessories"});
        room.identifier = identifier(object, pointer, homeUUID, "room:" + occurrence(roomsSeen, room.name));
        const json& accessories = arrayMember(object, pointer, "accessories");
        for (size_t i = 0; i < accessories.size(); ++i) {
            Scope scope(*this, "accessory", i);
            room.accessories.push_back(accessory(accessories[i], childPointer(childPointer(pointer, "accessories"), i),
                                                 homeUUID, accessoriesSeen));
        }
        return room;
    }

    // An accessory's identifier is derived under its home, not its room: moving it keeps it.
    AccessoryDescription accessory(const json& object, const std::string& pointer, const Strong<NSUUID>& homeUUID,
                                   std::unordered_map<std::string, int>& seen) {
        if (!object.is_object())
            refuse(pointer, std::string("an accessory must be an object, not ") + typeName(object));
        AccessoryDescription accessory;
        accessory.name = name(object, pointer);
        allowOnly(object, pointer, {"name", "uuid", "latencyMs", "fault", "timeoutMs", "hap", "services"});
        accessory.identifier = identifier(object, pointer, homeUUID, "accessory:" + occurrence(seen, accessory.name));
        accessory.latencyMs = milliseconds(object, pointer, "latencyMs", accessory.latencyMs);
        accessory.timeoutMs = milliseconds(object, pointer, "timeoutMs", accessory.timeoutMs);
        if (std::optional<std::string> fault = stringMember(object, pointer, "fault")) {
            if (*fault == "none")
                accessory.fault = AccessoryFault::none;
            else if (*fault == "error")
                accessory.fault = AccessoryFault::error;
            else if (*fault == "unreachable")
                accessory.fault = AccessoryFault::unreachable;
            else
                refuse(childPointer(pointer, "fault"),
                       "unknown fault " + quote(*fault) + " (none, error or unreachable)");
        }
        if (object.contains("hap")) {
            accessory.hap = hapAddress(object.at("hap"), childPointer(pointer, "hap"));
            for (const char* simulated : {"latencyMs", "fault"})
                if (object.contains(simulated))
                    refuse(childPointer(pointer, simulated),
                           quote(simulated) + " is for a simulated accessory; a real one has its own");
        }
        Strong<NSUUID> accessoryUUID = uuid(accessory.identifier);
        std::unordered_map<std::string, int> servicesSeen;
        const json& services = arrayMember(object, pointer, "services");
        for (size_t i = 0; i < services.size(); ++i) {
            Scope scope(*this, "service", i);
            accessory.services.push_back(service(services[i], childPointer(childPointer(pointer, "services"), i),
                                                 accessoryUUID, accessory.name, servicesSeen));
        }
        for (const ServiceDescription& service : accessory.services)
            for (const CharacteristicDescription& characteristic : service.characteristics)
                if ((characteristic.iid != 0) != accessory.hap.has_value())
                    refuse(pointer, accessory.hap
                                        ? "every characteristic of a real accessory needs its \"hap\" ids"
                                        : "a characteristic has \"hap\" ids but its accessory has no \"hap\"");
        return accessory;
    }

    HapAccessoryAddress hapAddress(const json& object, const std::string& pointer) {
        if (!object.is_object()) refuse(pointer, std::string("\"hap\" must be an object, not ") + typeName(object));
        allowOnly(object, pointer, {"address", "port", "id"});
        HapAccessoryAddress address;
        std::optional<std::string> host = stringMember(object, pointer, "address");
        std::optional<std::string> id = stringMember(object, pointer, "id");
        if (!host || host->empty()) refuse(pointer, "missing \"address\"");
        if (!id || id->empty()) refuse(pointer, "missing \"id\"");
        address.host = *host;
        address.pairingId = *id;
        address.port = static_cast<uint16_t>(wholeNumber(object, pointer, "port", 1, 65535));
        return address;
    }

    // The whole number `key` of `object`, which must be there and within [low, high].
    uint64_t wholeNumber(const json& object, const std::string& pointer, const char* key, uint64_t low, uint64_t high) {
        if (!object.contains(key)) refuse(pointer, "missing " + quote(key));
        const json& value = object.at(key);
        if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<long long>() >= 0))
            refuse(childPointer(pointer, key), quote(key) + " must be a whole number, not " + value.dump());
        uint64_t number = value.get<uint64_t>();
        if (number < low || number > high)
            refuse(childPointer(pointer, key), quote(key) + " must be from " + std::to_string(low) + " to " +
                                                   std::to_string(high) + ", not " + value.dump());
        return number;
    }

    // The type identifier `object` names, from a short name or a UUID in any case.
    std::string type(const json& object, const std::string& pointer, NSString* (*shortName)(std::string_view)) {
        std::optional<std::string> given = stringMember(object, pointer, "type");
        if (!given) refuse(pointer, "missing \"type\"");
        if (NSString* known = shortName(*given)) return known->string();
        uint8_t bytes[16];
        if (NSUUID::parse(*given, bytes)) return upper(*given);
        refuse(childPointer(pointer, "type"), "unknown type " + quote(*given));
    }

    ServiceDescription service(const json& object, const std::string& pointer, const Strong<NSUUID>& accessoryUUID,
                               const std::string& accessoryName, std::unordered_map<std::string, int>& seen) {
        if (!object.is_object()) refuse(pointer, std::string("a service must be an object, not ") + typeName(object));
        allowOnly(object, pointer, {"type", "name", "uuid", "characteristics"});
        ServiceDescription service;
        service.type = type(object, pointer, device::serviceTypeForShortName);
        std::optional<std::string> name = stringMember(object, pointer, "name");
        service.name = name && !name->empty() ? *name : accessoryName;
        service.identifier = identifier(object, pointer, accessoryUUID, "service:" + occurrence(seen, service.type));
        Strong<NSUUID> serviceUUID = uuid(service.identifier);
        std::unordered_map<std::string, int> characteristicsSeen;
        const json& characteristics = arrayMember(object, pointer, "characteristics");
        for (size_t i = 0; i < characteristics.size(); ++i) {
            Scope scope(*this, "characteristic", i);
            service.characteristics.push_back(characteristic(characteristics[i],
                                                             childPointer(childPointer(pointer, "characteristics"), i),
                                                             serviceUUID, characteristicsSeen));
        }
        return service;
    }

    CharacteristicDescription characteristic(const json& object, const std::string& pointer,
                                             const Strong<NSUUID>& serviceUUID,
                                             std::unordered_map<std::string, int>& seen) {
        if (!object.is_object())
            refuse(pointer, std::string("a characteristic must be an object, not ") + typeName(object));
        allowOnly(object, pointer, {"type", "uuid", "value", "metadata", "hap"});
        CharacteristicDescription characteristic;
        characteristic.line = where_.lineOf(pointer);
        characteristic.type = type(object, pointer, device::characteristicTypeForShortName);
        characteristic.identifier =
            identifier(object, pointer, serviceUUID, "characteristic:" + occurrence(seen, characteristic.type));
        if (object.contains("metadata"))
            characteristic.metadata = metadata(object.at("metadata"), childPointer(pointer, "metadata"));
        if (object.contains("hap")) {
            const json& ids = object.at("hap");
            std::string at = childPointer(pointer, "hap");
            if (!ids.is_object()) refuse(at, std::string("\"hap\" must be an object, not ") + typeName(ids));
            allowOnly(ids, at, {"aid", "iid"});
            characteristic.aid = wholeNumber(ids, at, "aid", 1, UINT64_MAX);
            characteristic.iid = wholeNumber(ids, at, "iid", 1, UINT64_MAX);
        }
        if (object.contains("value")) {
            std::string at = childPointer(pointer, "value");
            characteristic.value = value(object.at("value"), at);
            ValueCheck check = checkCharacteristicValue(characteristic.metadata ? &*characteristic.metadata : nullptr,
                                                        characteristic.value.get());
            if (!check.accepted()) refuse(at, "\"value\" " + check.reason);
        }
        return characteristic;
    }

    Strong<NSObject> value(const json& value, const std::string& pointer) {
        switch (value.type()) {
            case json::value_t::boolean:
                return NSNumber::numberWithBool(value.get<bool>());
            case json::value_t::number_integer:
                return NSNumber::numberWithLongLong(value.get<long long>());
            case json::value_t::number_unsigned:
                if (value.get<unsigned long long>() > 9223372036854775807ull) refuse(pointer, "\"value\" is too large");
                return NSNumber::numberWithLongLong(static_cast<long long>(value.get<unsigned long long>()));
            case json::value_t::number_float:
                return NSNumber::numberWithDouble(value.get<double>());
            case json::value_t::string:
                return NSString::stringWithString(value.get<std::string>());
            default:
                refuse(pointer,
                       std::string("\"value\" must be a number, a Boolean or a string, not ") + typeName(value));
        }
    }

    ValueLimits metadata(const json& object, const std::string& pointer) {
        if (!object.is_object())
            refuse(pointer, std::string("\"metadata\" must be an object, not ") + typeName(object));
        allowOnly(object, pointer, {"format", "minimumValue", "maximumValue", "stepValue", "units"});
        ValueLimits limits;
        if (std::optional<std::string> format = stringMember(object, pointer, "format")) {
            if (!isKnownValueFormat(*format))
                refuse(childPointer(pointer, "format"),
                       "unknown format " + quote(*format) + " (bool, int, float, string, uint8, uint16 or uint32)");
            limits.format = *format;
        }
        limits.minimumValue = number(object, pointer, "minimumValue");
        limits.maximumValue = number(object, pointer, "maximumValue");
        limits.stepValue = number(object, pointer, "stepValue");
        limits.units = stringMember(object, pointer, "units").value_or("");
        if (limits.minimumValue && limits.maximumValue && *limits.minimumValue > *limits.maximumValue)
            refuse(childPointer(pointer, "maximumValue"), "\"maximumValue\" is below \"minimumValue\"");
        if (limits.stepValue && *limits.stepValue <= 0)
            refuse(childPointer(pointer, "stepValue"), "\"stepValue\" must be above 0");
        return limits;
    }

    std::optional<double> number(const json& object, const std::string& pointer, const char* key) {
        if (!object.contains(key)) return std::nullopt;
        const json& value = object.at(key);
        if (!value.is_number())
            refuse(childPointer(pointer, key), quote(key) + " must be a number, not " + typeName(value));
        return value.get<double>();
    }

    const JsonLocations& where_;
    std::vector<Label> context_;
    std::vector<std::string> refusalContext_;
    std::unordered_map<std::string, std::string> identifiers_;  // identifier -> pointer of its first use
};

// Where the parse stopped at a number too large for a double: json::parse throws out_of_range
// without a place for that, the SAX interface gives one. Everything else is accepted unread.
class OverflowPlace : public json::json_sax_t {
public:
    size_t offset = 0;  // of the number's first byte

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(json::number_integer_t) override { return true; }
    bool number_unsigned(json::number_unsigned_t) override { return true; }
    bool number_float(json::number_float_t, const json::string_t&) override { return true; }
    bool string(json::string_t&) override { return true; }
    bool binary(json::binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(json::string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception&) override {
        // `position` is just past the number.
        offset = position > token.size() ? position - token.size() : 0;
        return false;
    }
};

// nlohmann's message without its own prefix and position, which the caller gives in its own form.
std::string syntaxReason(const json::parse_error& error) {
    std::string what = error.what();
    size_t colon = what.find(": ", what.find("parse error"));
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

}  // namespace

Status parseHomeDescription(std::string_view text, const std::string& sourceName, HomesDescription* description) {
    if (text.size() > kMaxHomeDescriptionBytes)
        return Status::error(sourceName + ": the description is larger than " +
                             std::to_string(kMaxHomeDescriptionBytes) + " bytes");
    if (std::optional<size_t> deep = findDeepNesting(text, kMaxHomeDescriptionDepth)) {
        auto [line, column] = lineAndColumn(text, *deep);
        return Status::error(sourceName + ":" + std::to_string(line) + ":" + std::to_string(column) +
                             ": nested deeper than " + std::to_string(kMaxHomeDescriptionDepth) + " levels");
    }
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& error) {
        // `byte` counts from 1 and points just past the character that broke the parse.
        size_t offset = error.byte > 0 ? error.byte - 1 : 0;
        auto [line, column] = lineAndColumn(text, offset);
        return Status::error(sourceName + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                             syntaxReason(error));
    } catch (const json::out_of_range&) {
        // The only one parsing throws: a number beyond the range of a double ("1e999").
        OverflowPlace place;
        json::sax_parse(text, &place);
        auto [line, column] = lineAndColumn(text, place.offset);
        return Status::error(sourceName + ":" + std::to_string(line) + ":" + std::to_string(column) +
                             ": a number too large");
    }
    JsonLocations where(text);
    if (!where.firstRepeatedKey().empty()) {
        const std::string& pointer = where.firstRepeatedKey();
        return Status::error(sourceName + ":" + std::to_string(where.lineOf(pointer)) + ": the member " +
                             quote(pointer.substr(pointer.rfind('/') + 1)) + " appears twice in the same object");
    }
    Checker checker(where);
    try {
        *description = checker.homes(root);
    } catch (const Refusal& refusal) {
        return Status::error(sourceName + ":" + checker.describe(refusal));
    } catch (const json::exception& error) {
        // The checker tests every type before reading, so this means a gap in it; still no crash.
        return Status::error(sourceName + ": " + error.what());
    }
    return Status::OK();
}

Status readDescriptionFile(const std::string& path, std::string* text, bool* missing) {
    if (missing) *missing = false;
    // Not blocking: opening a FIFO would wait for a writer for ever before it could be refused.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT && missing) *missing = true;
        return Status::error(errno == ENOENT ? "no home description at " + path
                                             : "cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat info {};
    std::string problem;
    if (fstat(fd, &info) != 0)
        problem = "cannot read " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        problem = path + " is not a regular file";
    else if (static_cast<size_t>(info.st_size) > kMaxHomeDescriptionBytes)
        problem = path + " is larger than " + std::to_string(kMaxHomeDescriptionBytes) + " bytes";
    text->clear();
    char buffer[65536];
    while (problem.empty()) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) problem = "cannot read " + path + ": " + std::strerror(errno);
        if (got <= 0) break;
        text->append(buffer, static_cast<size_t>(got));
        if (text->size() > kMaxHomeDescriptionBytes)
            problem = path + " is larger than " + std::to_string(kMaxHomeDescriptionBytes) + " bytes";
    }
    close(fd);
    return problem.empty() ? Status::OK() : Status::error(problem);
}

Status readHomeDescription(const std::string& path, const std::string& sourceName, HomesDescription* description,
                           bool* missing) {
    std::string text;
    if (Status problem = readDescriptionFile(path, &text, missing); !problem.ok()) return problem;
    return parseHomeDescription(text, sourceName, description);
}

std::string homeDescriptionPath() { return device::deviceDirectory() + "/home.json"; }

Status installHomeDescription(const std::string& directory, std::string_view text) {
    if (device::Status problem = device::ensurePrivateDirectory(directory); !problem.ok())
        return Status::error("the device directory cannot be used: " + problem.message());
    std::string path = directory + "/home.json";
    std::string temporary = directory + "/.home.json.XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return Status::error("cannot create a file in " + directory + ": " + std::strerror(errno));
    std::string problem;
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem = "cannot write " + temporary + ": " + std::strerror(errno);
            break;
        }
        written += static_cast<size_t>(n);
    }
    // Synced before the rename, so a crash leaves the old description or the whole new one.
    if (problem.empty() && fsync(fd) != 0) problem = "cannot write " + temporary + ": " + std::strerror(errno);
    if (close(fd) != 0 && problem.empty()) problem = "cannot write " + temporary + ": " + std::strerror(errno);
    if (problem.empty() && rename(temporary.c_str(), path.c_str()) != 0)
        problem = "cannot replace " + path + ": " + std::strerror(errno);
    if (!problem.empty()) unlink(temporary.c_str());
    return problem.empty() ? Status::OK() : Status::error(problem);
}

std::vector<std::pair<std::string, Strong<NSObject>>> describedValues(const HomesDescription& description) {
    std::vector<std::pair<std::string, Strong<NSObject>>> values;
    for (const HomeDescription& home : description.homes)
        for (const RoomDescription& room : home.rooms)
            for (const AccessoryDescription& accessory : room.accessories)
                for (const ServiceDescription& service : accessory.services)
                    for (const CharacteristicDescription& characteristic : service.characteristics)
                        values.emplace_back(characteristic.identifier, characteristic.value);
    return values;
}
