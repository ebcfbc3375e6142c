// Test patterns: clips of solid colours in sequence with known frame counts, written with
// ClipWriter, so tests and the demo know exactly which colour each frame should decode to.
//
// A pattern is written as text: comma-separated segments "COLOUR" or "COLOUR*FRAMES" (1 frame
// when no count is given), where COLOUR is a name (black, white, grey, red, green, blue, yellow,
// cyan, magenta, orange) or "#rrggbb". Example: "red*5,blue*5". The functions keep no state and may
// be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../base/StatusOr.h"
#include "ClipWriter.h"

struct PatternSegment {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    int frames = 1;
};

// The segments of `text`; an error naming the bad segment when the text is not a pattern (unknown
// colour, a count outside 1 ... 100000, or no segment at all).
device::StatusOr<std::vector<PatternSegment>> parseTestPattern(std::string_view text);
// The colour of frame `index` (in presentation order) of `pattern`; nullopt past its end.
std::optional<PatternSegment> patternColourAt(const std::vector<PatternSegment>& pattern, int index);
// The number of frames in `pattern`.
int patternFrameCount(const std::vector<PatternSegment>& pattern);
// Writes `pattern` to `path` as a clip with `settings`, or says why not.
device::Status writeTestPatternClip(const std::string& path, const std::vector<PatternSegment>& pattern,
                                    const ClipSettings& settings);
