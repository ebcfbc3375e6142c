// NSObject: the root of every object the run-time sees.
//
// An object carries its class (`isa`), an atomic reference count and its associated objects.
// Objects are created with a reference count of one. `objc_retain`/`objc_release` may be called
// from any thread; the last release sends `dealloc` through the run-time, so a hooked `dealloc`
// runs, and NSObject's own `dealloc` drops the associated objects and destroys the object.
// Retains and releases made while `dealloc` runs are harmless and never dealloc twice.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "objc.h"

namespace device {
struct ObjcDevice;
}

class NSObject {
public:
    NSObject() = default;
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;
    virtual ~NSObject();

    // The registered class "NSObject".
    static Class objcClass();

    // Equality and hash as dictionaries and arrays use them; identity unless a class says otherwise.
    virtual bool isEqual(const NSObject* other) const { return this == other; }
    virtual size_t hash() const { return reinterpret_cast<size_t>(this) >> 4; }
    // A short human-readable form, used by the tools.
    virtual std::string description() const;

    Class isa = nullptr;

private:
    friend id objc_retain(id);
    friend void objc_release(id);
    friend void object_dispose(id);
    friend struct device::ObjcDevice;
    friend void objc_setAssociatedObject(id, const void*, id, uintptr_t);
    friend id objc_getAssociatedObject(id, const void*);
    friend void objc_removeAssociatedObjects(id);
    friend class objc_class;

    struct Association {
        const void* key;
        id value;
        uintptr_t policy;
    };

    std::atomic<intptr_t> refCount_{1};
    std::mutex associationsLock_;
    std::vector<Association> associations_;
};

// Takes a reference to `obj` and returns it; nil gives nil.
id objc_retain(id obj);
// Drops a reference; the last one sends `dealloc`. nil is ignored.
void objc_release(id obj);
// The work of NSObject's `dealloc`: removes the associated objects and destroys the object.
void object_dispose(id obj);

enum objc_AssociationPolicy : uintptr_t {
    OBJC_ASSOCIATION_ASSIGN = 0,
    OBJC_ASSOCIATION_RETAIN_NONATOMIC = 1,
    OBJC_ASSOCIATION_COPY_NONATOMIC = 3,
    OBJC_ASSOCIATION_RETAIN = 01401,
    OBJC_ASSOCIATION_COPY = 01403,
};

// Associates `value` with `object` under `key` with `policy`: retaining policies retain the new
// value; the previous value under the key is released (if it was retained); nil removes the entry.
// A nil object is ignored.
void objc_setAssociatedObject(id object, const void* key, id value, uintptr_t policy);
// The value under `key`, or nil. The result is lent, not given.
id objc_getAssociatedObject(id object, const void* key);
// Removes every association of `object`, releasing the retained values.
void objc_removeAssociatedObjects(id object);
