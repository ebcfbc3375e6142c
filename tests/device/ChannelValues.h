// Values for the channel tests: one that holds every kind that travels, and an exact comparison
// (classes, number kinds and bit patterns, not just isEqual).
#pragma once

#include <cmath>
#include <cstring>
#include <limits>

#include <Foundation/Foundation.h>

inline bool sameValue(id a, id b) {
    if (a == nil || b == nil) return a == b;
    if (auto* x = objc_cast<NSString>(a)) {
        auto* y = objc_cast<NSString>(b);
        return y && x->string() == y->string();
    }
    if (auto* x = objc_cast<NSNumber>(a)) {
        auto* y = objc_cast<NSNumber>(b);
        if (!y || x->kind() != y->kind()) return false;
        if (x->kind() != NSNumber::Kind::real) return x->longLongValue() == y->longLongValue();
        double p = x->doubleValue(), q = y->doubleValue();
        return std::memcmp(&p, &q, sizeof p) == 0;
    }
    if (auto* x = objc_cast<NSArray>(a)) {
        auto* y = objc_cast<NSArray>(b);
        if (!y || x->count() != y->count()) return false;
        for (NSUInteger i = 0; i < x->count(); ++i)
            if (!sameValue(x->objectAtIndex(i), y->objectAtIndex(i))) return false;
        return true;
    }
    if (auto* x = objc_cast<NSDictionary>(a)) {
        auto* y = objc_cast<NSDictionary>(b);
        if (!y || x->count() != y->count()) return false;
        for (const auto& [key, value] : *x)
            if (!sameValue(value.get(), y->objectForKey(key.get()))) return false;
        return true;
    }
    return false;
}

// Strings (empty, with NUL and UTF-8), numbers of each kind at their edges, nesting both ways.
inline Strong<NSObject> everyKindValue() {
    auto number = [](long long v) { return NSNumber::numberWithLongLong(v); };
    Strong<NSArray> inner = NSArray::arrayWithObjects(
        {NSString::stringWithUTF8String(""), NSString::stringWithString(std::string("nul\0inside", 10)),
         NSString::stringWithUTF8String("Grün ✓"), NSNumber::numberWithBool(YES), NSNumber::numberWithBool(NO)});
    Strong<NSDictionary> dictionary = NSDictionary::dictionaryWithEntries({
        {NSSTR("min"), number(std::numeric_limits<long long>::min())},
        {NSSTR("max"), number(std::numeric_limits<long long>::max())},
        {NSSTR("real"), NSNumber::numberWithDouble(-0.0)},
        {NSSTR("inf"), NSNumber::numberWithDouble(std::numeric_limits<double>::infinity())},
        {NSSTR("list"), inner},
        {NSSTR(""), NSDictionary::dictionaryWithEntries({})},
    });
    return NSArray::arrayWithObjects(
        {NSSTR("1.000000,0.501961,0.250980,1.000000"), dictionary, NSArray::array(), NSNumber::numberWithDouble(0.1)});
}
