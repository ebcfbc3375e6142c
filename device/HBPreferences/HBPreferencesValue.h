// StoredValue: how one settings value is kept in the database, as a type tag and one SQL value.
//
// Booleans and integers are SQL integers, reals SQL reals, strings SQL text, and arrays of
// strings JSON text (`["a","b"]`). The conversions are pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "../Foundation/Foundation.h"

#include "../base/StatusOr.h"

struct StoredValue {
    enum class Type { boolean, integer, real, string, array };

    Type type = Type::string;
    long long integer = 0;  // boolean (0 or 1) and integer
    double real = 0.0;      // real
    std::string text;       // string, and the JSON text of an array
};

// The tag kept in the database's `type` column: "boolean", "integer", "real", "string", "array".
const char* storedTypeTag(StoredValue::Type type);
// The type named by `tag`; false, with `*type` untouched, for an unknown tag.
bool storedTypeFromTag(std::string_view tag, StoredValue::Type* type);

// Converts `value` (NSNumber, NSString, NSArray of NSString) for storage. An error says why the
// value cannot be stored (then `*stored` is unspecified).
device::Status encodeStoredValue(id value, StoredValue* stored);

// The object a stored value stands for: an NSNumber of the right kind, an NSString, or an NSArray
// of NSString; an error saying why when the stored text of an array is not a JSON list of strings.
device::StatusOr<Strong<NSObject>> decodeStoredValue(const StoredValue& stored);
