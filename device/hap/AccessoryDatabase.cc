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

uint64_t identifier(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) throw std::invalid_argument(std::string("no ") + key);
    return it->get<uint64_t>();
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

std::optional<std::vector<ServiceInfo>> parseAccessoryDatabase(std::string_view json, device::Status* status) {
    auto fail = [&](const std::string& why) -> std::optional<std::vector<ServiceInfo>> {
        if (status) *status = Status::error("The accessory's database could not be read: " + why);
        return std::nullopt;
    };
    nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded()) return fail("it is not JSON.");
    auto accessories = document.find("accessories");
    if (!document.is_object() || accessories == document.end() || !accessories->is_array()) {
        return fail("it has no list of accessories.");
    }
    std::vector<ServiceInfo> services;
    try {
        for (const auto& accessory : *accessories) {
            uint64_t aid = identifier(accessory, "aid");
            const auto& serviceList = accessory.at("services");
            if (!serviceList.is_array()) return fail("an accessory's services are not a list.");
            for (const auto& service : serviceList) {
                ServiceInfo info;
                info.aid = aid;
                info.iid = identifier(service, "iid");
                info.type = fullType(service.at("type").get<std::string>());
                if (info.type.empty()) return fail("a service has a malformed type.");
                const auto& characteristics = service.at("characteristics");
                if (!characteristics.is_array()) return fail("a service's characteristics are not a list.");
                for (const auto& characteristic : characteristics) {
                    CharacteristicInfo c;
                    c.aid = aid;
                    c.iid = identifier(characteristic, "iid");
                    c.type = fullType(characteristic.at("type").get<std::string>());
                    if (c.type.empty()) return fail("a characteristic has a malformed type.");
                    if (auto format = characteristic.find("format"); format != characteristic.end()) {
                        c.format = format->get<std::string>();
                    }
                    c.minimum = number(characteristic, "minValue");
                    c.maximum = number(characteristic, "maxValue");
                    c.step = number(characteristic, "minStep");
                    if (auto perms = characteristic.find("perms"); perms != characteristic.end()) {
                        for (const auto& permission : *perms) c.permissions.push_back(permission.get<std::string>());
                    }
                    if (auto value = characteristic.find("value"); value != characteristic.end() && !value->is_null()) {
                        c.value = value->dump();
                    }
                    if (c.type == kNameCharacteristic && characteristic.contains("value") &&
                        characteristic["value"].is_string()) {
                        info.name = characteristic["value"].get<std::string>();
                    }
                    info.characteristics.push_back(std::move(c));
                }
                services.push_back(std::move(info));
            }
        }
    } catch (const std::exception& error) {
        return fail(std::string("a field is missing or of the wrong kind (") + error.what() + ").");
    }
    if (status) *status = Status::OK();
    return services;
}

}  // namespace device::hap
