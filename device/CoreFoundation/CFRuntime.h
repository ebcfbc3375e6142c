// CFRuntimeBase: what every Core Foundation-style object of the device derives from, so that
// CFRetain and CFRelease work on any of them through a plain `const void*`.
//
// Device-internal: only the files that define CF object types (CoreGraphics's among them) include
// this. A type derives from CFRuntimeBase as its first and only base, so the object's address and
// its CFRuntimeBase's address are the same and a CFTypeRef can be cast back. Objects start with one
// reference (the creator's) and are destroyed by the last CFRelease, on whichever thread makes it.
#pragma once

#include <atomic>

#include "CFBase.h"

class CFRuntimeBase {
public:
    CFRuntimeBase() = default;
    CFRuntimeBase(const CFRuntimeBase&) = delete;
    CFRuntimeBase& operator=(const CFRuntimeBase&) = delete;
    virtual ~CFRuntimeBase() = default;

private:
    friend CFTypeRef CFRetain(CFTypeRef);
    friend void CFRelease(CFTypeRef);
    friend CFIndex CFGetRetainCount(CFTypeRef);

    std::atomic<CFIndex> refCount_{1};
};
