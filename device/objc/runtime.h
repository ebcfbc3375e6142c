// The run-time: classes registered by name, interned selectors, method tables with type strings,
// properties with attribute lists, and message sending.
//
// Every function may be called from any thread. Method tables are guarded by one reader-writer
// lock: lookups share it, changes take it alone, so a method may be looked up while another thread
// hooks it. An implementation once stored stays callable for the life of the process.
#pragma once

#include <string>
#include <vector>

#include "NSObject.h"
#include "Strong.h"
#include "objc.h"

typedef struct objc_method* Method;
typedef struct objc_property* objc_property_t;

struct objc_property_attribute_t {
    const char* name;
    const char* value;
};

// --- Selectors ---------------------------------------------------------------------------------

// The unique selector for `name`; the same pointer for the same name, in every thread.
SEL sel_registerName(const char* name);
const char* sel_getName(SEL sel);
// `@selector(name)`, written `SEL_(name)` in this code base. Interned once per call site.
#define SEL_(literal)                                           \
    ([]() -> SEL {                                              \
        static const SEL interned = sel_registerName(#literal); \
        return interned;                                        \
    }())

// --- Classes -----------------------------------------------------------------------------------

// The registered class named `name`, or Nil when no such class exists in this process.
Class objc_getClass(const char* name);
// The class of an object (for a class, its metaclass); Nil for nil.
Class object_getClass(id obj);
// The metaclass of a class.
Class object_getClass(Class cls);
const char* object_getClassName(id obj);
const char* class_getName(Class cls);
Class class_getSuperclass(Class cls);
BOOL class_isMetaClass(Class cls);
// YES when `obj`'s class is `cls` or inherits from it.
BOOL object_isKindOfClass(id obj, Class cls);

// Creates a class and its metaclass, not yet registered; Nil when the name is taken.
Class objc_allocateClassPair(Class superclass, const char* name, size_t extraBytes);
// Makes a class made by objc_allocateClassPair visible to objc_getClass.
void objc_registerClassPair(Class cls);
// A new instance of `cls` with a reference count of one (the caller owns it); Nil for Nil.
id class_createInstance(Class cls, size_t extraBytes);

// Binds the C++ type T (derived from NSObject) to a new registered class named `name`:
// instances created through the run-time (`alloc`, class_createInstance) are T objects.
// This is the work a compiler does for a class declaration. `addMembers`, when given, adds the
// class's own methods and properties (to the class, or to its metaclass for class methods) before
// the class is registered, as a compiled class comes with its members: they are not changes.
template <class T>
Class objc_defineClass(const char* name, Class superclass, void (*addMembers)(Class cls) = nullptr);

// --- Methods -----------------------------------------------------------------------------------

// Adds a method to `cls` itself. NO when `cls` already has a method of that name (an inherited
// one does not count: adding overrides it); the existing method stays. NO for a Nil class.
BOOL class_addMethod(Class cls, SEL name, IMP imp, const char* types);
// Replaces the implementation of `cls`'s own method, or adds it; returns the previous own
// implementation, or nullptr.
IMP class_replaceMethod(Class cls, SEL name, IMP imp, const char* types);
// The method found through `cls` and its superclasses, or nullptr.
Method class_getInstanceMethod(Class cls, SEL name);
Method class_getClassMethod(Class cls, SEL name);
// The methods `cls` itself has, in the order they were added.
std::vector<Method> class_copyMethodList(Class cls);
BOOL class_respondsToSelector(Class cls, SEL sel);
// The implementation a message would reach, or nullptr.
IMP class_getMethodImplementation(Class cls, SEL name);

SEL method_getName(Method m);
IMP method_getImplementation(Method m);
const char* method_getTypeEncoding(Method m);
// The number of arguments the method takes, self and _cmd included; 0 for a nil method.
unsigned int method_getNumberOfArguments(Method m);
// The return type, or the type of argument `index` (0 is self, 1 is _cmd), as the type string writes
// it with qualifiers and class name but without its offset: "@\"NSString\"", "r*", "{CGSize=dd}".
// The string is malloc'd and the caller frees it; nullptr for a nil method or an index past the last.
char* method_copyReturnType(Method m);
char* method_copyArgumentType(Method m, unsigned int index);
// The same types copied into `dst` as strncpy does (no terminator when `dst_len` is too short);
// the empty string for a nil method or an index past the last.
void method_getReturnType(Method m, char* dst, size_t dst_len);
void method_getArgumentType(Method m, unsigned int index, char* dst, size_t dst_len);
// Swaps the implementation and returns the old one.
IMP method_setImplementation(Method m, IMP imp);

// Makes `replacement` the implementation of `name` on `cls` and stores the implementation it
// replaces in `*previous`, both under the run-time's lock, so no call can reach the replacement
// before the slot is filled. A method `cls` only inherits is added to `cls` alone, with the
// inherited type string, and the inherited implementation goes into the slot. NO, with the slot
// untouched, when `cls` is Nil or no class in its chain has the method.
BOOL class_hookMethod(Class cls, SEL name, IMP replacement, IMP* previous);

// --- Properties --------------------------------------------------------------------------------

// Adds a property with its attributes to `cls` itself; NO when `cls` already has one of that name.
BOOL class_addProperty(Class cls, const char* name, const objc_property_attribute_t* attributes,
                       unsigned int attributeCount);
objc_property_t class_getProperty(Class cls, const char* name);
std::vector<objc_property_t> class_copyPropertyList(Class cls);
const char* property_getName(objc_property_t property);
// The attributes joined as the run-time prints them, e.g. `T@"CADisplayLink",&,N`.
const char* property_getAttributes(objc_property_t property);
std::vector<objc_property_attribute_t> property_copyAttributeList(objc_property_t property);

// --- The change journal --------------------------------------------------------------------------

// Every change made to a registered class's members, in order: the tools and tests use it to see
// what a loaded library did to a process. Members given to a class before it is registered are
// part of the class, not changes.
struct RuntimeChange {
    enum class Kind { addMethod, replaceImplementation, addProperty };
    Kind kind;
    std::string className;
    bool isMeta;
    std::string member;
    std::string detail;  // type string, or the property's attribute text
    bool accepted;
};
std::vector<RuntimeChange> objc_copyChangeJournal();

#include "message.h"
#include "runtime_impl.h"
