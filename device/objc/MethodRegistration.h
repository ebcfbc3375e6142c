// Registering C++ functions as run-time methods, with the type string made from their signature.
//
//     objc_addInstanceMethod<&UIView::setFrame>(cls, "setFrame:");
//     objc_addInstanceMethod<&Characteristic_value>(cls, "value");   // id Characteristic_value(HMCharacteristic*)
//     objc_addClassMethod<&UIScreen::mainScreen>(cls, "mainScreen");
//
// The instance form takes a member function of T, or a free function whose first parameter is the
// receiver (a T*); the class form takes a free function or static member that needs no receiver and
// adds it to the metaclass. A method whose receiver is the class itself (`alloc`) is an instance
// method of the metaclass. A generated trampoline with the (self, _cmd, args...) signature of an
// implementation forwards to the function: the receiver is cast to T*, an object argument is cast to
// the parameter's class (nil when it is not one), and an object result is returned as `id`. A
// function that gives away a Strong<> cannot be registered: its ownership is decided by a small
// named function that detaches or lends.
//
// The type string is the one the compiler writes for a method: return type, total argument size,
// then every argument with its offset ("v24@0:8@16"); an argument smaller than an int takes an int's
// room. A struct or a pointer to an opaque struct needs its encoding given by specialising
// objc_typeEncoding (see CoreGraphics/CGTypeEncoding.h); a Block<...>* or an AnyBlock argument is "@?".
#pragma once

#include <string>
#include <type_traits>

#include "Block.h"
#include "Strong.h"
#include "runtime.h"

// The encoding of a struct type T: specialise with `static constexpr const char* value`, e.g.
// "{CGSize=dd}", or "{CGImage=}" for an opaque type only ever passed by pointer.
template <class T>
struct objc_typeEncoding;

// A block argument of any signature, for a method that checks which block it was given itself.
struct AnyBlock {
    id object;
};

namespace objc_detail {

template <class T>
struct IsBlock : std::false_type {};
template <class S>
struct IsBlock<Block<S>> : std::true_type {};

template <class T>
struct IsStrong : std::false_type {};
template <class T>
struct IsStrong<Strong<T>> : std::true_type {};

// A pointer to an object, const or not; a class is not one here (it is spelt "#").
template <class T>
constexpr bool isObjectPointer =
    std::is_pointer_v<T>&& std::is_convertible_v<T, const NSObject*> && !std::is_same_v<std::remove_cv_t<T>, Class>;

template <class T>
constexpr bool hasOwnEncoding = requires {
    objc_typeEncoding<T>::value;
};

template <class T>
constexpr bool isBlockArgument = std::is_same_v<T, AnyBlock> ||
                                 (std::is_pointer_v<T> && IsBlock<std::remove_cv_t<std::remove_pointer_t<T>>>::value);

// How a value of type T travels through an implementation: objects and blocks as `id`.
template <class T>
using Slot = std::conditional_t<isBlockArgument<T> || isObjectPointer<T>, id, T>;

template <class T>
std::string encode() {
    using U = std::remove_cv_t<T>;
    if constexpr (hasOwnEncoding<U>)
        return objc_typeEncoding<U>::value;
    else if constexpr (isBlockArgument<U>)
        return "@?";
    else if constexpr (std::is_enum_v<U>)
        return encode<std::underlying_type_t<U>>();
    else if constexpr (isObjectPointer<U>)
        return "@";
    else if constexpr (std::is_same_v<U, Class> || std::is_same_v<U, SEL> || std::is_same_v<U, const char*> ||
                       std::is_same_v<U, char*>)
        return Encoding<U>::get();
    else if constexpr (std::is_pointer_v<U>)
        return "^" + encode<std::remove_pointer_t<U>>();
    else {
        static_assert(!std::is_class_v<U>, "a struct argument needs an objc_typeEncoding specialisation");
        return Encoding<U>::get();
    }
}

template <class T>
constexpr size_t argumentSize() {
    return sizeof(Slot<T>) < sizeof(int) ? sizeof(int) : sizeof(Slot<T>);
}

// "R<total>@0:8A1<offset>...": the type string of a method returning R and taking A.
template <class R, class... A>
std::string methodTypes() {
    static_assert(!IsStrong<std::remove_cv_t<R>>::value,
                  "register a function that detaches or lends the result, not one that returns a Strong<>");
    size_t offset = 2 * sizeof(id);
    std::string arguments = "@0:" + std::to_string(sizeof(id));
    ((arguments += encode<A>() + std::to_string(offset), offset += argumentSize<A>()), ...);
    return encode<R>() + std::to_string(offset) + arguments;
}

// The parameter value a function expects, from the slot it travelled in.
template <class T>
T fromSlot(Slot<T> value) {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, AnyBlock>)
        return AnyBlock{value};
    else if constexpr (isBlockArgument<U> || isObjectPointer<U>) {
        using Pointee = std::remove_cv_t<std::remove_pointer_t<U>>;
        if constexpr (std::is_same_v<Pointee, NSObject>)
            return value;
        else
            return objc_cast<Pointee>(value);
    } else {
        return value;
    }
}

