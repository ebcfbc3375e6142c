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
#include "../base/StatusOr.h"

#include "JsonLocations.h"
#include "NameBasedUUID.h"
#include "TypeNames.h"

using device::Status;
using device::StatusOr;

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

// Walks the parsed description, building the checked one; the first problem ends the walk, and
// each step returns it as "<line>: <where>: <why>".
class Checker {
public:
    explicit Checker(const JsonLocations& where) : where_(where) {}

    StatusOr<HomesDescription> homes(const json& root) {
        if (!root.is_object())
            return refuse("", std::string("the description must be an object, not ") + typeName(root));
        if (Status refused = allowOnly(root, "", {"homes"}); !refused.ok()) return refused;
        if (!root.contains("homes")) return refuse("", "missing \"homes\"");
        HomesDescription description;
        StatusOr<const json*> homes = arrayMember(root, "", "homes");
        if (!homes.ok()) return homes.status();
        bool primaryFound = false;
        std::unordered_map<std::string, int> seen;
        for (size_t i = 0; i < (*homes)->size(); ++i) {
            std::string pointer = childPointer(childPointer("", "homes"), i);
            Scope scope(*this, "home", i);
            StatusOr<HomeDescription> home = this->home((**homes)[i], pointer, seen);
            if (!home.ok()) return home.status();
            if (home->primary && primaryFound)
                return refuse(childPointer(pointer, "primary"), "a second home is marked primary");
            primaryFound = primaryFound || home->primary;
            description.homes.push_back(*std::move(home));
        }
        return description;
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

    Status refuse(const std::string& pointer, const std::string& reason) const {
        // From the innermost named level down: enough to find the place without the whole path.
        size_t first = 0;
        for (size_t i = 0; i < context_.size(); ++i) {
            if (!context_[i].name.empty()) first = i;
        }
        std::string where;
        for (size_t i = first; i < context_.size(); ++i) {
            const Label& label = context_[i];
            where +=
                label.kind + " " + (label.name.empty() ? std::to_string(label.index + 1) : quote(label.name)) + ": ";
        }
        return Status::error(std::to_string(where_.lineOf(pointer)) + ": " + where + reason);
    }

    Status allowOnly(const json& object, const std::string& pointer, std::initializer_list<const char*> members) const {
        for (auto& [key, value] : object.items()) {
            bool known = false;
            for (const char* member : members) known = known || key == member;
            if (!known) return refuse(childPointer(pointer, key), "unknown member " + quote(key));
        }
        return Status::OK();
    }

    // The array `key` of `object`, or an empty one when there is none.
    StatusOr<const json*> arrayMember(const json& object, const std::string& pointer, const char* key) const {
        static const json empty = json::array();
        if (!object.contains(key)) return &empty;
        const json& value = object.at(key);
        if (!value.is_array())
            return refuse(childPointer(pointer, key), quote(key) + " must be an array, not " + typeName(value));
        return &value;
    }

    StatusOr<std::optional<std::string>> stringMember(const json& object, const std::string& pointer,
                                                      const char* key) const {
        if (!object.contains(key)) return std::optional<std::string>();
        const json& value = object.at(key);
        if (!value.is_string())
            return refuse(childPointer(pointer, key), quote(key) + " must be a string, not " + typeName(value));
        return std::optional(value.get<std::string>());
    }

    // The object's name, which must be there and not be empty; the current level takes it.
    StatusOr<std::string> name(const json& object, const std::string& pointer) {
        StatusOr<std::optional<std::string>> name = stringMember(object, pointer, "name");
        if (!name.ok()) return name.status();
        if (!*name) return refuse(pointer, "missing \"name\"");
        if ((*name)->empty()) return refuse(childPointer(pointer, "name"), "\"name\" must not be empty");
        context_.back().name = **name;
        return **name;
    }

    StatusOr<int> milliseconds(const json& object, const std::string& pointer, const char* key, int fallback) const {
        if (!object.contains(key)) return fallback;
        const json& value = object.at(key);
        std::string at = childPointer(pointer, key);
        if (!value.is_number_integer())
            return refuse(at, quote(key) + " must be a whole number of milliseconds, not " +
                                  (value.is_number() ? value.dump() : typeName(value)));
        long long ms = value.get<long long>();
        if (ms < 0 || ms > kMaxMilliseconds)
            return refuse(
                at, quote(key) + " must be from 0 to " + std::to_string(kMaxMilliseconds) + ", not " + value.dump());
        return static_cast<int>(ms);
    }

    // The object's identifier: its "uuid" when given, else derived from `derivedName` under
    // `parent`; `*given` says which. Every identifier of the description must differ from every
    // other.
    StatusOr<std::string> identifier(const json& object, const std::string& pointer, const NSUUID* parent,
                                     const std::string& derivedName, bool* given) {
        std::string text;
        std::string at = pointer;
        StatusOr<std::optional<std::string>> uuidText = stringMember(object, pointer, "uuid");
        if (!uuidText.ok()) return uuidText.status();
        *given = uuidText->has_value();
        if (*given) {
            at = childPointer(pointer, "uuid");
            Strong<NSUUID> parsed = NSUUID::fromString((*uuidText)->c_str());
            if (!parsed)
                return refuse(at, "\"uuid\" " + quote(**uuidText) + " is not a UUID (8-4-4-4-12 hexadecimal digits)");
            text = parsed->uuidText()->string();
        } else {
            text = nameBasedUUID(parent, derivedName)->uuidText()->string();
        }
        auto [existing, added] = identifiers_.emplace(text, at);
        if (!added)
            return refuse(at, "uuid " + text + " is used twice (first on line " +
                                  std::to_string(where_.lineOf(existing->second)) + ")");
        return text;
    }

    // Counts earlier siblings with the same key, so derived identifiers differ even for twins.
    static std::string occurrence(std::unordered_map<std::string, int>& seen, const std::string& key) {
        return key + "#" + std::to_string(seen[key]++);
    }

    static Strong<NSUUID> uuid(const std::string& text) { return NSUUID::fromString(text.c_str()); }

    StatusOr<HomeDescription> home(const json& object, const std::string& pointer,
                                   std::unordered_map<std::string, int>& seen) {
        if (!object.is_object())
            return refuse(pointer, std::string("a home must be an object, not ") + typeName(object));
        HomeDescription home;
        StatusOr<std::string> name = this->name(object, pointer);  // first, so later messages name the home
        if (!name.ok()) return name.status();
        home.name = *name;
        if (Status refused = allowOnly(object, pointer, {"name", "uuid", "primary", "rooms"}); !refused.ok())
            return refused;
        StatusOr<std::string> identifier = this->identifier(
            object, pointer, derivationSpace(), "home:" + occurrence(seen, home.name), &home.identifierGiven);
        if (!identifier.ok()) return identifier.status();
        home.identifier = *identifier;
        if (object.contains("primary")) {
            const json& primary = object.at("primary");
            if (!primary.is_boolean())
                return refuse(childPointer(pointer, "primary"),
                              std::string("\"primary\" must be true or false, not ") + typeName(primary));
            home.primary = primary.get<bool>();
        }
        Strong<NSUUID> homeUUID = uuid(home.identifier);
        std::unordered_map<std::string, int> roomsSeen, accessoriesSeen;
        StatusOr<const json*> rooms = arrayMember(object, pointer, "rooms");
        if (!rooms.ok()) return rooms.status();
        for (size_t i = 0; i < (*rooms)->size(); ++i) {
            Scope scope(*this, "room", i);
            StatusOr<RoomDescription> room = this->room((**rooms)[i], childPointer(childPointer(pointer, "rooms"), i),
                                                        homeUUID, roomsSeen, accessoriesSeen);
            if (!room.ok()) return room.status();
            home.rooms.push_back(*std::move(room));
        }
        return home;
    }

    StatusOr<RoomDescription> room(const json& object, const std::string& pointer, const Strong<NSUUID>& homeUUID,
                                   std::unordered_map<std::string, int>& roomsSeen,
                                   std::unordered_map<std::string, int>& accessoriesSeen) {
        if (!object.is_object())
            return refuse(pointer, std::string("a room must be an object, not ") + typeName(object));
        RoomDescription room;
        StatusOr<std::string> name = this->name(object, pointer);
        if (!name.ok()) return name.status();
        room.name = *name;
        if (Status refused = allowOnly(object, pointer, {"name", "uuid", "accessories"}); !refused.ok()) return refused;
        StatusOr<std::string> identifier = this->identifier(
            object, pointer, homeUUID, "room:" + occurrence(roomsSeen, room.name), &room.identifierGiven);
        if (!identifier.ok()) return identifier.status();
        room.identifier = *identifier;
        StatusOr<const json*> accessories = arrayMember(object, pointer, "accessories");
        if (!accessories.ok()) return accessories.status();
        for (size_t i = 0; i < (*accessories)->size(); ++i) {
            Scope scope(*this, "accessory", i);
            StatusOr<AccessoryDescription> accessory = this->accessory(
                (**accessories)[i], childPointer(childPointer(pointer, "accessories"), i), homeUUID, accessoriesSeen);
            if (!accessory.ok()) return accessory.status();
            room.accessories.push_back(*std::move(accessory));
        }
        return room;
    }

    // An accessory's identifier is derived under its home, not its room: moving it keeps it.
    StatusOr<AccessoryDescription> accessory(const json& object, const std::string& pointer,
                                             const Strong<NSUUID>& homeUUID,
                                             std::unordered_map<std::string, int>& seen) {
        if (!object.is_object())
            return refuse(pointer, std::string("an accessory must be an object, not ") + typeName(object));
        AccessoryDescription accessory;
        StatusOr<std::string> name = this->name(object, pointer);
        if (!name.ok()) return name.status();
        accessory.name = *name;
        if (Status refused =
                allowOnly(object, pointer, {"name", "uuid", "latencyMs", "fault", "timeoutMs", "hap", "services"});
            !refused.ok())
            return refused;
        StatusOr<std::string> identifier = this->identifier(
            object, pointer, homeUUID, "accessory:" + occurrence(seen, accessory.name), &accessory.identifierGiven);
        if (!identifier.ok()) return identifier.status();
        accessory.identifier = *identifier;
        StatusOr<int> latency = milliseconds(object, pointer, "latencyMs", accessory.latencyMs);
        if (!latency.ok()) return latency.status();
        accessory.latencyMs = *latency;
        StatusOr<int> timeout = milliseconds(object, pointer, "timeoutMs", accessory.timeoutMs);
        if (!timeout.ok()) return timeout.status();
        accessory.timeoutMs = *timeout;
        StatusOr<std::optional<std::string>> fault = stringMember(object, pointer, "fault");
        if (!fault.ok()) return fault.status();
        if (*fault) {
            if (**fault == "none")
                accessory.fault = AccessoryFault::none;
            else if (**fault == "error")
                accessory.fault = AccessoryFault::error;
            else if (**fault == "unreachable")
                accessory.fault = AccessoryFault::unreachable;
            else
                return refuse(childPointer(pointer, "fault"),
                              "unknown fault " + quote(**fault) + " (none, error or unreachable)");
        }
        if (object.contains("hap")) {
            StatusOr<HapAccessoryAddress> address = hapAddress(object.at("hap"), childPointer(pointer, "hap"));
            if (!address.ok()) return address.status();
            accessory.hap = *std::move(address);
            for (const char* simulated : {"latencyMs", "fault"})
                if (object.contains(simulated))
                    return refuse(childPointer(pointer, simulated),
                                  quote(simulated) + " is for a simulated accessory; a real one has its own");
        }
        Strong<NSUUID> accessoryUUID = uuid(accessory.identifier);
        std::unordered_map<std::string, int> servicesSeen;
        StatusOr<const json*> services = arrayMember(object, pointer, "services");
        if (!services.ok()) return services.status();
        for (size_t i = 0; i < (*services)->size(); ++i) {
            Scope scope(*this, "service", i);
            StatusOr<ServiceDescription> service =
                this->service((**services)[i], childPointer(childPointer(pointer, "services"), i), accessoryUUID,
                              accessory.name, servicesSeen);
            if (!service.ok()) return service.status();
            accessory.services.push_back(*std::move(service));
        }
        for (const ServiceDescription& service : accessory.services)
            for (const CharacteristicDescription& characteristic : service.characteristics)
                if ((characteristic.iid != 0) != accessory.hap.has_value())
                    return refuse(pointer, accessory.hap
                                               ? "every characteristic of a real accessory needs its \"hap\" ids"
                                               : "a characteristic has \"hap\" ids but its accessory has no \"hap\"");
        return accessory;
    }

    StatusOr<HapAccessoryAddress> hapAddress(const json& object, const std::string& pointer) const {
        if (!object.is_object())
            return refuse(pointer, std::string("\"hap\" must be an object, not ") + typeName(object));
        if (Status refused = allowOnly(object, pointer, {"address", "port", "id", "configuration"}); !refused.ok())
            return refused;
        HapAccessoryAddress address;
        StatusOr<std::optional<std::string>> host = stringMember(object, pointer, "address");
        if (!host.ok()) return host.status();
        StatusOr<std::optional<std::string>> id = stringMember(object, pointer, "id");
        if (!id.ok()) return id.status();
        if (!*host || (*host)->empty()) return refuse(pointer, "missing \"address\"");
        if (!*id || (*id)->empty()) return refuse(pointer, "missing \"id\"");
        address.host = **host;
        address.pairingId = **id;
        StatusOr<uint64_t> port = wholeNumber(object, pointer, "port", 1, 65535);
        if (!port.ok()) return port.status();
        address.port = static_cast<uint16_t>(*port);
        if (object.contains("configuration")) {
            StatusOr<uint64_t> configuration = wholeNumber(object, pointer, "configuration", 1, 0xffffffffu);
            if (!configuration.ok()) return configuration.status();
            address.configuration = static_cast<uint32_t>(*configuration);
        }
        return address;
    }

    // The whole number `key` of `object`, which must be there and within [low, high].
    StatusOr<uint64_t> wholeNumber(const json& object, const std::string& pointer, const char* key, uint64_t low,
                                   uint64_t high) const {
        if (!object.contains(key)) return refuse(pointer, "missing " + quote(key));
        const json& value = object.at(key);
        if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<long long>() >= 0))
            return refuse(childPointer(pointer, key), quote(key) + " must be a whole number, not " + value.dump());
        uint64_t number = value.get<uint64_t>();
        if (number < low || number > high)
            return refuse(childPointer(pointer, key), quote(key) + " must be from " + std::to_string(low) + " to " +
                                                          std::to_string(high) + ", not " + value.dump());
        return number;
    }

    // The type identifier `object` names, from a short name or a UUID in any case.
    StatusOr<std::string> type(const json& object, const std::string& pointer,
                               const char* (*shortName)(std::string_view)) const {
        StatusOr<std::optional<std::string>> given = stringMember(object, pointer, "type");
        if (!given.ok()) return given.status();
        if (!*given) return refuse(pointer, "missing \"type\"");
        if (const char* known = shortName(**given)) return std::string(known);
        uint8_t bytes[16];
        if (NSUUID::parse(**given, bytes)) return upper(**given);
        return refuse(childPointer(pointer, "type"), "unknown type " + quote(**given));
    }

    StatusOr<ServiceDescription> service(const json& object, const std::string& pointer,
                                         const Strong<NSUUID>& accessoryUUID, const std::string& accessoryName,
                                         std::unordered_map<std::string, int>& seen) {
        if (!object.is_object())
            return refuse(pointer, std::string("a service must be an object, not ") + typeName(object));
        if (Status refused = allowOnly(object, pointer, {"type", "name", "uuid", "characteristics"}); !refused.ok())
            return refused;
        ServiceDescription service;
        StatusOr<std::string> type = this->type(object, pointer, device::serviceTypeForShortName);
        if (!type.ok()) return type.status();
        service.type = *type;
        StatusOr<std::optional<std::string>> name = stringMember(object, pointer, "name");
        if (!name.ok()) return name.status();
        service.nameGiven = *name && !(*name)->empty();
        service.name = service.nameGiven ? **name : accessoryName;
        StatusOr<std::string> identifier = this->identifier(
            object, pointer, accessoryUUID, "service:" + occurrence(seen, service.type), &service.identifierGiven);
        if (!identifier.ok()) return identifier.status();
        service.identifier = *identifier;
        Strong<NSUUID> serviceUUID = uuid(service.identifier);
        std::unordered_map<std::string, int> characteristicsSeen;
        StatusOr<const json*> characteristics = arrayMember(object, pointer, "characteristics");
        if (!characteristics.ok()) return characteristics.status();
        for (size_t i = 0; i < (*characteristics)->size(); ++i) {
            Scope scope(*this, "characteristic", i);
            StatusOr<CharacteristicDescription> characteristic =
                this->characteristic((**characteristics)[i], childPointer(childPointer(pointer, "characteristics"), i),
                                     serviceUUID, characteristicsSeen);
            if (!characteristic.ok()) return characteristic.status();
            service.characteristics.push_back(*std::move(characteristic));
        }
        return service;
    }

    StatusOr<CharacteristicDescription> characteristic(const json& object, const std::string& pointer,
                                                       const Strong<NSUUID>& serviceUUID,
                                                       std::unordered_map<std::string, int>& seen) {
        if (!object.is_object())
            return refuse(pointer, std::string("a characteristic must be an object, not ") + typeName(object));
        if (Status refused = allowOnly(object, pointer, {"type", "uuid", "value", "metadata", "hap"}); !refused.ok())
            return refused;
        CharacteristicDescription characteristic;
        characteristic.line = where_.lineOf(pointer);
        StatusOr<std::string> type = this->type(object, pointer, device::characteristicTypeForShortName);
        if (!type.ok()) return type.status();
        characteristic.type = *type;
        StatusOr<std::string> identifier =
            this->identifier(object, pointer, serviceUUID, "characteristic:" + occurrence(seen, characteristic.type),
                             &characteristic.identifierGiven);
        if (!identifier.ok()) return identifier.status();
        characteristic.identifier = *identifier;
        if (object.contains("metadata")) {
            StatusOr<ValueLimits> limits = metadata(object.at("metadata"), childPointer(pointer, "metadata"));
            if (!limits.ok()) return limits.status();
            characteristic.metadata = *std::move(limits);
        }
        if (object.contains("hap")) {
            const json& ids = object.at("hap");
            std::string at = childPointer(pointer, "hap");
            if (!ids.is_object()) return refuse(at, std::string("\"hap\" must be an object, not ") + typeName(ids));
            if (Status refused = allowOnly(ids, at, {"aid", "iid"}); !refused.ok()) return refused;
            StatusOr<uint64_t> aid = wholeNumber(ids, at, "aid", 1, UINT64_MAX);
            if (!aid.ok()) return aid.status();
            StatusOr<uint64_t> iid = wholeNumber(ids, at, "iid", 1, UINT64_MAX);
            if (!iid.ok()) return iid.status();
            characteristic.aid = *aid;
            characteristic.iid = *iid;
        }
        if (object.contains("value")) {
            std::string at = childPointer(pointer, "value");
            StatusOr<Strong<NSObject>> value = this->value(object.at("value"), at);
            if (!value.ok()) return value.status();
            characteristic.value = *std::move(value);
            ValueCheck check = checkCharacteristicValue(characteristic.metadata ? &*characteristic.metadata : nullptr,
                                                        characteristic.value.get());
            if (!check.accepted()) return refuse(at, "\"value\" " + check.reason);
        }
        return characteristic;
    }

    StatusOr<Strong<NSObject>> value(const json& value, const std::string& pointer) const {
        switch (value.type()) {
            case json::value_t::boolean:
                return NSNumber::numberWithBool(value.get<bool>());
            case json::value_t::number_integer:
                return NSNumber::numberWithLongLong(value.get<long long>());
            case json::value_t::number_unsigned:
                if (value.get<unsigned long long>() > 9223372036854775807ull)
                    return refuse(pointer, "\"value\" is too large");
                return NSNumber::numberWithLongLong(static_cast<long long>(value.get<unsigned long long>()));
            case json::value_t::number_float:
                return NSNumber::numberWithDouble(value.get<double>());
            case json::value_t::string:
                return NSString::stringWithString(value.get<std::string>());
            default:
                return refuse(pointer,
                              std::string("\"value\" must be a number, a Boolean or a string, not ") + typeName(value));
        }
    }

    StatusOr<ValueLimits> metadata(const json& object, const std::string& pointer) const {
        if (!object.is_object())
            return refuse(pointer, std::string("\"metadata\" must be an object, not ") + typeName(object));
        if (Status refused =
                allowOnly(object, pointer, {"format", "minimumValue", "maximumValue", "stepValue", "units"});
            !refused.ok())
            return refused;
        ValueLimits limits;
        StatusOr<std::optional<std::string>> format = stringMember(object, pointer, "format");
        if (!format.ok()) return format.status();
        if (*format) {
            if (!isKnownValueFormat(**format))
                return refuse(
                    childPointer(pointer, "format"),
                    "unknown format " + quote(**format) + " (bool, int, float, string, uint8, uint16 or uint32)");
            limits.format = **format;
        }
        for (auto [key, bound] : {std::pair{"minimumValue", &limits.minimumValue},
                                  {"maximumValue", &limits.maximumValue},
                                  {"stepValue", &limits.stepValue}}) {
            StatusOr<std::optional<double>> read = number(object, pointer, key);
            if (!read.ok()) return read.status();
            *bound = *read;
        }
        StatusOr<std::optional<std::string>> units = stringMember(object, pointer, "units");
        if (!units.ok()) return units.status();
        limits.units = units->value_or("");
        if (limits.minimumValue && limits.maximumValue && *limits.minimumValue > *limits.maximumValue)
            return refuse(childPointer(pointer, "maximumValue"), "\"maximumValue\" is below \"minimumValue\"");
        if (limits.stepValue && *limits.stepValue <= 0)
            return refuse(childPointer(pointer, "stepValue"), "\"stepValue\" must be above 0");
        return limits;
    }

    StatusOr<std::optional<double>> number(const json& object, const std::string& pointer, const char* key) const {
        if (!object.contains(key)) return std::optional<double>();
        const json& value = object.at(key);
        if (!value.is_number())
            return refuse(childPointer(pointer, key), quote(key) + " must be a number, not " + typeName(value));
        return std::optional(value.get<double>());
    }

    const JsonLocations& where_;
    std::vector<Label> context_;
    std::unordered_map<std::string, std::string> identifiers_;  // identifier -> pointer of its first use
};

