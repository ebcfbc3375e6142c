// CFHolder<Ref>: the RAII owner of one reference to a Core Foundation object (CMSampleBufferRef,
// CMFormatDescriptionRef, ...), so C++ callers of the Create/Copy functions cannot leak.
//
// `CFHolder::adopt` takes over a reference the caller owns (from a ...Create... or ...Copy...
// function); `CFHolder::retain` takes a new reference to a lent object. Copies retain, moves do
// not. A holder is not itself thread-safe: share the object, not the holder.
#pragma once

#include <cstddef>
#include <utility>

#include "CFBase.h"

template <class Ref>
class CFHolder {
public:
    CFHolder() = default;
    CFHolder(std::nullptr_t) {}
    CFHolder(const CFHolder& other) : ref_(other.ref_) { CFRetain(ref_); }
    CFHolder(CFHolder&& other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
    ~CFHolder() { CFRelease(ref_); }

    CFHolder& operator=(CFHolder other) noexcept {
        std::swap(ref_, other.ref_);
        return *this;
    }

    static CFHolder adopt(Ref ref) {
        CFHolder holder;
        holder.ref_ = ref;
        return holder;
    }
    static CFHolder retain(Ref ref) {
        CFRetain(ref);
        return adopt(ref);
    }

    Ref get() const { return ref_; }
    operator Ref() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

    // Releases the current object and returns the slot for a Create function's out-parameter,
    // which hands over its reference: `CMSampleBufferCreate...(..., holder.receive())`.
    Ref* receive() {
        CFRelease(ref_);
        ref_ = nullptr;
        return &ref_;
    }
    // Gives up the reference without releasing it; the caller now owns it.
    Ref detach() { return std::exchange(ref_, nullptr); }
    void reset() { CFRelease(std::exchange(ref_, nullptr)); }

private:
    Ref ref_ = nullptr;
};
