// NSArray: an ordered list of objects, each held strongly. An NSArray never changes and may be
// shared between threads; an NSMutableArray belongs to one thread at a time.
#pragma once

#include <initializer_list>
#include <vector>

#include "../objc/runtime.h"

class NSArray : public NSObject {
public:
    NSArray() = default;
    explicit NSArray(std::vector<Strong<NSObject>> objects) : objects_(std::move(objects)) {}
    static Class objcClass();

    static Strong<NSArray> array();
    // The objects in order; nil entries are not allowed and are left out.
    static Strong<NSArray> arrayWithObjects(std::initializer_list<id> objects);
    static Strong<NSArray> arrayWithVector(std::vector<Strong<NSObject>> objects);

    NSUInteger count() const { return objects_.size(); }
    // The object at `index`, lent; raises NSRangeException past the end.
    id objectAtIndex(NSUInteger index) const;
    id firstObject() const { return objects_.empty() ? nil : objects_.front().get(); }

    auto begin() const { return objects_.begin(); }
    auto end() const { return objects_.end(); }

    bool isEqual(const NSObject* other) const override;
    size_t hash() const override { return objects_.size(); }
    std::string description() const override;

protected:
    std::vector<Strong<NSObject>> objects_;
};

class NSMutableArray : public NSArray {
public:
    static Class objcClass();
    // Appends `object`; nil is ignored.
    void addObject(id object);
    void removeAllObjects() { objects_.clear(); }
};
