// Template definitions for runtime.h; not included directly.
#pragma once

typedef NSObject* (*objc_cxxConstructor)();
// Makes instances of `cls` (and of subclasses without a constructor of their own) C++ objects
// made by `constructor`.
void class_setCxxConstructor(Class cls, objc_cxxConstructor constructor);

template <class T>
Class objc_defineClass(const char* name, Class superclass, void (*addMembers)(Class cls)) {
    Class cls = objc_allocateClassPair(superclass, name, 0);
    if (cls == Nil) return Nil;
    class_setCxxConstructor(cls, []() -> NSObject* { return new T(); });
    if (addMembers) addMembers(cls);
    objc_registerClassPair(cls);
    return cls;
}

template <class R, class... A>
R objc_msgSendSuper(Class cls, id receiver, SEL op, A... args) {
    using namespace objc_detail;
    if (receiver == nullptr) {
        if constexpr (std::is_void_v<R>)
            return;
        else
            return R{};
    }
    Method method = class_getInstanceMethod(class_getSuperclass(cls), op);
    if (method == nullptr)
        NSException::raise(NSInvalidArgumentException,
                           std::string("superclass of ") + class_getName(cls) + " does not answer " + sel_getName(op));
#ifndef NDEBUG
    objc_checkCallTypes(receiver, op, method_getTypeEncoding(method), callTypes<R, A...>());
#endif
    using Function = Param<R> (*)(id, SEL, Param<A>...);
    auto function = reinterpret_cast<Function>(method_getImplementation(method));
    if constexpr (std::is_void_v<R>) {
        function(receiver, op, static_cast<Param<A>>(args)...);
    } else {
        return static_cast<R>(function(receiver, op, static_cast<Param<A>>(args)...));
    }
}
