#include "runtime.h"

#include <cstdio>
#include <cstdlib>
#include <shared_mutex>
#include <unordered_set>

#include "ClassData.h"

namespace {

// Class objects live for the whole process: their count never reaches zero.
constexpr intptr_t immortalCount = intptr_t{1} << 50;

struct Runtime {
    std::shared_mutex lock;  // guards classes, method tables, properties and the journal
    std::unordered_map<std::string, Class> classes;
    std::vector<RuntimeChange> journal;

    std::mutex selectorLock;
    std::unordered_set<std::string> selectorNames;
};

Runtime& runtime() {
    // Never destroyed: threads may still send messages while the process exits.
    static Runtime* instance = new Runtime;
    return *instance;
}

objc_method* findOwnMethod(Class cls, SEL name) {
    auto found = cls->methods.find(name);
    return found == cls->methods.end() ? nullptr : found->second;
}

objc_method* findMethod(Class cls, SEL name) {
    for (Class c = cls; c != Nil; c = c->superclass) {
        if (objc_method* m = findOwnMethod(c, name)) return m;
    }
    return nullptr;
}

void record(RuntimeChange::Kind kind, Class cls, std::string member, std::string detail, bool accepted) {
    if (!cls->registered) return;  // a class still being built
    runtime().journal.push_back({kind, cls->name, cls->isMeta, std::move(member), std::move(detail), accepted});
}

objc_method* addMethodLocked(Class cls, SEL name, IMP imp, const char* types) {
    auto method = std::make_unique<objc_method>();
    method->name = name;
    method->imp.store(imp);
    method->types = types ? types : "";
    method->owner = cls;
    objc_method* raw = method.get();
    cls->methodList.push_back(std::move(method));
    cls->methods[name] = raw;
    return raw;
}

Class rootMetaclassOf(Class superclass) {
    Class root = superclass;
    while (root->superclass != Nil) root = root->superclass;
    return object_getClass(root);
}

}  // namespace

objc_class::objc_class(std::string className, Class superclassPtr, bool meta)
    : name(std::move(className)), superclass(superclassPtr), isMeta(meta) {
    refCount_.store(immortalCount);
}

// --- Selectors ---------------------------------------------------------------------------------

SEL sel_registerName(const char* name) {
    Runtime& rt = runtime();
    std::lock_guard<std::mutex> guard(rt.selectorLock);
    // The set's nodes never move, so the string's address is the selector's identity.
    return reinterpret_cast<SEL>(rt.selectorNames.emplace(name).first->c_str());
}

const char* sel_getName(SEL sel) { return sel ? reinterpret_cast<const char*>(sel) : "<null selector>"; }

// --- Classes -----------------------------------------------------------------------------------

Class objc_getClass(const char* name) {
    NSObject::objcClass();  // the root class exists before anything is looked up
    Runtime& rt = runtime();
    std::shared_lock guard(rt.lock);
    auto found = rt.classes.find(name);
    return found == rt.classes.end() ? Nil : found->second;
}

id objc_classObject(Class cls) { return cls; }
Class object_getClass(id obj) { return obj ? obj->isa : Nil; }
Class object_getClass(Class cls) { return cls ? cls->isa : Nil; }
const char* object_getClassName(id obj) { return obj ? class_getName(obj->isa) : "nil"; }
const char* class_getName(Class cls) { return cls ? cls->name.c_str() : "nil"; }
Class class_getSuperclass(Class cls) { return cls ? cls->superclass : Nil; }
BOOL class_isMetaClass(Class cls) { return cls && cls->isMeta; }

BOOL object_isKindOfClass(id obj, Class cls) {
    for (Class c = object_getClass(obj); c != Nil; c = c->superclass) {
        if (c == cls) return YES;
    }
    return NO;
}

Class objc_allocateClassPair(Class superclass, const char* name, size_t) {
    Runtime& rt = runtime();
    std::unique_lock guard(rt.lock);
    if (rt.classes.count(name)) return Nil;
    // Classes are never freed; they belong to the process.
    Class cls = new objc_class(name, superclass, false);
    Class meta = new objc_class(name, superclass ? object_getClass(superclass) : cls, true);
    cls->isa = meta;
    meta->isa = superclass ? rootMetaclassOf(superclass) : meta;
    return cls;
}

void objc_registerClassPair(Class cls) {
    if (cls == Nil) return;
    Runtime& rt = runtime();
    std::unique_lock guard(rt.lock);
    cls->registered = true;
    object_getClass(cls)->registered = true;  // its class methods from now on are changes too
    rt.classes.emplace(cls->name, cls);
}

void class_setCxxConstructor(Class cls, objc_cxxConstructor constructor) {
    std::unique_lock guard(runtime().lock);
    cls->constructor = constructor;
}

id class_createInstance(Class cls, size_t) {
    if (cls == Nil) return nil;
    objc_cxxConstructor constructor = nullptr;
    {
        std::shared_lock guard(runtime().lock);
        for (Class c = cls; c != Nil && constructor == nullptr; c = c->superclass) constructor = c->constructor;
    }
    if (constructor == nullptr) return nil;
    id obj = constructor();
    obj->isa = cls;
    return obj;
}

// --- Methods -----------------------------------------------------------------------------------

BOOL class_addMethod(Class cls, SEL name, IMP imp, const char* types) {
    if (cls == Nil || name == nullptr) return NO;
    std::unique_lock guard(runtime().lock);
    bool accepted = findOwnMethod(cls, name) == nullptr;
    if (accepted) addMethodLocked(cls, name, imp, types);
    record(RuntimeChange::Kind::addMethod, cls, sel_getName(name), types ? types : "", accepted);
    return accepted;
}

