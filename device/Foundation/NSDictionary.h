// NSDictionary: objects by key, keys compared with isEqual/hash, kept in insertion order.
// An NSDictionary never changes and may be shared between threads; an NSMutableDictionary
// belongs to one thread at a time (or to whoever holds its owner's lock).
#pragma once

#include <initializer_list>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../objc/runtime.h"

class NSDictionary : public NSObject {
public:
    using Entry = std::pair<Strong<NSObject>, Strong<NSObject>>;  // key, object

    NSDictionary() = default;
    static Class objcClass();

    // The entries in order; a later entry with an equal key replaces the earlier one's object.
    static Strong<NSDictionary> dictionaryWithEntries(std::initializer_list<std::pair<id, id>> entries);

    NSUInteger count() const { return entries_.size(); }
    // The object under `key`, lent, or nil.
    id objectForKey(const NSObject* key) const;
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    std::string description() const override;

protected:
    void set(id key, id object);
    void remove(const NSObject* key);

private:
    struct KeyHash {
        size_t operator()(const NSObject* key) const { return key->hash(); }
    };
    struct KeyEqual {
        bool operator()(const NSObject* a, const NSObject* b) const { return a->isEqual(b); }
    };

    std::vector<Entry> entries_;
    std::unordered_map<const NSObject*, size_t, KeyHash, KeyEqual> index_;  // key -> position
};

class NSMutableDictionary : public NSDictionary {
public:
    static Class objcClass();
    static Strong<NSMutableDictionary> dictionary();
    // Stores `object` under `key`, replacing what was there; a nil object removes the key.
    void setObject_forKey(id object, id key);
    void removeObjectForKey(const NSObject* key) { remove(key); }
};
