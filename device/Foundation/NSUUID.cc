#include "NSUUID.h"

#include <sys/random.h>
#include <cstring>
#include <random>

#include "../objc/MethodRegistration.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void randomBytes(uint8_t bytes[16]) {
    size_t filled = 0;
    while (filled < 16) {
        ssize_t got = getrandom(bytes + filled, 16 - filled, 0);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    if (filled == 16) return;
    // getrandom only fails on very old kernels; the identifier must still be unique.
    std::random_device device;
    for (size_t i = filled; i < 16; ++i) bytes[i] = static_cast<uint8_t>(device());
}

// --- Run-time methods ---------------------------------------------------------------------------

// `[NSUUID UUID]`: the caller owns the result, since there is no autorelease pool to hand it to.
id NSUUID_UUID() { return NSUUID::UUID().detach(); }

}  // namespace

Class NSUUID::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<NSUUID>("NSUUID", NSObject::objcClass());
        objc_addClassMethod<&NSUUID_UUID>(c, "UUID");
        objc_addInstanceMethod<&NSUUID::initWithUUIDString>(c, "initWithUUIDString:");
        // Lent: the identifier keeps its text for as long as it lives.
        objc_addInstanceMethod<&NSUUID::uuidText>(c, "UUIDString");
        objc_addInstanceMethod<&NSUUID::isEqual>(c, "isEqual:");
        objc_addInstanceMethod<&NSUUID::hash>(c, "hash");
        return c;
    }();
    return cls;
}

Strong<NSUUID> NSUUID::UUID() {
    uint8_t bytes[16];
    randomBytes(bytes);
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return fromBytes(bytes);
}

Strong<NSUUID> NSUUID::fromString(const char* text) {
    uint8_t bytes[16];
    if (text == nullptr || !parse(text, bytes)) return nil;
    return fromBytes(bytes);
}

Strong<NSUUID> NSUUID::fromBytes(const uint8_t bytes[16]) {
    auto uuid = makeObject<NSUUID>();
    uuid->setBytes(bytes);
    return uuid;
}

NSUUID* NSUUID::alloc() {
    auto uuid = makeObject<NSUUID>();
    uint8_t zero[16] = {};
    uuid->setBytes(zero);
    return uuid.detach();
}

NSUUID* NSUUID::initWithUUIDString(NSString* text) {
    uint8_t bytes[16];
    if (text == nil || !parse(text->string(), bytes)) {
        objc_release(this);
        return nil;
    }
    setBytes(bytes);
    return this;
}

NSUUID* NSUUID::initWithUUIDBytes(const uint8_t bytes[16]) {
    setBytes(bytes);
    return this;
}

void NSUUID::getUUIDBytes(uint8_t bytes[16]) const { std::memcpy(bytes, bytes_, 16); }

bool NSUUID::parse(std::string_view text, uint8_t bytes[16]) {
    if (text.size() != 36) return false;
    size_t out = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            ++i;
            continue;
        }
        int high = hexValue(text[i]), low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[out++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    return true;
}

void NSUUID::setBytes(const uint8_t bytes[16]) {
    std::memcpy(bytes_, bytes, 16);
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes_[i] >> 4];
        text += digits[bytes_[i] & 0x0f];
    }
    text_ = NSString::stringWithString(std::move(text));
}

bool NSUUID::isEqual(const NSObject* other) const {
    auto* uuid = dynamic_cast<const NSUUID*>(other);
    return uuid != nullptr && std::memcmp(uuid->bytes_, bytes_, 16) == 0;
}

size_t NSUUID::hash() const {
    uint64_t a, b;
    std::memcpy(&a, bytes_, 8);
    std::memcpy(&b, bytes_ + 8, 8);
    return static_cast<size_t>(a ^ (b * 0x9e3779b97f4a7c15ull));
}
