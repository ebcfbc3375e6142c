// Strong<T>: a strong reference to an object, the RAII counterpart of an ARC `__strong` variable.
//
// Constructing from a raw pointer retains it (the pointer is lent); `Strong<T>::adopt` takes over a
// reference the caller already owns (from `alloc`, `new...`, `copy`, `...Create...`). A Strong is not
// itself thread-safe: share the object, not the holder.
#pragma once

#include <type_traits>
#include <utility>

#include "NSObject.h"

template <class T>
class Strong {
public:
    Strong() = default;
    Strong(std::nullptr_t) {}
    Strong(T* object) : object_(object) { objc_retain(object_); }
    Strong(const Strong& other) : object_(other.object_) { objc_retain(object_); }
    Strong(Strong&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Strong(const Strong<U>& other) : object_(other.get()) {
        objc_retain(object_);
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Strong(Strong<U>&& other) noexcept : object_(other.detach()) {}
    ~Strong() { objc_release(object_); }

    Strong& operator=(Strong other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    // Takes over a reference the caller owns, without retaining.
    static Strong adopt(T* object) {
        Strong s;
        s.object_ = object;
        return s;
    }

    T* get() const { return object_; }
    operator T*() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Gives up the reference without releasing it; the caller now owns it.
    T* detach() {
        T* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    T* object_ = nullptr;
};

// Downcasts with a check of the run-time class; nil when `object` is not a T.
template <class T>
T* objc_cast(id object) {
    return dynamic_cast<T*>(object);
}

// Creates a T (a C++ class with `static Class objcClass()`) with the given constructor arguments,
// sets its class, and returns the one reference to it.
template <class T, class... A>
Strong<T> makeObject(A&&... args) {
    T* object = new T(std::forward<A>(args)...);
    object->isa = T::objcClass();
    return Strong<T>::adopt(object);
}
