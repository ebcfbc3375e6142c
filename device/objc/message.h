// Message sending: objc_msgSend<R>(receiver, selector, args...).
//
// The method is found through the receiver's class chain and called with the receiver, the
// selector and the arguments. Object arguments and results travel as `id`, so an implementation
// is always declared with `id` for every object it takes or gives. A message to nil does nothing and
// returns a zero value. A selector the receiver does not answer raises NSInvalidArgumentException.
// In builds with assertions, the call's C++ signature is checked against the method's type string
// (sizes and offsets ignored) and a mismatch aborts with both printed: a wrong cast becomes a
// clear failure rather than undefined behaviour.
#pragma once

#include <string>
#include <type_traits>

#include "NSException.h"
#include "objc.h"

struct objc_methodLookup {
    IMP imp;
    const char* types;
};

// The implementation that `op` reaches on `receiver` (not nil); raises NSInvalidArgumentException
// when there is none.
objc_methodLookup objc_lookUpMethod(id receiver, SEL op);
// Aborts with a message when `methodTypes` and the caller's `callTypes` disagree.
void objc_checkCallTypes(id receiver, SEL op, const char* methodTypes, const std::string& callTypes);

namespace objc_detail {

template <class T>
constexpr bool isObjectLike = std::is_convertible_v<T, id> && !std::is_same_v<std::decay_t<T>, Class>;

// How a value of C++ type T travels through a method call.
template <class T>
using Param = std::conditional_t<isObjectLike<T>, id, std::conditional_t<std::is_same_v<T, std::nullptr_t>, id, T>>;

template <class T>
struct Encoding {
    static std::string get() {
        using U = std::remove_cv_t<T>;
        if constexpr (std::is_void_v<U>)
            return "v";
        else if constexpr (std::is_same_v<U, bool>)
            return "B";
        else if constexpr (std::is_same_v<U, char> || std::is_same_v<U, signed char>)
            return "c";
        else if constexpr (std::is_same_v<U, unsigned char>)
            return "C";
        else if constexpr (std::is_same_v<U, short>)
            return "s";
        else if constexpr (std::is_same_v<U, unsigned short>)
            return "S";
        else if constexpr (std::is_same_v<U, int>)
            return "i";
        else if constexpr (std::is_same_v<U, unsigned int>)
            return "I";
        else if constexpr (std::is_same_v<U, long> || std::is_same_v<U, long long>)
            return "q";
        else if constexpr (std::is_same_v<U, unsigned long> || std::is_same_v<U, unsigned long long>)
            return "Q";
        else if constexpr (std::is_same_v<U, float>)
            return "f";
        else if constexpr (std::is_same_v<U, double>)
            return "d";
        else if constexpr (std::is_same_v<U, Class>)
            return "#";
        else if constexpr (std::is_same_v<U, SEL>)
            return ":";
        else if constexpr (std::is_same_v<U, id>)
            return "@";
        else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>)
            return "*";
        else if constexpr (std::is_pointer_v<U>)
            return "^?";  // any pointee
        else if constexpr (std::is_class_v<U>)
            return "{}";  // a struct; its name is not checked
        else
            return "?";
    }
};

template <class R, class... A>
std::string callTypes() {
    std::string types = Encoding<Param<R>>::get() + "@:";
    ((types += Encoding<Param<A>>::get()), ...);
    return types;
}

}  // namespace objc_detail

template <class R = void, class... A>
R objc_msgSend(id receiver, SEL op, A... args) {
    using namespace objc_detail;
    if (receiver == nullptr) {
        if constexpr (std::is_void_v<R>)
            return;
        else
            return R{};
    }
    objc_methodLookup method = objc_lookUpMethod(receiver, op);
#ifndef NDEBUG
    objc_checkCallTypes(receiver, op, method.types, callTypes<R, A...>());
#endif
    using Function = Param<R> (*)(id, SEL, Param<A>...);
    auto function = reinterpret_cast<Function>(method.imp);
    if constexpr (std::is_void_v<R>) {
        function(receiver, op, static_cast<Param<A>>(args)...);
    } else {
        return static_cast<R>(function(receiver, op, static_cast<Param<A>>(args)...));
    }
}

// The class as an object, to send it class messages.
id objc_classObject(Class cls);

// A message to a class: `[cls op...]`.
template <class R = void, class... A>
R objc_msgSend(Class receiver, SEL op, A... args) {
    return objc_msgSend<R, A...>(objc_classObject(receiver), op, args...);
}

// A message to a literal nil does nothing.
template <class R = void, class... A>
R objc_msgSend(std::nullptr_t, SEL, A...) {
    if constexpr (!std::is_void_v<R>) return R{};
}

// Sends to the superclass's implementation: `[super op...]` from a method of `cls`.
template <class R = void, class... A>
R objc_msgSendSuper(Class cls, id receiver, SEL op, A... args);
