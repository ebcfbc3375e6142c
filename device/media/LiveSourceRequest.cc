#include "LiveSourceRequest.h"

#include <cstdlib>

namespace {

constexpr int kMaxSide = 16384;

// A whole number 0 ... limit spelt with digits only; nullopt otherwise.
std::optional<int> parseCount(const std::string& text, int limit) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int value = std::atoi(text.c_str());
    if (value > limit) return std::nullopt;
    return value;
}

}  // namespace

std::optional<PixelSize> parsePixelSize(const std::string& text) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos) return std::nullopt;
    std::optional<int> width = parseCount(text.substr(0, cross), kMaxSide);
    std::optional<int> height = parseCount(text.substr(cross + 1), kMaxSide);
    if (!width || !height || *width < 1 || *height < 1) return std::nullopt;
    return PixelSize{*width, *height};
}

std::string LiveSourceRequest::name() const {
    switch (kind) {
        case Kind::x11: {
            std::string text = "x11:" + target;
            if (x || y) text += "+" + std::to_string(x) + "," + std::to_string(y);
            if (region) text += " (" + std::to_string(region->width) + "x" + std::to_string(region->height) + ")";
            return text;
        }
        case Kind::v4l2:
            return "v4l2:" + target;
        case Kind::lavfi:
            return "lavfi:" + target;
    }
    return target;
}

std::optional<LiveSourceRequest> parseLiveSource(const std::string& text, const std::string& size,
                                                 const std::string& inputSize, double frameRate,
                                                 device::Status* status) {
    device::Status ignored;
    if (!status) status = &ignored;
    auto fail = [&](const std::string& why) {
        *status = device::Status::error("live source \"" + text + "\": " + why);
        return std::nullopt;
    };
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return fail("expected x11:DISPLAY[+X,Y], v4l2:PATH or lavfi:GRAPH");
    const std::string kind = text.substr(0, colon);
    LiveSourceRequest request;
    request.target = text.substr(colon + 1);
    if (kind == "x11") {
        request.kind = LiveSourceRequest::Kind::x11;
    } else if (kind == "v4l2") {
        request.kind = LiveSourceRequest::Kind::v4l2;
    } else if (kind == "lavfi") {
        request.kind = LiveSourceRequest::Kind::lavfi;
    } else {
        return fail("unknown kind \"" + kind + "\" (x11, v4l2 or lavfi)");
    }
    if (request.target.empty()) return fail("names no display, device or graph after \"" + kind + ":\"");

    if (request.kind == LiveSourceRequest::Kind::x11) {
        if (const size_t plus = request.target.find('+'); plus != std::string::npos) {
            const std::string offset = request.target.substr(plus + 1);
            const size_t comma = offset.find(',');
            std::optional<int> x =
                comma == std::string::npos ? std::nullopt : parseCount(offset.substr(0, comma), kMaxSide);
            std::optional<int> y =
                comma == std::string::npos ? std::nullopt : parseCount(offset.substr(comma + 1), kMaxSide);
            if (!x || !y) return fail("the offset \"" + offset + "\" is not X,Y");
            request.x = *x;
            request.y = *y;
            request.target.resize(plus);
        }
        // Only a display of this machine (":N"): a host name would reach X over the network.
        if (request.target.size() < 2 || request.target[0] != ':' ||
            request.target.find_first_not_of("0123456789.", 1) != std::string::npos)
            return fail("\"" + request.target + "\" is not a display of this machine (\":0\", \":1.0\")");
    } else if (!size.empty()) {
        return fail("--size picks a screen region and applies only to x11 sources");
    }
    if (!size.empty()) {
        request.region = parsePixelSize(size);
        if (!request.region) return fail("--size \"" + size + "\" is not WxH");
    }
    if (!inputSize.empty()) {
        if (request.kind != LiveSourceRequest::Kind::v4l2) return fail("--input-size applies only to v4l2 sources");
        request.inputSize = parsePixelSize(inputSize);
        if (!request.inputSize) return fail("--input-size \"" + inputSize + "\" is not WxH");
    }
    if (frameRate != 0) {
        if (request.kind == LiveSourceRequest::Kind::lavfi)
            return fail("--framerate does not apply to lavfi sources (the graph sets its rate)");
        if (!(frameRate > 0 && frameRate <= 1000)) return fail("--framerate must be more than 0 and at most 1000");
        request.frameRate = frameRate;
    }
    *status = device::Status::OK();
    return request;
}
