#include "HBPreferencesValue.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace {

constexpr const char* kTags[] = {"boolean", "integer", "real", "string", "array"};

device::Status encodeArray(const NSArray* array, std::string* json) {
    nlohmann::json list = nlohmann::json::array();
    NSUInteger index = 0;
    for (const Strong<NSObject>& element : *array) {
        auto* string = objc_cast<NSString>(element.get());
        if (string == nullptr)
            return device::Status::error("element " + std::to_string(index) + " of the array is a " +
                                         object_getClassName(element.get()) + "; an array may hold only strings");
        list.push_back(string->string());
        ++index;
    }
    try {
        *json = list.dump();
    } catch (const nlohmann::json::exception&) {
        // JSON text must be UTF-8; storing a lossy replacement would silently change the value.
        return device::Status::error("an element of the array is not valid UTF-8 text");
    }
    return device::Status::OK();
}

}  // namespace

const char* storedTypeTag(StoredValue::Type type) { return kTags[static_cast<int>(type)]; }

bool storedTypeFromTag(std::string_view tag, StoredValue::Type* type) {
    for (int i = 0; i < 5; ++i) {
        if (tag == kTags[i]) {
            *type = static_cast<StoredValue::Type>(i);
            return true;
        }
    }
    return false;
}

device::Status encodeStoredValue(id value, StoredValue* stored) {
    if (value == nil) return device::Status::error("no value given");
    if (auto* number = objc_cast<NSNumber>(value)) {
        switch (number->kind()) {
            case NSNumber::Kind::boolean:
                stored->type = StoredValue::Type::boolean;
                stored->integer = number->boolValue() ? 1 : 0;
                return device::Status::OK();
            case NSNumber::Kind::integer:
                stored->type = StoredValue::Type::integer;
                stored->integer = number->longLongValue();
                return device::Status::OK();
            case NSNumber::Kind::real:
                // SQLite keeps a NaN as NULL, so it could never be read back.
                if (std::isnan(number->doubleValue())) return device::Status::error("NaN cannot be stored");
                stored->type = StoredValue::Type::real;
                stored->real = number->doubleValue();
                return device::Status::OK();
        }
    }
    if (auto* string = objc_cast<NSString>(value)) {
        stored->type = StoredValue::Type::string;
        stored->text = string->string();
        return device::Status::OK();
    }
    if (auto* array = objc_cast<NSArray>(value)) {
        stored->type = StoredValue::Type::array;
        return encodeArray(array, &stored->text);
    }
    return device::Status::error(std::string("a ") + object_getClassName(value) +
                                 " cannot be stored; values are NSNumber, NSString or NSArray of NSString");
}

device::StatusOr<Strong<NSObject>> decodeStoredValue(const StoredValue& stored) {
    switch (stored.type) {
        case StoredValue::Type::boolean:
            return NSNumber::numberWithBool(stored.integer != 0);
        case StoredValue::Type::integer:
            return NSNumber::numberWithLongLong(stored.integer);
        case StoredValue::Type::real:
            return NSNumber::numberWithDouble(stored.real);
        case StoredValue::Type::string:
            return NSString::stringWithString(stored.text);
        case StoredValue::Type::array:
            break;
    }
    nlohmann::json list = nlohmann::json::parse(stored.text, nullptr, /*allow_exceptions=*/false);
    if (!list.is_array()) return device::Status::error("the stored array is not a JSON list");
    std::vector<Strong<NSObject>> strings;
    strings.reserve(list.size());
    for (const auto& element : list) {
        if (!element.is_string()) return device::Status::error("the stored array holds something other than strings");
        strings.emplace_back(NSString::stringWithString(element.get<std::string>()));
    }
    return NSArray::arrayWithVector(std::move(strings));
}
