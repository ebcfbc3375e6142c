// The session frames of a verified connection: each frame is a 2-byte little-endian length (at
// most 1024, also the additional data), the ChaCha20-Poly1305 ciphertext and its 16-byte tag, with
// the nonce counting up from 0 in each direction.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "../base/Status.h"

namespace device::hap {

inline constexpr size_t kMaxFramePayload = 1024;
inline constexpr size_t kFrameTagSize = 16;

class FrameEncoder {
public:
    explicit FrameEncoder(const std::array<uint8_t, 32>& key) : key_(key) {}
    // Appends `plain` to `out` as frames of at most 1024 bytes each.
    void encode(std::string_view plain, std::string& out);

private:
    std::array<uint8_t, 32> key_;
    uint64_t counter_ = 0;
};

class FrameDecoder {
public:
    explicit FrameDecoder(const std::array<uint8_t, 32>& key) : key_(key) {}
    // Takes bytes as they arrive and appends the plain text of each whole frame to `plain`; a frame
    // longer than 1024 or one that fails to authenticate is an error, after which the decoder
    // stays failed. Holds at most one partial frame.
    device::Status feed(std::string_view bytes, std::string& plain);
    // Bytes of a partial frame held.
    size_t pending() const { return buffer_.size(); }

private:
    std::array<uint8_t, 32> key_;
    uint64_t counter_ = 0;
    std::string buffer_;
    bool failed_ = false;
};

}  // namespace device::hap
