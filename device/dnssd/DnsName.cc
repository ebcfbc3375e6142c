#include "DnsName.h"

#include <cctype>

namespace device::dnssd {

std::optional<std::vector<std::string>> nameLabels(const std::string& name) {
    std::vector<std::string> labels(1);
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '.') {
            labels.emplace_back();
            continue;
        }
        if (c != '\\') {
            labels.back() += c;
            continue;
        }
        if (++i >= name.size()) return std::nullopt;
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            labels.back() += name[i];
            continue;
        }
        if (i + 2 >= name.size() || !std::isdigit(static_cast<unsigned char>(name[i + 1])) ||
            !std::isdigit(static_cast<unsigned char>(name[i + 2])))
            return std::nullopt;
        int value = (name[i] - '0') * 100 + (name[i + 1] - '0') * 10 + (name[i + 2] - '0');
        if (value > 255) return std::nullopt;
        labels.back() += static_cast<char>(value);
        i += 2;
    }
    if (labels.size() > 1 && labels.back().empty()) labels.pop_back();  // a final dot
    return labels;
}

std::string nameKey(const std::string& name) {
    std::string key = name;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

}  // namespace device::dnssd
