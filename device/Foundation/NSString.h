// NSString: an immutable UTF-8 text. Safe to share between threads.
#pragma once

#include <cstdarg>
#include <string>

#include "../objc/runtime.h"

class NSArray;

class NSString : public NSObject {
public:
    explicit NSString(std::string text = {}) : text_(std::move(text)) {}
    static Class objcClass();

    static Strong<NSString> stringWithUTF8String(const char* text);
    static Strong<NSString> stringWithString(std::string text);
    // printf-style formatting in the C locale ("." as decimal separator).
    static Strong<NSString> stringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static Strong<NSString> stringWithFormatV(const char* format, va_list arguments);
    // An immortal string for a literal; what `@"..."` gives. See NSSTR below.
    static NSString* literal(const char* text);

    const char* UTF8String() const { return text_.c_str(); }
    const std::string& string() const { return text_; }
    NSUInteger length() const { return text_.size(); }
    BOOL isEqualToString(const NSString* other) const { return other == this || (other && other->text_ == text_); }

    // The receiver followed by `other` (nil adds nothing); every byte of both, NULs included.
    Strong<NSString> stringByAppendingString(const NSString* other) const;
    // The pieces between every occurrence of `separator`; an empty separator gives the whole text.
    Strong<NSArray> componentsSeparatedByString(const NSString* separator) const;

    // The leading decimal number, after leading white space, read without regard to locale; 0 when
    // the text does not begin with a number. Overflow gives ±HUGE_VAL.
    double doubleValue() const;
    float floatValue() const;
    NSInteger integerValue() const;
    // YES when the text begins, after leading white space, an optional sign and any zeros, with
    // "Y", "y", "T", "t" or a digit 1-9; the rest is ignored. So "YES", "true" and "-01" are YES;
    // "NO", "0", "0.5" and "" are NO.
    BOOL boolValue() const;

    bool isEqual(const NSObject* other) const override;
    size_t hash() const override;
    std::string description() const override { return text_; }

private:
    std::string text_;
};

// `@"text"`: an immortal NSString made once per call site.
#define NSSTR(text)                                                \
    ([]() -> NSString* {                                           \
        static NSString* const interned = NSString::literal(text); \
        return interned;                                           \
    }())
