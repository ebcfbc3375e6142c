// The object properties the library adds to platform classes: each stored as an associated object
// (retained, nonatomic) under a key of its own, with a getter and a setter.
#pragma once

#include <objc/runtime.h>

struct PropertyAccessors {
    IMP getter;  // id (id self, SEL _cmd)
    IMP setter;  // void (id self, SEL _cmd, id value)
};

// The getter and setter of the property whose association key is `Key`: the getter gives the
// associated object (nil while never set, or last set to nil); the setter retains the new value
// and releases the old one, and nil removes the association.
template <const char* Key>
PropertyAccessors retainedObjectAccessors() {
    return {reinterpret_cast<IMP>(+[](id self, SEL) -> id { return objc_getAssociatedObject(self, Key); }),
            reinterpret_cast<IMP>(+[](id self, SEL, id value) {
                objc_setAssociatedObject(self, Key, value, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
            })};
}

// Adds the property `name`, of class `typeName`, with the attributes "T", "&" and "N", then its
// getter `name` and its setter `setName:`, in that order. A Nil class is a no-op; a member the
// class already has stays as it is.
void addRetainedObjectProperty(Class cls, const char* name, const char* typeName, PropertyAccessors accessors);
