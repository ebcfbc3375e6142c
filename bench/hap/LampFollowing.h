// What the real-lamp benchmarks share: a clip whose colour changes every frame, so that every
// frame is a write, and waiting for the test accessory to log a change.
#pragma once

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <media/ClipWriter.h>
#include <media/TestPattern.h>

#include "support/Subprocess.h"

// Writes `seconds` of 30 fps video of `width`x`height` to `path`, each frame another colour.
inline device::Status writeChangingClip(const std::string& path, int seconds, int width = 320, int height = 180) {
    std::string pattern;
    const char* colours[] = {"red", "green", "blue", "yellow", "cyan", "magenta", "orange", "white"};
    for (int i = 0; i < 30 * seconds; ++i) pattern += std::string(i ? "," : "") + colours[i % 8];
    auto segments = parseTestPattern(pattern);
    ClipSettings settings{.codec = ClipCodec::mpeg4, .width = width, .height = height, .fps = 30, .gop = 30};
    return segments.ok() ? writeTestPatternClip(path, *segments, settings) : segments.status();
}

inline size_t fileSize(const std::string& path) {
    std::ifstream file(path, std::ios::ate | std::ios::binary);
    return file ? static_cast<size_t>(file.tellg()) : 0;
}

// Waits at most `limit` for the file at `path` (a lamp's log) to grow past `before` bytes.
inline bool waitForGrowth(const std::string& path, size_t before, std::chrono::seconds limit) {
    return BackgroundProcess::waitFor(
        [&] {
            if (fileSize(path) > before) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return false;
        },
        limit);
}
