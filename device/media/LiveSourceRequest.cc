#include "LiveSourceRequest.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

using device::Status;
using device::StatusOr;

namespace {

const std::string kTooLarge =
    "is too large: a side or an offset is at most " + std::to_string(kMaxLiveSide) + " pixels";

// A whole number spelt with digits only, capped at kMaxLiveSide + 1 (which stands for any larger
// one); nullopt otherwise.
std::optional<int> parseCount(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const size_t first = std::min(text.find_first_not_of('0'), text.size());
    if (text.size() - first > 6) return kMaxLiveSide + 1;
    return std::min(std::atoi(text.c_str()), kMaxLiveSide + 1);
}

std::string rateText(double rate) {
    std::ostringstream text;
    text << rate;
    return text.str();
}

}  // namespace

StatusOr<PixelSize> parsePixelSize(const std::string& text) {
    const Status notWxH = Status::error("is not WxH");
    const size_t cross = text.find('x');
    if (cross == std::string::npos) return notWxH;
    std::optional<int> width = parseCount(text.substr(0, cross));
    std::optional<int> height = parseCount(text.substr(cross + 1));
    if (!width || !height || *width < 1 || *height < 1) return notWxH;
    if (*width > kMaxLiveSide || *height > kMaxLiveSide) return Status::error(kTooLarge);
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
        case Kind::portal:
            return "portal:" + target;
        case Kind::pipewire:
            return "pipewire:" + target;
    }
    return target;
}

namespace {

// parseLiveSource, with errors that say only what is wrong.
StatusOr<LiveSourceRequest> parseRequest(const std::string& text, const std::string& size, const std::string& inputSize,
                                         std::optional<double> frameRate) {
    // "portal" alone shares a monitor.
    if (text == "portal") return parseRequest("portal:monitor", size, inputSize, frameRate);
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return Status::error(
            "expected x11:DISPLAY[+X,Y], v4l2:PATH, lavfi:GRAPH, portal[:monitor|:window] or pipewire:NODE");
    const std::string kind = text.substr(0, colon);
    LiveSourceRequest request;
    request.target = text.substr(colon + 1);
    if (kind == "x11") {
        request.kind = LiveSourceRequest::Kind::x11;
    } else if (kind == "v4l2") {
        request.kind = LiveSourceRequest::Kind::v4l2;
    } else if (kind == "lavfi") {
        request.kind = LiveSourceRequest::Kind::lavfi;
    } else if (kind == "portal") {
        request.kind = LiveSourceRequest::Kind::portal;
        if (request.target != "monitor" && request.target != "window")
            return Status::error("the portal shares a \"monitor\" or a \"window\", not \"" + request.target + "\"");
    } else if (kind == "pipewire") {
        request.kind = LiveSourceRequest::Kind::pipewire;
    } else {
        return Status::error("unknown kind \"" + kind + "\" (x11, v4l2, lavfi, portal or pipewire)");
    }
    if (request.target.empty()) {
        // Most often "x11:$DISPLAY" where the shell had no DISPLAY to put in.
        const char* display = std::getenv("DISPLAY");
        if (request.kind == LiveSourceRequest::Kind::x11 && (display == nullptr || *display == '\0'))
            return Status::error(
                "names no display, and DISPLAY is unset here, so x11:$DISPLAY names none: give the display, "
                "e.g. x11::0");
        return Status::error("names no display, device, graph or node after \"" + kind + ":\"");
    }

    if (request.kind == LiveSourceRequest::Kind::x11) {
        if (const size_t plus = request.target.find('+'); plus != std::string::npos) {
            const std::string offset = request.target.substr(plus + 1);
            const size_t comma = offset.find(',');
            std::optional<int> x = comma == std::string::npos ? std::nullopt : parseCount(offset.substr(0, comma));
            std::optional<int> y = comma == std::string::npos ? std::nullopt : parseCount(offset.substr(comma + 1));
            if (!x || !y) return Status::error("the offset \"" + offset + "\" is not X,Y");
            if (*x > kMaxLiveSide || *y > kMaxLiveSide)
                return Status::error("the offset \"" + offset + "\" " + kTooLarge);
            request.x = *x;
            request.y = *y;
            request.target.resize(plus);
        }
        // Only a display of this machine (":N"): a host name would reach X over the network.
        if (request.target.size() < 2 || request.target[0] != ':' ||
            request.target.find_first_not_of("0123456789.", 1) != std::string::npos)
            return Status::error("\"" + request.target + "\" is not a display of this machine (\":0\", \":1.0\")");
    } else if (!size.empty()) {
        return Status::error("--size picks a screen region and applies only to x11 sources");
    }
    if (!size.empty()) {
        StatusOr<PixelSize> region = parsePixelSize(size);
        if (!region.ok()) return Status::error("--size \"" + size + "\" " + region.status().message());
        request.region = *region;
    }
    if (!inputSize.empty()) {
        if (request.kind != LiveSourceRequest::Kind::v4l2)
            return Status::error("--input-size applies only to v4l2 sources");
        StatusOr<PixelSize> asked = parsePixelSize(inputSize);
        if (!asked.ok()) return Status::error("--input-size \"" + inputSize + "\" " + asked.status().message());
        request.inputSize = *asked;
    }
    if (frameRate) {
        if (request.kind == LiveSourceRequest::Kind::lavfi)
            return Status::error("--framerate does not apply to lavfi sources (the graph sets its rate)");
        if (!(*frameRate >= kMinLiveFrameRate && *frameRate <= kMaxLiveFrameRate))
            return Status::error("--framerate " + rateText(*frameRate) + " is out of range: it is " +
                                 rateText(kMinLiveFrameRate) + " to " + rateText(kMaxLiveFrameRate) +
                                 " frames a second (at least one frame every 10 s, or the lights keep the colour of a "
                                 "picture long gone)");
        request.frameRate = *frameRate;
    }
    return request;
}

}  // namespace

StatusOr<LiveSourceRequest> parseLiveSource(const std::string& text, const std::string& size,
                                            const std::string& inputSize, std::optional<double> frameRate) {
    StatusOr<LiveSourceRequest> request = parseRequest(text, size, inputSize, frameRate);
    if (!request.ok()) return Status::error("live source \"" + text + "\": " + request.status().message());
    return request;
}
