#include "HttpParser.h"

#include <strings.h>
#include <charconv>
#include <optional>

namespace device::hap {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// How a chunked body ends up: complete (its size in `consumed`), incomplete, or malformed.
enum class Chunked { kComplete, kIncomplete, kMalformed, kTooLarge };

// The longest chunk-size line taken, extensions included: the same bound whether or not its end
// has arrived yet, so that how the bytes were split cannot change whether a body parses.
constexpr size_t kMaxChunkSizeLine = 64;

// Whether bytes that hold no terminator yet are already past `bound`: the first bytes of the
// terminator (one fewer than its length) may have arrived, so a line of exactly `bound` bytes
// still waits for the rest of its end.
bool pastBoundWhileWaiting(size_t held, size_t bound, size_t terminatorLength) {
    return held > bound + terminatorLength - 1;
}

Chunked readChunked(std::string_view data, std::string& body, size_t& consumed) {
    size_t offset = 0;
    body.clear();
    for (;;) {
        size_t lineEnd = data.find("\r\n", offset);
        if (lineEnd == std::string_view::npos)
            return pastBoundWhileWaiting(data.size() - offset, kMaxChunkSizeLine, 2) ? Chunked::kMalformed
                                                                                     : Chunked::kIncomplete;
        if (lineEnd - offset > kMaxChunkSizeLine) return Chunked::kMalformed;
        std::string_view line = data.substr(offset, lineEnd - offset);
        line = line.substr(0, line.find(';'));
        line = trim(line);
        size_t size = 0;
        auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), size, 16);
        if (line.empty() || error != std::errc() || end != line.data() + line.size()) return Chunked::kMalformed;
        if (size > HttpParser::kMaxBodyBytes || body.size() + size > HttpParser::kMaxBodyBytes)
            return Chunked::kTooLarge;
        offset = lineEnd + 2;
        if (size == 0) {
            // Trailers, each a line, then an empty line.
            for (;;) {
                size_t trailerEnd = data.find("\r\n", offset);
                if (trailerEnd == std::string_view::npos) {
                    return pastBoundWhileWaiting(data.size() - offset, HttpParser::kMaxHeaderBytes, 2)
                               ? Chunked::kTooLarge
                               : Chunked::kIncomplete;
                }
                if (trailerEnd - offset > HttpParser::kMaxHeaderBytes) return Chunked::kTooLarge;
                bool empty = trailerEnd == offset;
                offset = trailerEnd + 2;
                if (empty) {
                    consumed = offset;
                    return Chunked::kComplete;
                }
            }
        }
        if (data.size() - offset < size + 2) return Chunked::kIncomplete;
        body.append(data.substr(offset, size));
        if (data.substr(offset + size, 2) != "\r\n") return Chunked::kMalformed;
        offset += size + 2;
    }
}

}  // namespace

device::Status HttpParser::feed(std::string_view bytes) {
    if (failed_) return Status::error("The accessory's earlier response was malformed.");
    buffer_.append(bytes);
    Status status = parse();
    if (!status.ok()) {
        failed_ = true;
        buffer_.clear();
    }
    return status;
}

HttpResponse HttpParser::next() {
    HttpResponse message = std::move(messages_.front());
    messages_.pop_front();
    return message;
}

device::Status HttpParser::parse() {
    for (;;) {
        size_t headerEnd = buffer_.find("\r\n\r\n");
        if (headerEnd == std::string::npos) {
            if (pastBoundWhileWaiting(buffer_.size(), kMaxHeaderBytes, 4))
                return Status::error("The accessory sent a response header too long.");
            return Status::OK();
        }
        if (headerEnd > kMaxHeaderBytes) return Status::error("The accessory sent a response header too long.");
        std::string_view head(buffer_.data(), headerEnd);

        HttpResponse message;
        size_t lineEnd = head.find("\r\n");
        std::string_view statusLine = head.substr(0, lineEnd);
        // "HTTP/1.1 200 OK" or "EVENT/1.0 200 OK"
        if (statusLine.substr(0, 9) == "HTTP/1.1 " || statusLine.substr(0, 9) == "HTTP/1.0 ") {
            message.event = false;
        } else if (statusLine.substr(0, 10) == "EVENT/1.0 ") {
            message.event = true;
        } else {
            return Status::error("The accessory sent something that is not an HTTP response.");
        }
        std::string_view rest = statusLine.substr(message.event ? 10 : 9);
        if (rest.size() < 3) return Status::error("The accessory sent a response without a status code.");
        auto [codeEnd, codeError] = std::from_chars(rest.data(), rest.data() + 3, message.status);
        if (codeError != std::errc() || codeEnd != rest.data() + 3 || message.status < 100 || message.status > 599 ||
            (rest.size() > 3 && rest[3] != ' ')) {
            return Status::error("The accessory sent a response with a malformed status code.");
        }
        message.reason = std::string(rest.size() > 4 ? rest.substr(4) : std::string_view());

        bool chunked = false;
        std::optional<size_t> contentLength;
        size_t offset = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
        while (offset < head.size()) {
            size_t end = head.find("\r\n", offset);
            if (end == std::string_view::npos) end = head.size();
            std::string_view line = head.substr(offset, end - offset);
            offset = end + 2;
            size_t colon = line.find(':');
            if (colon == std::string_view::npos || colon == 0) {
                return Status::error("The accessory sent a malformed response header.");
            }
            std::string_view name = trim(line.substr(0, colon));
            std::string_view value = trim(line.substr(colon + 1));
            if (equalsIgnoringCase(name, "Content-Length")) {
                size_t length = 0;
                auto [end2, error] = std::from_chars(value.data(), value.data() + value.size(), length);
                if (value.empty() || error != std::errc() || end2 != value.data() + value.size()) {
                    return Status::error("The accessory sent a malformed Content-Length.");
                }
                if (length > kMaxBodyBytes) return Status::error("The accessory sent a response body too large.");
                contentLength = length;
            } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
                if (!equalsIgnoringCase(value, "chunked")) {
                    return Status::error("The accessory sent a transfer encoding other than chunked.");
                }
                chunked = true;
            }
            message.headers.emplace_back(std::string(name), std::string(value));
        }

        size_t bodyStart = headerEnd + 4;
        size_t consumed = bodyStart;
        bool bodyless = message.status == 204 || message.status == 304 || message.status < 200;
        if (bodyless) {
            // nothing follows the header
        } else if (chunked) {
            size_t used = 0;
            switch (readChunked(std::string_view(buffer_).substr(bodyStart), message.body, used)) {
                case Chunked::kIncomplete:
                    return Status::OK();
                case Chunked::kMalformed:
                    return Status::error("The accessory sent a malformed chunked body.");
                case Chunked::kTooLarge:
                    return Status::error("The accessory sent a response body too large.");
                case Chunked::kComplete:
                    consumed = bodyStart + used;
                    break;
            }
        } else {
            size_t length = contentLength.value_or(0);
            if (buffer_.size() - bodyStart < length) return Status::OK();
            message.body = buffer_.substr(bodyStart, length);
            consumed = bodyStart + length;
        }
        buffer_.erase(0, consumed);
        messages_.push_back(std::move(message));
    }
}

}  // namespace device::hap
