// CGHandle<Ref>: the one reference a C++ holder owns to a CoreGraphics object (context, image,
// colour, colour space), released when the holder goes. Like Strong<T>, a holder is not itself
// thread-safe; the objects' counts are.
#pragma once

#include <utility>

#include "CGBitmapContext.h"
#include "CGColor.h"
#include "CGColorSpace.h"
#include "CGImage.h"

namespace cg_detail {
inline void retain(CGContextRef r) { CGContextRetain(r); }
inline void release(CGContextRef r) { CGContextRelease(r); }
inline void retain(CGImageRef r) { CGImageRetain(r); }
inline void release(CGImageRef r) { CGImageRelease(r); }
inline void retain(CGColorRef r) { CGColorRetain(r); }
inline void release(CGColorRef r) { CGColorRelease(r); }
inline void retain(CGColorSpaceRef r) { CGColorSpaceRetain(r); }
inline void release(CGColorSpaceRef r) { CGColorSpaceRelease(r); }
}  // namespace cg_detail

template <class Ref>
class CGHandle {
public:
    CGHandle() = default;
    // Takes over a reference the caller owns (from a ...Create... function).
    static CGHandle adopt(Ref ref) {
        CGHandle h;
        h.ref_ = ref;
        return h;
    }
    // Takes a new reference to a lent object.
    static CGHandle retain(Ref ref) {
        cg_detail::retain(ref);
        return adopt(ref);
    }
    CGHandle(const CGHandle& other) : ref_(other.ref_) { cg_detail::retain(ref_); }
    CGHandle(CGHandle&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    CGHandle& operator=(CGHandle other) noexcept {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~CGHandle() { cg_detail::release(ref_); }

    Ref get() const { return ref_; }
    operator Ref() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    // Gives up the reference without releasing it; the caller now owns it.
    Ref detach() { return std::exchange(ref_, nullptr); }

private:
    Ref ref_ = nullptr;
};
