// NSUUID: an immutable 128-bit universally unique identifier. Safe to share between threads.
//
// Its text is the usual 8-4-4-4-12 form in upper-case hexadecimal, made once when the identifier is
// made, so the same identifier has the same text in every process and every run.
#pragma once

#include <cstdint>
#include <string_view>

#include "../objc/runtime.h"

#include "NSString.h"

class NSUUID : public NSObject {
public:
    NSUUID() = default;
    static Class objcClass();

    // A new random (version 4) identifier.
    static Strong<NSUUID> UUID();
    // The identifier written as `text` (hexadecimal digits of either case in the 8-4-4-4-12 form);
    // nil when the text is anything else.
    static Strong<NSUUID> fromString(const char* text);
    // The identifier of the given 16 bytes, in network order.
    static Strong<NSUUID> fromBytes(const uint8_t bytes[16]);

    // `[NSUUID alloc]`: an all-zero identifier the caller owns, to be set up by an `init...` call.
    static NSUUID* alloc();
    // Sets the receiver to the identifier `text` names and returns it (the reference passes
    // through). For nil or malformed text it releases the receiver and returns nil, as Foundation does.
    NSUUID* initWithUUIDString(NSString* text);
    // Sets the receiver to `bytes` and returns it.
    NSUUID* initWithUUIDBytes(const uint8_t bytes[16]);

    // The text, 36 characters, upper case. Made once; every call shares the same string.
    Strong<NSString> UUIDString() const { return text_; }
    // The text without a reference, lent for as long as the identifier lives.
    NSString* uuidText() const { return text_.get(); }
    void getUUIDBytes(uint8_t bytes[16]) const;

    // Identifiers are equal when their 128 bits are.
    bool isEqual(const NSObject* other) const override;
    size_t hash() const override;
    std::string description() const override { return text_ ? text_->string() : std::string(); }

    // Parses the 8-4-4-4-12 text into `bytes`; false (bytes unspecified) when it is not one.
    static bool parse(std::string_view text, uint8_t bytes[16]);

private:
    void setBytes(const uint8_t bytes[16]);

    uint8_t bytes_[16] = {};
    Strong<NSString> text_;
};
