// CFString: immutable Core Foundation strings, as far as the device needs them: the names of
// session properties (kVTDecompressionPropertyKey_...). Reference counted with CFRetain/CFRelease;
// immutable, so shared freely between threads.
#pragma once

#include <cstdint>

#include "CFBase.h"

typedef const struct __CFString* CFStringRef;
typedef uint32_t CFStringEncoding;
inline constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;

// A new string holding a copy of `text`, which must be UTF-8 (the only encoding the device takes).
// The caller owns the result. nullptr for a null `text` or another encoding.
CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding);
// The string's UTF-8 text, lent for as long as the string lives; nullptr for nullptr or another
// encoding.
const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding);
// True when both hold the same text (two nullptrs are equal).
Boolean CFStringEqual(CFStringRef a, CFStringRef b);
