// Core Foundation's base: the reference-counted opaque objects (CFTypeRef) that CoreMedia hands
// out, and the scalar types of the C frameworks (OSStatus, Boolean, allocators).
//
// CFRetain, CFRelease and CFGetRetainCount may be called from any thread on any Core Foundation
// object of the device; the last CFRelease destroys the object. Each object type says whether its
// contents may be shared between threads (CoreMedia's are immutable, so they may).
#pragma once

#include <cstdint>

typedef const void* CFTypeRef;
typedef long CFIndex;
typedef unsigned char Boolean;
typedef int32_t OSStatus;
typedef uint32_t FourCharCode;

// Allocators are accepted for the sake of the iOS signatures and ignored: the device has one heap.
typedef const struct __CFAllocator* CFAllocatorRef;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum : OSStatus { noErr = 0 };

// Device addition: the FourCharCode of four characters, as the multi-character literal 'avc1'
// would be on iOS (first character in the high byte), without the literal's compiler warning.
constexpr FourCharCode fourCharCode(const char (&code)[5]) {
    return static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

// Takes a reference to `cf` and returns it. Unlike iOS, a null `cf` is ignored and gives null.
CFTypeRef CFRetain(CFTypeRef cf);
// Drops a reference; the last one destroys the object. A null `cf` is ignored.
void CFRelease(CFTypeRef cf);
// The current reference count, for tests and diagnostics; 0 for null.
CFIndex CFGetRetainCount(CFTypeRef cf);