IMP class_replaceMethod(Class cls, SEL name, IMP imp, const char* types) {
    if (cls == Nil || name == nullptr) return nullptr;
    std::unique_lock guard(runtime().lock);
    if (objc_method* own = findOwnMethod(cls, name)) {
        record(RuntimeChange::Kind::replaceImplementation, cls, sel_getName(name), own->types, true);
        return own->imp.exchange(imp);
    }
    addMethodLocked(cls, name, imp, types);
    record(RuntimeChange::Kind::addMethod, cls, sel_getName(name), types ? types : "", true);
    return nullptr;
}

Method class_getInstanceMethod(Class cls, SEL name) {
    if (cls == Nil) return nullptr;
    std::shared_lock guard(runtime().lock);
    return findMethod(cls, name);
}

Method class_getClassMethod(Class cls, SEL name) { return class_getInstanceMethod(object_getClass(cls), name); }

std::vector<Method> class_copyMethodList(Class cls) {
    std::vector<Method> list;
    if (cls == Nil) return list;
    std::shared_lock guard(runtime().lock);
    for (auto& m : cls->methodList) list.push_back(m.get());
    return list;
}

BOOL class_respondsToSelector(Class cls, SEL sel) { return class_getInstanceMethod(cls, sel) != nullptr; }

IMP class_getMethodImplementation(Class cls, SEL name) {
    Method m = class_getInstanceMethod(cls, name);
    return m ? m->imp.load() : nullptr;
}

SEL method_getName(Method m) { return m ? m->name : nullptr; }
IMP method_getImplementation(Method m) { return m ? m->imp.load() : nullptr; }
const char* method_getTypeEncoding(Method m) { return m ? m->types.c_str() : nullptr; }

IMP method_setImplementation(Method m, IMP imp) {
    if (m == nullptr) return nullptr;
    std::unique_lock guard(runtime().lock);
    record(RuntimeChange::Kind::replaceImplementation, m->owner, sel_getName(m->name), m->types, true);
    return m->imp.exchange(imp);
}

BOOL class_hookMethod(Class cls, SEL name, IMP replacement, IMP* previous) {
    if (cls == Nil || name == nullptr) return NO;
    std::unique_lock guard(runtime().lock);
    objc_method* method = findMethod(cls, name);
    if (method == nullptr) return NO;
    if (method->owner != cls) {
        IMP inherited = method->imp.load();
        if (previous) *previous = inherited;
        addMethodLocked(cls, name, replacement, method->types.c_str());
    } else {
        if (previous) *previous = method->imp.load();
        method->imp.store(replacement);
    }
    record(RuntimeChange::Kind::replaceImplementation, cls, sel_getName(name), method->types, true);
    return YES;
}

objc_methodLookup objc_lookUpMethod(id receiver, SEL op) {
    Class cls = receiver->isa;
    {
        std::shared_lock guard(runtime().lock);
        if (objc_method* m = findMethod(cls, op)) return {m->imp.load(std::memory_order_relaxed), m->types.c_str()};
    }
    const char* sign = class_isMetaClass(cls) ? "+" : "-";
    NSException::raise(NSInvalidArgumentException, std::string(sign) + "[" + class_getName(cls) + " " +
                                                       sel_getName(op) + "]: unrecognized selector sent to " +
                                                       (class_isMetaClass(cls) ? "class" : "instance"));
}

// --- Properties --------------------------------------------------------------------------------

BOOL class_addProperty(Class cls, const char* name, const objc_property_attribute_t* attributes,
                       unsigned int attributeCount) {
    if (cls == Nil || name == nullptr) return NO;
    auto property = std::make_unique<objc_property>();
    property->name = name;
    for (unsigned int i = 0; i < attributeCount; ++i) {
        property->attributes.emplace_back(attributes[i].name, attributes[i].value ? attributes[i].value : "");
        if (i) property->attributeText += ",";
        property->attributeText += property->attributes.back().first + property->attributes.back().second;
    }
    std::unique_lock guard(runtime().lock);
    bool accepted = true;
    for (auto& existing : cls->properties) accepted = accepted && existing->name != name;
    record(RuntimeChange::Kind::addProperty, cls, name, property->attributeText, accepted);
    if (accepted) cls->properties.push_back(std::move(property));
    return accepted;
}

objc_property_t class_getProperty(Class cls, const char* name) {
    std::shared_lock guard(runtime().lock);
    for (Class c = cls; c != Nil; c = c->superclass) {
        for (auto& p : c->properties) {
            if (p->name == name) return p.get();
        }
    }
    return nullptr;
}

std::vector<objc_property_t> class_copyPropertyList(Class cls) {
    std::vector<objc_property_t> list;
    if (cls == Nil) return list;
    std::shared_lock guard(runtime().lock);
    for (auto& p : cls->properties) list.push_back(p.get());
    return list;
}

const char* property_getName(objc_property_t property) { return property ? property->name.c_str() : nullptr; }
const char* property_getAttributes(objc_property_t property) {
    return property ? property->attributeText.c_str() : nullptr;
}

std::vector<objc_property_attribute_t> property_copyAttributeList(objc_property_t property) {
    std::vector<objc_property_attribute_t> list;
    if (property == nullptr) return list;
    for (auto& [name, value] : property->attributes) list.push_back({name.c_str(), value.c_str()});
    return list;
}

std::vector<RuntimeChange> objc_copyChangeJournal() {
    std::shared_lock guard(runtime().lock);
    return runtime().journal;
}