// nlohmann's message without its own prefix and position, which the caller gives in its own form.
std::string syntaxReason(const std::string& what) {
    size_t colon = what.find(": ", what.find("parse error"));
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

// Where and why a text is not JSON, as the SAX interface tells it (a parse that gives no exceptions
// says only that it failed). Everything before the failure is accepted unread.
class ParseFailure : public json::json_sax_t {
public:
    size_t offset = 0;  // of the byte the reason is about
    std::string reason;

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
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) override {
        if (dynamic_cast<const json::out_of_range*>(&error)) {
            // The only one besides syntax: a number beyond the range of a double ("1e999"), which
            // `position` is just past.
            offset = position > token.size() ? position - token.size() : 0;
            reason = "a number too large";
        } else {
            // `position` counts from 1 and points just past the character that broke the parse.
            offset = position > 0 ? position - 1 : 0;
            reason = syntaxReason(error.what());
        }
        return false;
    }
};

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
    const json root = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) {
        ParseFailure failure;
        json::sax_parse(text, &failure);
        auto [line, column] = lineAndColumn(text, failure.offset);
        return Status::error(sourceName + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                             failure.reason);
    }
    JsonLocations where(text);
    if (!where.firstRepeatedKey().empty()) {
        const std::string& pointer = where.firstRepeatedKey();
        return Status::error(sourceName + ":" + std::to_string(where.lineOf(pointer)) + ": the member " +
                             quote(pointer.substr(pointer.rfind('/') + 1)) + " appears twice in the same object");
    }
    try {
        StatusOr<HomesDescription> checked = Checker(where).homes(root);
        if (!checked.ok()) return Status::error(sourceName + ":" + checked.status().message());
        *description = *std::move(checked);
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
