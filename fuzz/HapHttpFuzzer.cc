// The HTTP response parser: whatever an accessory puts in its responses and events. The messages
// must not depend on how the bytes were split, and nothing held may pass the parser's bounds.
#include "FuzzSupport.h"
#include "hap/HttpParser.h"

using namespace device::hap;

namespace {

std::vector<fuzz::Seed> makeSeeds() {
    return {
        {"204", "HTTP/1.1 204 No Content\r\n\r\n"},
        {"json",
         "HTTP/1.1 200 OK\r\nContent-Type: application/hap+json\r\nContent-Length: 21\r\n\r\n"
         "{\"characteristics\":[]}"},
        {"event", "EVENT/1.0 200 OK\r\nContent-Type: application/hap+json\r\nContent-Length: 2\r\n\r\n{}"},
        {"chunked", "HTTP/1.1 207 Multi-Status\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n"},
        {"two", "HTTP/1.1 470 Connection Authorization Required\r\nContent-Length: 0\r\n\r\nHTTP/1.1 204 OK\r\n\r\n"},
    };
}

struct Parsed {
    bool failed = false;
    std::vector<HttpResponse> messages;
};

Parsed parse(std::string_view input, size_t piece) {
    HttpParser parser;
    Parsed parsed;
    for (size_t offset = 0; offset < input.size() && !parsed.failed; offset += piece) {
        parsed.failed = !parser.feed(input.substr(offset, piece)).ok();
        if (parser.pending() > HttpParser::kMaxHeaderBytes + HttpParser::kMaxBodyBytes + 64 * 1024)
            fuzz::fail("the parser holds " + std::to_string(parser.pending()) + " bytes");
        while (parser.hasMessage()) parsed.messages.push_back(parser.next());
    }
    return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 64;
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    Parsed whole = parse(input, input.size() + 1);
    Parsed split = parse(input, piece);
    if (whole.failed != split.failed) fuzz::fail("splitting the input changed whether it parses");
    size_t common = std::min(whole.messages.size(), split.messages.size());
    if (!whole.failed && whole.messages.size() != split.messages.size()) fuzz::fail("splitting changed the messages");
    for (size_t i = 0; i < common; ++i) {
        const auto& a = whole.messages[i];
        const auto& b = split.messages[i];
        if (a.status != b.status || a.body != b.body || a.event != b.event || a.headers != b.headers)
            fuzz::fail("message " + std::to_string(i) + " differs when split");
    }
    return 0;
}
