#include "SessionCipher.h"

#include <algorithm>

#include "Crypto.h"

namespace device::hap {

void FrameEncoder::encode(std::string_view plain, std::string& out) {
    size_t offset = 0;
    while (offset < plain.size()) {
        size_t size = std::min(kMaxFramePayload, plain.size() - offset);
        char length[2] = {static_cast<char>(size & 0xFF), static_cast<char>(size >> 8)};
        std::string_view aad(length, 2);
        out.append(aad);
        out.append(crypto::seal(plain.substr(offset, size), aad, crypto::nonce(counter_++), key_));
        offset += size;
    }
}

device::Status FrameDecoder::feed(std::string_view bytes, std::string& plain) {
    if (failed_) return Status::error("The session with the accessory already failed.");
    buffer_.append(bytes);
    size_t offset = 0;
    Status result;
    while (buffer_.size() - offset >= 2) {
        size_t length = static_cast<uint8_t>(buffer_[offset]) | (static_cast<uint8_t>(buffer_[offset + 1]) << 8);
        if (length > kMaxFramePayload) {
            result = Status::error("The accessory sent a frame longer than 1024 bytes.");
            break;
        }
        size_t whole = 2 + length + kFrameTagSize;
        if (buffer_.size() - offset < whole) break;
        std::string_view frame(buffer_.data() + offset, whole);
        auto opened = crypto::open(frame.substr(2), frame.substr(0, 2), crypto::nonce(counter_), key_);
        if (!opened) {
            result = Status::error("A frame from the accessory failed to authenticate.");
            break;
        }
        ++counter_;
        plain.append(*opened);
        offset += whole;
    }
    buffer_.erase(0, offset);
    if (!result.ok()) {
        failed_ = true;
        buffer_.clear();
    }
    return result;
}

}  // namespace device::hap
