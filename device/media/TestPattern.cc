#include "TestPattern.h"

#include <charconv>

namespace {

struct NamedColour {
    std::string_view name;
    uint8_t red, green, blue;
};

constexpr NamedColour kColours[] = {
    {"black", 0, 0, 0},       {"white", 255, 255, 255}, {"grey", 128, 128, 128}, {"red", 255, 0, 0},
    {"green", 0, 255, 0},     {"blue", 0, 0, 255},      {"yellow", 255, 255, 0}, {"cyan", 0, 255, 255},
    {"magenta", 255, 0, 255}, {"orange", 255, 128, 0},
};

constexpr int kMaxSegmentFrames = 100000;

bool parseHexColour(std::string_view text, PatternSegment* segment) {
    if (text.size() != 7 || text[0] != '#') return false;
    uint8_t channels[3];
    for (int i = 0; i < 3; ++i) {
        const char* begin = text.data() + 1 + 2 * i;
        auto [end, ec] = std::from_chars(begin, begin + 2, channels[i], 16);
        if (ec != std::errc() || end != begin + 2) return false;
    }
    segment->red = channels[0];
    segment->green = channels[1];
    segment->blue = channels[2];
    return true;
}

bool parseColour(std::string_view text, PatternSegment* segment) {
    for (const NamedColour& colour : kColours) {
        if (text == colour.name) {
            segment->red = colour.red;
            segment->green = colour.green;
            segment->blue = colour.blue;
            return true;
        }
    }
    return parseHexColour(text, segment);
}

}  // namespace

device::StatusOr<std::vector<PatternSegment>> parseTestPattern(std::string_view text) {
    std::vector<PatternSegment> pattern;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);

        PatternSegment segment;
        const size_t star = item.find('*');
        const std::string_view colour = item.substr(0, star);
        if (star != std::string_view::npos) {
            const std::string_view count = item.substr(star + 1);
            auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), segment.frames);
            if (ec != std::errc() || end != count.data() + count.size() || segment.frames < 1 ||
                segment.frames > kMaxSegmentFrames) {
                return device::Status::error("bad frame count in pattern segment \"" + std::string(item) + "\"");
            }
        }
        if (!parseColour(colour, &segment)) {
            return device::Status::error("unknown colour in pattern segment \"" + std::string(item) + "\"");
        }
        pattern.push_back(segment);
    }
    if (pattern.empty()) return device::Status::error("empty pattern");
    return pattern;
}

std::optional<PatternSegment> patternColourAt(const std::vector<PatternSegment>& pattern, int index) {
    if (index < 0) return std::nullopt;
    for (const PatternSegment& segment : pattern) {
        if (index < segment.frames) return segment;
        index -= segment.frames;
    }
    return std::nullopt;
}

int patternFrameCount(const std::vector<PatternSegment>& pattern) {
    int count = 0;
    for (const PatternSegment& segment : pattern) count += segment.frames;
    return count;
}

device::Status writeTestPatternClip(const std::string& path, const std::vector<PatternSegment>& pattern,
                                    const ClipSettings& settings) {
    return writeClip(path, settings, patternFrameCount(pattern), [&](int index, BgraImage& frame) {
        std::optional<PatternSegment> colour = patternColourAt(pattern, index);
        frame.fill(colour->red, colour->green, colour->blue);
    });
}
