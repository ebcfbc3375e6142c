// Reads HTTP/1.1 responses and EVENT/1.0 notifications from an accessory as their bytes arrive:
// Content-Length or chunked bodies, 204 and 304 without one, sizes bounded.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "../base/Status.h"
#include "HttpResponse.h"

namespace device::hap {

class HttpParser {
public:
    static constexpr size_t kMaxHeaderBytes = 8 * 1024;
    static constexpr size_t kMaxBodyBytes = 1024 * 1024;

    // Takes the next bytes; complete messages queue up for `next`. Malformed input or a message
    // past the bounds is an error, after which the parser stays failed.
    device::Status feed(std::string_view bytes);
    bool hasMessage() const { return !messages_.empty(); }
    HttpResponse next();
    // Bytes held of a message not yet complete.
    size_t pending() const { return buffer_.size(); }

private:
    device::Status parse();

    std::string buffer_;
    std::deque<HttpResponse> messages_;
    bool failed_ = false;
};

}  // namespace device::hap
