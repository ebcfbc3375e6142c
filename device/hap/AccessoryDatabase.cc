#include "AccessoryDatabase.h"

#include <cctype>
#include <nlohmann/json.hpp>

namespace device::hap {

namespace {

constexpr std::string_view kBaseSuffix = "-0000-1000-8000-0026BB765291";

std::optional<double> number(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

Status unreadable(const std::string& why) {
    return Status::error("The accessory's database could not be read: " + why);
}

Status missing(const std::string& what) {
    return unreadable("a field is missing or of the wrong kind (" + what + ").");
}

StatusOr<uint64_t> identifier(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) return missing(std::string("no ") + key);
    return it->get<uint64_t>();
}

StatusOr<const nlohmann::json*> member(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return missing(std::string("no ") + key);
    return &*it;
}

StatusOr<std::string> text(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return missing(std::string("no ") + key);
    if (!it->is_string()) return missing(std::string(key) + " is not text");
    return it->get<std::string>();
}

StatusOr<CharacteristicInfo> readCharacteristic(const nlohmann::json& characteristic, uint64_t aid) {
    CharacteristicInfo c;
    c.aid = aid;
    auto iid = identifier(characteristic, "iid");
    if (!iid.ok()) return iid.status();
    c.iid = *iid;
    auto type = text(characteristic, "type");
    if (!type.ok()) return type.status();
    c.type = fullType(*type);
    if (c.type.empty()) return unreadable("a characteristic has a malformed type.");
    if (auto format = characteristic.find("format"); format != characteristic.end()) {
        if (!format->is_string()) return missing("format is not text");
        c.format = format->get<std::string>();
    }
    c.minimum = number(characteristic, "minValue");
    c.maximum = number(characteristic, "maxValue");
    c.step = number(characteristic, "minStep");
    if (auto perms = characteristic.find("perms"); perms != characteristic.end()) {
        for (const auto& permission : *perms) {
            if (!permission.is_string()) return missing("a permission is not text");
            c.permissions.push_back(permission.get<std::string>());
        }
    }
    if (auto value = characteristic.find("value"); value != characteristic.end() && !value->is_null()) {
        c.value = value->dump();
    }
    return c;
}

StatusOr<ServiceInfo> readService(const nlohmann::json& service, uint64_t aid) {
    ServiceInfo info;
    info.aid = aid;
    auto iid = identifier(service, "iid");
    if (!iid.ok()) return iid.status();
    info.iid = *iid;
    auto type = text(service, "type");
    if (!type.ok()) return type.status();
    info.type = fullType(*type);
    if (info.type.empty()) return unreadable("a service has a malformed type.");
    auto characteristics = member(service, "characteristics");
    if (!characteristics.ok()) return characteristics.status();
    if (!(*characteristics)->is_array()) return unreadable("a service's characteristics are not a list.");
    for (const auto& characteristic : **characteristics) {
        auto c = readCharacteristic(characteristic, aid);
        if (!c.ok()) return c.status();
        if (auto value = characteristic.find("value");
            c->type == kNameCharacteristic && value != characteristic.end() && value->is_string()) {
            info.name = value->get<std::string>();
        }
        info.characteristics.push_back(std::move(*c));
    }
    return info;
}

}  // namespace

std::string fullType(std::string_view type) {
    std::string upper;
    for (char c : type) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '-') return {};
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (upper.size() >= 1 && upper.size() <= 8 && upper.find('-') == std::string::npos) {
        return std::string(8 - upper.size(), '0') + upper + std::string(kBaseSuffix);
    }
    static const size_t dashes[] = {8, 13, 18, 23};
    if (upper.size() != 36) return {};
    for (size_t i = 0; i < upper.size(); ++i) {
        bool dash = i == dashes[0] || i == dashes[1] || i == dashes[2] || i == dashes[3];
        if ((upper[i] == '-') != dash) return {};
    }
    return upper;
}

StatusOr<std::vector<ServiceInfo>> parseAccessoryDatabase(std::string_view json) {
    nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded()) return unreadable("it is not JSON.");
    auto accessories = document.find("accessories");
    if (!document.is_object() || accessories == document.end() || !accessories->is_array()) {
        return unreadable("it has no list of accessories.");
    }
    std::vector<ServiceInfo> services;
    for (const auto& accessory : *accessories) {
        auto aid = identifier(accessory, "aid");
        if (!aid.ok()) return aid.status();
        auto serviceList = member(accessory, "services");
        if (!serviceList.ok()) return serviceList.status();
        if (!(*serviceList)->is_array()) return unreadable("an accessory's services are not a list.");
        for (const auto& service : **serviceList) {
            auto info = readService(service, *aid);
            if (!info.ok()) return info.status();
            services.push_back(std::move(*info));
        }
    }
    return services;
}

}  // namespace device::hap
