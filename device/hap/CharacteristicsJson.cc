#include "CharacteristicsJson.h"

#include <nlohmann/json.hpp>

namespace device::hap {

namespace {

constexpr int kNoAnswer = -70402;

void appendRef(std::string& out, uint64_t aid, uint64_t iid) {
    out.append("{\"aid\":").append(std::to_string(aid)).append(",\"iid\":").append(std::to_string(iid));
}

// The characteristics list of an answer, or an error naming what was wrong.
StatusOr<const nlohmann::json*> characteristics(const nlohmann::json& document) {
    if (document.is_discarded()) return Status::error("The accessory's answer is not JSON.");
    auto list = document.is_object() ? document.find("characteristics") : document.end();
    if (!document.is_object() || list == document.end() || !list->is_array())
        return Status::error("The accessory's answer has no list of characteristics.");
    return &*list;
}

bool refOf(const nlohmann::json& entry, uint64_t& aid, uint64_t& iid) {
    if (!entry.is_object()) return false;
    auto a = entry.find("aid");
    auto i = entry.find("iid");
    if (a == entry.end() || i == entry.end() || !a->is_number_unsigned() || !i->is_number_unsigned()) return false;
    aid = a->get<uint64_t>();
    iid = i->get<uint64_t>();
    return true;
}

}  // namespace

std::string writeBody(const std::vector<CharacteristicWrite>& writes) {
    std::string out = "{\"characteristics\":[";
    for (size_t i = 0; i < writes.size(); ++i) {
        if (i) out.push_back(',');
        appendRef(out, writes[i].aid, writes[i].iid);
        out.append(",\"value\":").append(writes[i].value).append("}");
    }
    out.append("]}");
    return out;
}

std::string subscribeBody(const std::vector<CharacteristicRef>& refs) {
    std::string out = "{\"characteristics\":[";
    for (size_t i = 0; i < refs.size(); ++i) {
        if (i) out.push_back(',');
        appendRef(out, refs[i].aid, refs[i].iid);
        out.append(",\"ev\":true}");
    }
    out.append("]}");
    return out;
}

std::string readPath(const std::vector<CharacteristicRef>& refs) {
    std::string out = "/characteristics?id=";
    for (size_t i = 0; i < refs.size(); ++i) {
        if (i) out.push_back(',');
        out.append(std::to_string(refs[i].aid)).append(".").append(std::to_string(refs[i].iid));
    }
    return out;
}

StatusOr<std::vector<CharacteristicStatus>> parseWriteStatuses(std::string_view body,
                                                               const std::vector<CharacteristicWrite>& writes) {
    nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    auto list = characteristics(document);
    if (!list.ok()) return list.status();
    std::vector<CharacteristicStatus> statuses;
    for (const auto& write : writes) statuses.push_back({write.aid, write.iid, kNoAnswer});
    for (const auto& entry : **list) {
        uint64_t aid = 0, iid = 0;
        if (!refOf(entry, aid, iid)) continue;
        auto code = entry.find("status");
        int value = code != entry.end() && code->is_number_integer() ? code->get<int>() : 0;
        for (auto& s : statuses) {
            if (s.aid == aid && s.iid == iid) s.status = value;
        }
    }
    return statuses;
}

StatusOr<std::vector<CharacteristicReport>> parseValues(std::string_view body) {
    nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    auto list = characteristics(document);
    if (!list.ok()) return list.status();
    std::vector<CharacteristicReport> reports;
    for (const auto& entry : **list) {
        uint64_t aid = 0, iid = 0;
        if (!refOf(entry, aid, iid)) continue;
        auto value = entry.find("value");
        if (value == entry.end() || value->is_null()) continue;
        reports.push_back({aid, iid, value->dump()});
    }
    return reports;
}

}  // namespace device::hap
