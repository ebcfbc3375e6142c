#include "Tlv8.h"

#include <algorithm>

namespace device::hap {

Tlv8& Tlv8::add(uint8_t type, std::string_view value) {
    items_.push_back({type, std::string(value)});
    return *this;
}

Tlv8& Tlv8::add(uint8_t type, uint8_t value) {
    items_.push_back({type, std::string(1, static_cast<char>(value))});
    return *this;
}

std::string Tlv8::encode() const {
    std::string out;
    for (const TlvItem& item : items_) {
        size_t offset = 0;
        // An empty value is still one item; a long one goes in pieces of 255 bytes.
        do {
            size_t piece = std::min<size_t>(255, item.value.size() - offset);
            out.push_back(static_cast<char>(item.type));
            out.push_back(static_cast<char>(piece));
            out.append(item.value, offset, piece);
            offset += piece;
        } while (offset < item.value.size());
    }
    return out;
}

StatusOr<Tlv8> Tlv8::decode(std::string_view bytes) {
    Tlv8 tlv;
    size_t offset = 0;
    bool lastWasFull = false;  // the previous item had 255 bytes, so one of its type continues it
    while (offset < bytes.size()) {
        if (bytes.size() - offset < 2) return Status::error("The pairing message ends inside an item's header.");
        uint8_t type = static_cast<uint8_t>(bytes[offset]);
        size_t length = static_cast<uint8_t>(bytes[offset + 1]);
        offset += 2;
        if (bytes.size() - offset < length) return Status::error("The pairing message ends inside an item's value.");
        std::string_view value = bytes.substr(offset, length);
        offset += length;
        if (lastWasFull && !tlv.items_.empty() && tlv.items_.back().type == type) {
            tlv.items_.back().value.append(value);
        } else {
            tlv.items_.push_back({type, std::string(value)});
        }
        lastWasFull = length == 255;
    }
    return tlv;
}

const std::string* Tlv8::find(uint8_t type) const {
    for (const TlvItem& item : items_) {
        if (item.type == type) return &item.value;
    }
    return nullptr;
}

std::optional<uint8_t> Tlv8::byte(uint8_t type) const {
    const std::string* value = find(type);
    if (!value || value->size() != 1) return std::nullopt;
    return static_cast<uint8_t>((*value)[0]);
}

}  // namespace device::hap
