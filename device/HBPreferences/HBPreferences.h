// HBPreferences: a named settings store shared by every process of the device.
//
// All stores live in one SQLite database in the device directory ("preferences.sqlite3"), so a
// value written through one instance is seen by the next read through any other instance, in this
// process or another. Reads are served from a cache that is refreshed only when the database has
// changed (`PRAGMA data_version`), so reading an unchanged store touches no disk.
//
// An instance may be used from any thread. No operation fails loudly: a store that cannot be
// opened, is locked or is corrupt reads as empty (registered defaults, else nil/NO), a write to it
// is dropped, and `lastError` says what went wrong. The store recovers by itself once the database
// is usable again.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "../Foundation/Foundation.h"

class HBPreferencesStore;

class HBPreferences : public NSObject {
public:
    HBPreferences();
    ~HBPreferences() override;
    static Class objcClass();

    // `[HBPreferences alloc]`: an instance the caller owns, to be set up by initWithIdentifier.
    static HBPreferences* alloc();
    // Opens the store `identifier`; returns the receiver (the reference passes through).
    HBPreferences* initWithIdentifier(NSString* identifier);

    // Values for keys that have no stored value. Later registrations of a key replace earlier ones.
    void registerDefaults(NSDictionary* defaults);
    // Sets `*variable` before returning: the Boolean of `key` as boolForKey reads it, else `defaultValue`. Also
    // registers `defaultValue` as the key's default.
    void registerBool_default_forKey(BOOL* variable, BOOL defaultValue, NSString* key);

    // The current Boolean of `key`: the `boolValue` of the stored value, else of the registered
    // default, else NO. A number is true when non-zero, a string by NSString's rule (so the text
    // "YES" is true, as `defaults write` without a type stores it); an array reads as NO.
    BOOL boolForKey(NSString* key);
    // The current value of `key` (stored, else registered default), or nil. The caller shares it.
    Strong<NSObject> objectForKey(NSString* key);
    // Stores `value` under `key`, replacing the previous value. Values: NSNumber (Boolean, integer,
    // real), NSString, NSArray of NSString; nil removes the key. Anything else is refused
    // (lastError says why) and nothing is stored.
    void setObject_forKey(id value, NSString* key);
    void removeObjectForKey(NSString* key);
    // Removes every stored key of this store (registered defaults stay). For the settings tool.
    void removeAllObjects();
    // Every stored key and value of this store, in key order (the registered defaults are not included).
    Strong<NSDictionary> dictionaryRepresentation();

    NSString* identifier() const { return identifier_.get(); }
    // What went wrong with the last operation, or empty when it succeeded. For the tools.
    std::string lastError();

private:
    NSObject* lookUp(NSString* key);  // the stored value, else the default, else nil; lock_ held

    Strong<NSString> identifier_;
    std::mutex lock_;  // guards everything below
    Strong<NSMutableDictionary> defaults_;
    std::unique_ptr<HBPreferencesStore> store_;  // null until initWithIdentifier gets an identifier
};