template <class R>
Slot<R> toSlot(R value) {
    return value;
}

template <auto Function, class Signature>
struct Trampoline;

// A member function of T.
template <auto Function, class T, class R, class... A>
struct MemberTrampoline {
    using Receiver = T;
    static std::string types() { return methodTypes<R, A...>(); }
    static Slot<R> call(id self, SEL, Slot<A>... args) {
        if constexpr (std::is_void_v<R>)
            (static_cast<T*>(self)->*Function)(fromSlot<A>(args)...);
        else
            return toSlot<R>((static_cast<T*>(self)->*Function)(fromSlot<A>(args)...));
    }
};
template <auto Function, class T, class R, class... A>
struct Trampoline<Function, R (T::*)(A...)> : MemberTrampoline<Function, T, R, A...> {};
template <auto Function, class T, class R, class... A>
struct Trampoline<Function, R (T::*)(A...) const> : MemberTrampoline<Function, T, R, A...> {};

// A free function whose first parameter is the receiver.
template <auto Function, class T, class R, class... A>
struct Trampoline<Function, R (*)(T*, A...)> {
    static_assert(std::is_base_of_v<NSObject, T>, "the first parameter of an instance method is its receiver");
    static std::string types() { return methodTypes<R, A...>(); }
    static Slot<R> call(id self, SEL, Slot<A>... args) {
        if constexpr (std::is_void_v<R>)
            Function(static_cast<T*>(self), fromSlot<A>(args)...);
        else
            return toSlot<R>(Function(static_cast<T*>(self), fromSlot<A>(args)...));
    }
};

// A function without a receiver, for a class method.
template <auto Function, class Signature>
struct ClassTrampoline;
template <auto Function, class R, class... A>
struct ClassTrampoline<Function, R (*)(A...)> {
    static std::string types() { return methodTypes<R, A...>(); }
    static Slot<R> call(id, SEL, Slot<A>... args) {
        if constexpr (std::is_void_v<R>)
            Function(fromSlot<A>(args)...);
        else
            return toSlot<R>(Function(fromSlot<A>(args)...));
    }
};

}  // namespace objc_detail

// The type string the instance form gives for `Function`, e.g. "v24@0:8@16".
template <auto Function>
std::string objc_instanceMethodTypes() {
    return objc_detail::Trampoline<Function, decltype(Function)>::types();
}

// The type string the class form gives for `Function`.
template <auto Function>
std::string objc_classMethodTypes() {
    return objc_detail::ClassTrampoline<Function, decltype(Function)>::types();
}

// Adds `Function` to `cls` as the instance method `name`; as class_addMethod, NO when `cls` already
// has its own method of that name.
template <auto Function>
BOOL objc_addInstanceMethod(Class cls, const char* name) {
    using Entry = objc_detail::Trampoline<Function, decltype(Function)>;
    return class_addMethod(cls, sel_registerName(name), reinterpret_cast<IMP>(&Entry::call),
                           objc_instanceMethodTypes<Function>().c_str());
}

// Adds `Function` (taking no receiver) to `cls`'s metaclass as the class method `name`.
template <auto Function>
BOOL objc_addClassMethod(Class cls, const char* name) {
    using Entry = objc_detail::ClassTrampoline<Function, decltype(Function)>;
    if (cls == Nil) return NO;
    return class_addMethod(object_getClass(cls), sel_registerName(name), reinterpret_cast<IMP>(&Entry::call),
                           objc_classMethodTypes<Function>().c_str());
}
