#include "NameBasedUUID.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

uint32_t rotateLeft(uint32_t value, int bits) { return value << bits | value >> (32 - bits); }

// SHA-1 (FIPS 180-4) of a short message: the names here are a few dozen bytes.
std::array<uint8_t, 20> sha1(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> message = input;
    uint64_t bitLength = static_cast<uint64_t>(input.size()) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    for (int shift = 56; shift >= 0; shift -= 8) message.push_back(static_cast<uint8_t>(bitLength >> shift));

    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (size_t block = 0; block < message.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const uint8_t* p = &message[block + 4 * static_cast<size_t>(i)];
            w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
        }
        for (int i = 16; i < 80; ++i) w[i] = rotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            uint32_t next = rotateLeft(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotateLeft(b, 30);
            b = a;
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i) digest[static_cast<size_t>(i)] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

}  // namespace

Strong<NSUUID> nameBasedUUID(const NSUUID* space, std::string_view name) {
    std::vector<uint8_t> input(16);
    space->getUUIDBytes(input.data());
    input.insert(input.end(), name.begin(), name.end());
    std::array<uint8_t, 20> digest = sha1(input);
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = digest[static_cast<size_t>(i)];
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x50);  // version 5
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return NSUUID::fromBytes(bytes);
}
