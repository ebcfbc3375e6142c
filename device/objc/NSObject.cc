#include "NSObject.h"

#include <algorithm>
#include <cstdio>

#include "ClassData.h"
#include "MethodRegistration.h"
#include "ObjcDevice.h"
#include "runtime.h"

namespace {

// Set when the last reference goes: retains and releases made while `dealloc` runs never bring
// the count back to zero, so the object is destroyed exactly once.
constexpr intptr_t deallocatingCount = intptr_t{1} << 40;

bool retains(uintptr_t policy) { return policy != OBJC_ASSOCIATION_ASSIGN; }

// `alloc` and `new` are instance methods of the metaclass: their receiver is the class.
id NSObject_alloc(id self) { return class_createInstance(static_cast<Class>(self), 0); }
id NSObject_new(id self) { return objc_msgSend<id>(NSObject_alloc(self), SEL_(init)); }
id NSObject_init(id self) { return self; }
void NSObject_dealloc(id self) { object_dispose(self); }
id NSObject_retain(id self) { return objc_retain(self); }
void NSObject_release(id self) { objc_release(self); }
BOOL NSObject_respondsToSelector(id self, SEL sel) { return class_respondsToSelector(object_getClass(self), sel); }
BOOL NSObject_isKindOfClass(id self, Class cls) { return object_isKindOfClass(self, cls); }

}  // namespace

Class NSObject::objcClass() {
    static Class cls = [] {
        Class c = objc_allocateClassPair(Nil, "NSObject", 0);
        class_setCxxConstructor(c, []() -> NSObject* { return new NSObject(); });
        Class meta = object_getClass(c);
        objc_addInstanceMethod<&NSObject_alloc>(meta, "alloc");
        objc_addInstanceMethod<&NSObject_new>(meta, "new");
        objc_addInstanceMethod<&NSObject_init>(c, "init");
        objc_addInstanceMethod<&NSObject_dealloc>(c, "dealloc");
        objc_addInstanceMethod<&NSObject_retain>(c, "retain");
        objc_addInstanceMethod<&NSObject_release>(c, "release");
        objc_addInstanceMethod<&NSObject_respondsToSelector>(c, "respondsToSelector:");
        objc_addInstanceMethod<&NSObject_isKindOfClass>(c, "isKindOfClass:");
        objc_registerClassPair(c);
        return c;
    }();
    return cls;
}

NSObject::~NSObject() {
    for (Association& a : associations_) {
        if (retains(a.policy)) objc_release(a.value);
    }
}

std::string NSObject::description() const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "<%s: %p>", class_getName(isa), static_cast<const void*>(this));
    return buffer;
}

id objc_retain(id obj) {
    if (obj) obj->refCount_.fetch_add(1, std::memory_order_relaxed);
    return obj;
}

void objc_release(id obj) {
    if (obj == nil) return;
    if (obj->refCount_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    obj->refCount_.store(deallocatingCount, std::memory_order_relaxed);
    objc_msgSend<void>(obj, SEL_(dealloc));
}

intptr_t device::ObjcDevice::retainCount(id obj) { return obj ? obj->refCount_.load(std::memory_order_relaxed) : 0; }

void object_dispose(id obj) {
    if (obj == nil) return;
    objc_removeAssociatedObjects(obj);
    delete obj;
}

void objc_setAssociatedObject(id object, const void* key, id value, uintptr_t policy) {
    if (object == nil) return;
    if (retains(policy)) objc_retain(value);
    NSObject::Association old{key, nil, OBJC_ASSOCIATION_ASSIGN};
    {
        std::lock_guard<std::mutex> guard(object->associationsLock_);
        auto& list = object->associations_;
        auto found = std::find_if(list.begin(), list.end(), [&](auto& a) { return a.key == key; });
        if (found != list.end()) {
            old = *found;
            if (value)
                *found = {key, value, policy};
            else
                list.erase(found);
        } else if (value) {
            list.push_back({key, value, policy});
        }
    }
    // Released outside the lock: the old value's dealloc may touch this object again.
    if (retains(old.policy)) objc_release(old.value);
}

id objc_getAssociatedObject(id object, const void* key) {
    if (object == nil) return nil;
    std::lock_guard<std::mutex> guard(object->associationsLock_);
    for (auto& a : object->associations_) {
        if (a.key == key) return a.value;
    }
    return nil;
}

void objc_removeAssociatedObjects(id object) {
    if (object == nil) return;
    std::vector<NSObject::Association> removed;
    {
        std::lock_guard<std::mutex> guard(object->associationsLock_);
        removed.swap(object->associations_);
    }
    for (auto& a : removed) {
        if (retains(a.policy)) objc_release(a.value);
    }
}
