#include "NSDictionary.h"

Class NSDictionary::objcClass() {
    static Class cls = objc_defineClass<NSDictionary>("NSDictionary", NSObject::objcClass());
    return cls;
}

Class NSMutableDictionary::objcClass() {
    static Class cls = objc_defineClass<NSMutableDictionary>("NSMutableDictionary", NSDictionary::objcClass());
    return cls;
}

Strong<NSDictionary> NSDictionary::dictionaryWithEntries(std::initializer_list<std::pair<id, id>> entries) {
    auto dictionary = makeObject<NSDictionary>();
    for (auto& [key, object] : entries) dictionary->set(key, object);
    return dictionary;
}

Strong<NSMutableDictionary> NSMutableDictionary::dictionary() { return makeObject<NSMutableDictionary>(); }

id NSDictionary::objectForKey(const NSObject* key) const {
    if (key == nullptr) return nil;
    auto found = index_.find(key);
    return found == index_.end() ? nil : entries_[found->second].second.get();
}

void NSDictionary::set(id key, id object) {
    if (key == nil) return;
    if (object == nil) {
        remove(key);
        return;
    }
    auto found = index_.find(key);
    if (found != index_.end()) {
        entries_[found->second].second = object;
        return;
    }
    entries_.emplace_back(key, object);
    index_.emplace(entries_.back().first.get(), entries_.size() - 1);
}

void NSDictionary::remove(const NSObject* key) {
    if (key == nullptr) return;
    auto found = index_.find(key);
    if (found == index_.end()) return;
    entries_.erase(entries_.begin() + static_cast<long>(found->second));
    index_.clear();
    for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first.get(), i);
}

std::string NSDictionary::description() const {
    std::string text = "{";
    for (size_t i = 0; i < entries_.size(); ++i)
        text += (i ? "; " : "") + entries_[i].first->description() + " = " + entries_[i].second->description();
    return text + "}";
}

void NSMutableDictionary::setObject_forKey(id object, id key) { set(key, object); }
