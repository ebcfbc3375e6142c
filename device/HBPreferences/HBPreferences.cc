#include "HBPreferences.h"

#include "../Foundation/DeviceDirectory.h"

#include "HBPreferencesStore.h"
#include "HBPreferencesValue.h"

namespace {

// The object's `boolValue`, as the platform's store answers a Boolean read: a number is YES when
// non-zero, text by NSString's rule ("YES" and "true" are YES). An array has no `boolValue`; where
// the platform would raise, the device reads NO.
BOOL boolValueOf(NSObject* value) {
    if (auto* number = objc_cast<NSNumber>(value)) return number->boolValue();
    if (auto* text = objc_cast<NSString>(value)) return text->boolValue();
    return NO;
}

}  // namespace

Class HBPreferences::objcClass() {
    static Class cls = objc_defineClass<HBPreferences>("HBPreferences", NSObject::objcClass());
    return cls;
}

HBPreferences::HBPreferences() : defaults_(NSMutableDictionary::dictionary()) {}

HBPreferences::~HBPreferences() = default;

HBPreferences* HBPreferences::alloc() { return makeObject<HBPreferences>().detach(); }

HBPreferences* HBPreferences::initWithIdentifier(NSString* identifier) {
    std::lock_guard<std::mutex> guard(lock_);
    identifier_ = identifier;
    store_.reset();
    if (identifier && identifier->length() > 0)
        store_ = std::make_unique<HBPreferencesStore>(identifier->string(), device::deviceDirectory());
    return this;
}

void HBPreferences::registerDefaults(NSDictionary* defaults) {
    if (defaults == nil) return;
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [key, value] : *defaults) {
        // Reads look keys up as strings, so a default under any other key could never be found.
        if (objc_cast<NSString>(key.get())) defaults_->setObject_forKey(value.get(), key.get());
    }
}

void HBPreferences::registerBool_default_forKey(BOOL* variable, BOOL defaultValue, NSString* key) {
    if (key == nil) return;
    std::lock_guard<std::mutex> guard(lock_);
    defaults_->setObject_forKey(NSNumber::numberWithBool(defaultValue), key);
    if (variable == nullptr) return;
    *variable = boolValueOf(lookUp(key));
}

NSObject* HBPreferences::lookUp(NSString* key) {
    NSObject* stored = store_ ? store_->objectForKey(key->string()) : nullptr;
    return stored ? stored : defaults_->objectForKey(key);
}

BOOL HBPreferences::boolForKey(NSString* key) {
    if (key == nil) return NO;
    std::lock_guard<std::mutex> guard(lock_);
    return boolValueOf(lookUp(key));
}

Strong<NSObject> HBPreferences::objectForKey(NSString* key) {
    if (key == nil) return nil;
    std::lock_guard<std::mutex> guard(lock_);
    return lookUp(key);
}

void HBPreferences::setObject_forKey(id value, NSString* key) {
    if (value == nil) {
        removeObjectForKey(key);
        return;
    }
    StoredValue stored;
    device::Status refusal = key == nil ? device::Status::error("no key given") : encodeStoredValue(value, &stored);
    std::lock_guard<std::mutex> guard(lock_);
    if (!store_) return;
    if (!refusal.ok()) {
        store_->setError(key ? "the value for " + key->string() + " was not stored: " + refusal.message()
                             : refusal.message());
        return;
    }
    store_->setValue(key->string(), stored);
}

void HBPreferences::removeObjectForKey(NSString* key) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!store_) return;
    if (key == nil)
        store_->setError("no key given");
    else
        store_->removeValue(key->string());
}

void HBPreferences::removeAllObjects() {
    std::lock_guard<std::mutex> guard(lock_);
    if (store_) store_->removeAllValues();
}

Strong<NSDictionary> HBPreferences::dictionaryRepresentation() {
    auto dictionary = NSMutableDictionary::dictionary();
    std::lock_guard<std::mutex> guard(lock_);
    if (!store_) return dictionary;
    for (auto& [key, value] : store_->copyValues())
        dictionary->setObject_forKey(value.get(), NSString::stringWithString(key).get());
    return dictionary;
}

std::string HBPreferences::lastError() {
    std::lock_guard<std::mutex> guard(lock_);
    return store_ ? store_->lastError() : "the settings store was not given an identifier";
}
