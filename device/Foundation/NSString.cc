#include "NSString.h"

#include <locale.h>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "NSArray.h"

Class NSString::objcClass() {
    static Class cls = objc_defineClass<NSString>("NSString", NSObject::objcClass());
    return cls;
}

Strong<NSString> NSString::stringWithUTF8String(const char* text) {
    return makeObject<NSString>(std::string(text ? text : ""));
}

Strong<NSString> NSString::stringWithString(std::string text) { return makeObject<NSString>(std::move(text)); }

Strong<NSString> NSString::stringWithFormat(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Strong<NSString> result = stringWithFormatV(format, arguments);
    va_end(arguments);
    return result;
}

namespace {
locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}
}  // namespace

Strong<NSString> NSString::stringWithFormatV(const char* format, va_list arguments) {
    // Formatting never follows the user's locale.
    locale_t previous = uselocale(cLocale());
    va_list copy;
    va_copy(copy, arguments);
    char small[128];
    int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string text;
    if (length < 0) {
        text.clear();
    } else if (static_cast<size_t>(length) < sizeof small) {
        text.assign(small, static_cast<size_t>(length));
    } else {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, arguments);
        text.resize(static_cast<size_t>(length));
    }
    uselocale(previous);
    return makeObject<NSString>(std::move(text));
}

NSString* NSString::literal(const char* text) {
    // Never released: a literal lives as long as the process.
    return makeObject<NSString>(std::string(text)).detach();
}

Strong<NSString> NSString::stringByAppendingString(const NSString* other) const {
    return stringWithString(other ? text_ + other->text_ : text_);
}

Strong<NSArray> NSString::componentsSeparatedByString(const NSString* separator) const {
    auto result = makeObject<NSMutableArray>();
    const std::string& sep = separator ? separator->text_ : std::string();
    if (sep.empty()) {
        result->addObject(stringWithString(text_));
        return result;
    }
    size_t start = 0;
    while (true) {
        size_t found = text_.find(sep, start);
        result->addObject(stringWithString(text_.substr(start, found == std::string::npos ? found : found - start)));
        if (found == std::string::npos) break;
        start = found + sep.size();
    }
    return result;
}

namespace {
// Where the leading plain decimal number starts (after white space), or nullptr when the text does
// not begin with one. Hexadecimal, "inf" and "nan" do not count as numbers.
const char* leadingNumber(const std::string& text) {
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* digits = p + ((*p == '+' || *p == '-') ? 1 : 0);
    bool startsNumber = std::isdigit(static_cast<unsigned char>(digits[0])) ||
                        (digits[0] == '.' && std::isdigit(static_cast<unsigned char>(digits[1])));
    if (!startsNumber || (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))) return nullptr;
    return p;
}
}  // namespace

double NSString::doubleValue() const {
    const char* number = leadingNumber(text_);
    return number ? strtod_l(number, nullptr, cLocale()) : 0.0;
}

float NSString::floatValue() const {
    const char* number = leadingNumber(text_);
    return number ? strtof_l(number, nullptr, cLocale()) : 0.0f;
}

NSInteger NSString::integerValue() const { return static_cast<NSInteger>(std::strtoll(text_.c_str(), nullptr, 10)); }

BOOL NSString::boolValue() const {
    size_t i = 0;
    while (i < text_.size() && std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
    if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) ++i;
    while (i < text_.size() && text_[i] == '0') ++i;
    if (i == text_.size()) return NO;
    char first = text_[i];
    return first == 'Y' || first == 'y' || first == 'T' || first == 't' || (first >= '1' && first <= '9');
}

bool NSString::isEqual(const NSObject* other) const {
    auto* string = dynamic_cast<const NSString*>(other);
    return string && string->text_ == text_;
}

size_t NSString::hash() const { return std::hash<std::string>{}(text_); }
