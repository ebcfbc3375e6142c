#include "CFString.h"

#include <cstring>
#include <new>
#include <string>

#include "CFDevice.h"
#include "CFRuntime.h"

struct __CFString : CFRuntimeBase {
    explicit __CFString(std::string t) : text(std::move(t)) {}
    const std::string text;
};

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding) {
    if (text == nullptr || encoding != kCFStringEncodingUTF8) return nullptr;
    return new (std::nothrow) __CFString(text);
}

const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding) {
    if (string == nullptr || encoding != kCFStringEncodingUTF8) return nullptr;
    return string->text.c_str();
}

Boolean CFStringEqual(CFStringRef a, CFStringRef b) {
    if (a == b) return true;
    return a != nullptr && b != nullptr && a->text == b->text;
}

CFStringRef CFStringMakeConstant(const char* text) { return static_cast<CFStringRef>(CFRetain(new __CFString(text))); }
