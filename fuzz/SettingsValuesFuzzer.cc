// Settings values as the settings library reads them: typed values of every kind, and kinds and
// SQL values that do not match, written raw into the settings database by another connection (as
// another program or a damaged file could), then read through HBPreferences. A well-formed value
// reads back as what was stored, a malformed one reads as nothing with a reason, and whatever
// reads back can be stored again through the library and read the same.
#include <sqlite3.h>

#include <cmath>
#include <map>

#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>

#include "FuzzSupport.h"

namespace {

constexpr const char* kIdentifier = "com.tovek.fuzz";
const char* const kTags[] = {"boolean", "integer", "real", "string", "array"};
enum SqlClass : uint8_t { sqlInteger, sqlReal, sqlText, sqlBlob };

struct Row {
    std::string tag;
    SqlClass sqlClass;
    long long integer = 0;
    double real = 0;
    std::string bytes;
};

sqlite3* database = nullptr;
sqlite3_stmt* insert = nullptr;
sqlite3_stmt* removeAll = nullptr;
Strong<HBPreferences> reader;  // lives across inputs, so its cache must notice every change

Strong<HBPreferences> openStore() {
    return Strong<HBPreferences>::adopt(
        HBPreferences::alloc()->initWithIdentifier(NSString::stringWithUTF8String(kIdentifier).get()));
}

// Up to eight rows: a selector byte (tag and SQL class), the key, then the value.
std::map<std::string, Row> parseRows(fuzz::InputReader& in) {
    std::map<std::string, Row> rows;
    for (int i = 0; i < 8 && !in.empty(); ++i) {
        const uint8_t selector = in.byte();
        Row row;
        const uint8_t tagChoice = selector % 8;
        if (tagChoice < 5)
            row.tag = kTags[tagChoice];
        else if (tagChoice == 5)
            row.tag = std::string(in.bytes(in.byte() % 16));
        else
            row.tag = kTags[selector % 5];
        row.sqlClass = static_cast<SqlClass>((selector >> 3) % 4);
        std::string key(in.bytes(in.byte() % 24));
        switch (row.sqlClass) {
            case sqlInteger:
                row.integer = in.value<long long>();
                break;
            case sqlReal:
                row.real = in.value<double>();
                break;
            case sqlText:
            case sqlBlob:
                row.bytes = std::string(in.bytes(in.value<uint16_t>() % 512));
                break;
        }
        rows[key] = std::move(row);
    }
    return rows;
}

// Stores a row as given; false when SQLite refuses it (a NaN real is NULL, which the table refuses).
bool storeRaw(const std::string& key, const Row& row) {
    sqlite3_reset(insert);
    sqlite3_bind_text(insert, 1, kIdentifier, -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, row.tag.data(), static_cast<int>(row.tag.size()), SQLITE_STATIC);
    switch (row.sqlClass) {
        case sqlInteger:
            sqlite3_bind_int64(insert, 4, row.integer);
            break;
        case sqlReal:
            sqlite3_bind_double(insert, 4, row.real);
            break;
        case sqlText:
            sqlite3_bind_text(insert, 4, row.bytes.data(), static_cast<int>(row.bytes.size()), SQLITE_STATIC);
            break;
        case sqlBlob:
            sqlite3_bind_blob(insert, 4, row.bytes.data(), static_cast<int>(row.bytes.size()), SQLITE_STATIC);
            break;
    }
    return sqlite3_step(insert) == SQLITE_DONE;
}

void clearRaw() {
    sqlite3_reset(removeAll);
    if (sqlite3_step(removeAll) != SQLITE_DONE)
        fuzz::fail(std::string("clearing the store: ") + sqlite3_errmsg(database));
}

bool isStringArray(NSObject* value) {
    auto* array = objc_cast<NSArray>(value);
    if (array == nil) return false;
    for (const Strong<NSObject>& element : *array)
        if (objc_cast<NSString>(element.get()) == nil) return false;
    return true;
}

// Checks what `value`, read for `row`, is; an empty string when it is right.
std::string judge(const Row& row, NSObject* value, bool boolValue) {
    const bool integerRow = row.sqlClass == sqlInteger;
    auto* number = objc_cast<NSNumber>(value);
    auto* text = objc_cast<NSString>(value);
    if (row.tag == "boolean" && integerRow) {
        if (!number || number->boolValue() != (row.integer != 0) || boolValue != (row.integer != 0)) return "a Boolean";
    } else if (row.tag == "integer" && integerRow) {
        if (!number || number->longLongValue() != row.integer || boolValue != (row.integer != 0)) return "an integer";
    } else if (row.tag == "real" && (integerRow || row.sqlClass == sqlReal)) {
        const double expected = integerRow ? static_cast<double>(row.integer) : row.real;
        if (!number || number->doubleValue() != expected || boolValue != (expected != 0)) return "a real";
    } else if (row.tag == "string" && row.sqlClass == sqlText) {
        if (!text || text->string() != row.bytes || boolValue != text->boolValue()) return "a string";
    } else if (row.tag == "array" && row.sqlClass == sqlText) {
        // JSON text that may or may not be a list of strings: either a list of strings or nothing.
        if ((value != nil && !isStringArray(value)) || boolValue) return "an array";
    } else if (value != nil || boolValue) {
        return "a value whose kind and SQL value do not match";
    }
    return {};
}

std::vector<fuzz::Seed> makeSeeds() {
    // Rows as the library itself stores them, and rows it never writes.
    auto row = [](uint8_t tag, uint8_t sqlClass, const std::string& key, const std::string& value) {
        std::string bytes;
        bytes += static_cast<char>(tag | (sqlClass << 3));
        bytes += static_cast<char>(key.size());
        bytes += key;
        if (sqlClass == sqlText || sqlClass == sqlBlob) fuzz::appendValue(bytes, static_cast<uint16_t>(value.size()));
        return bytes + value;
    };
    auto integer = [](long long v) {
        std::string s;
        fuzz::appendValue(s, v);
        return s;
    };
    auto real = [](double v) {
        std::string s;
        fuzz::appendValue(s, v);
        return s;
    };
    return {
        {"boolean", row(0, sqlInteger, "Enabled", integer(1))},
        {"integer", row(1, sqlInteger, "Count", integer(-42))},
        {"real", row(2, sqlReal, "Level", real(0.25)) + row(2, sqlInteger, "Whole", integer(3))},
        {"string", row(3, sqlText, "Name", "Living Room")},
        {"array", row(4, sqlText, "Rooms", R"(["Living Room","Kitchen"])")},
        {"array-not-strings", row(4, sqlText, "Rooms", R"(["a",1,{"b":[]}])")},
        {"mismatched", row(0, sqlText, "Enabled", "YES") + row(3, sqlBlob, "Name", std::string("\0\1", 2))},
        {"unknown-tag", std::string("\x05\x04list\x02") + "Ks" + integer(7)},
    };
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    const std::string& device = fuzz::deviceDirectory();
    reader = openStore();  // creates the database and its table
    if (!reader->lastError().empty()) fuzz::fail("opening the store: " + reader->lastError());
    if (sqlite3_open(std::string(device + "/preferences.sqlite3").c_str(), &database) != SQLITE_OK ||
        sqlite3_busy_timeout(database, 5000) != SQLITE_OK ||
        sqlite3_prepare_v2(database,
                           "INSERT OR REPLACE INTO preferences (identifier, key, type, value) VALUES (?1, ?2, ?3, ?4)",
                           -1, &insert, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(database, "DELETE FROM preferences", -1, &removeAll, nullptr) != SQLITE_OK)
        fuzz::fail(std::string("opening the database: ") + sqlite3_errmsg(database));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    std::map<std::string, Row> rows = parseRows(in);
    std::map<std::string, Row> stored;
    for (auto& [key, row] : rows)
        if (storeRaw(key, row)) stored.emplace(key, row);

    // Read by the long-lived instance and by a fresh one, which loads the store from scratch.
    Strong<HBPreferences> fresh = openStore();
    std::map<std::string, Strong<NSObject>> readBack;
    for (HBPreferences* preferences : {reader.get(), fresh.get()}) {
        for (const auto& [key, row] : stored) {
            Strong<NSString> name = NSString::stringWithString(key);
            Strong<NSObject> value = preferences->objectForKey(name);
            const bool boolValue = preferences->boolForKey(name);
            if (std::string wrong = judge(row, value, boolValue); !wrong.empty())
                fuzz::fail("key '" + key + "' of type '" + row.tag + "' does not read back as " + wrong);
            if (value == nil && preferences->lastError().empty()) fuzz::fail("an unreadable value without a reason");
            readBack[key] = value;
        }
        Strong<NSDictionary> all = preferences->dictionaryRepresentation();
        size_t readable = 0;
        for (const auto& [key, value] : readBack) readable += value != nil;
        if (all->count() != readable) fuzz::fail("dictionaryRepresentation does not hold every readable value");
    }

    // What reads back is a value the library stores, and stores as itself.
    for (const auto& [key, value] : readBack) {
        if (value == nil) continue;
        Strong<NSString> name = NSString::stringWithString(key);
        reader->setObject_forKey(value, name);
        if (!reader->lastError().empty())
            fuzz::fail("a value read back cannot be stored again: " + reader->lastError());
        Strong<NSObject> again = openStore()->objectForKey(name);
        if (!again || !again->isEqual(value)) fuzz::fail("key '" + key + "' changed when stored again");
    }
    clearRaw();
    return 0;
}
