// Helpers for the decompression session and Core Image tests: test clips, a session that records
// what its output callback is given, and rendering a pixel buffer to BGRA through CIContext.
// Test-thread only.
#pragma once

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <CoreGraphics/CGDevice.h>
#include <CoreGraphics/CGHandle.h>
#include <CoreImage/CIContext.h>
#include <CoreMedia/CoreMediaDevice.h>
#include <VideoToolbox/VTDecompressionSession.h>
#include <media/TestPattern.h>
#include <media/VideoFileReader.h>

#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"

namespace vt_test {

// Writes the pattern `text` as `dir`/`name` and returns the path.
inline std::string writeClip(const TempDirectory& dir, const std::string& name, const char* text,
                             const ClipSettings& settings) {
    const std::string path = dir.path() + "/" + name;
    auto segments = parseTestPattern(text);
    EXPECT_TRUE(succeeded(segments));
    if (segments.ok()) {
        EXPECT_TRUE(succeeded(writeTestPatternClip(path, *segments, settings)));
    }
    return path;
}

// A clip's format description and its samples in decode order.
struct ClipSamples {
    FormatDescriptionHolder format;
    std::vector<SampleBufferHolder> samples;
};

inline ClipSamples readClip(const std::string& path) {
    ClipSamples clip;
    auto reader = expectValue(VideoFileReader::open(path));
    if (!reader) return clip;
    clip.format = FormatDescriptionHolder::retain(reader->formatDescription());
    while (SampleBufferHolder sample = reader->nextSample()) clip.samples.push_back(std::move(sample));
    EXPECT_TRUE(reader->readStatus().ok()) << reader->readStatus().message();
    return clip;
}

// One call of the output callback; the picture is retained.
struct Output {
    void* sourceFrameRefCon;
    OSStatus status;
    VTDecodeInfoFlags flags;
    CFHolder<CVPixelBufferRef> picture;
    CMTime time;
    CMTime duration;
};

// Owns a session (invalidated, then released, when it goes) and records its callbacks.
class RecordingSession {
public:
    // `onOutput`, when set, runs inside the callback after the output is recorded.
    std::function<void(const Output&)> onOutput;
    std::vector<Output> outputs;

    OSStatus create(CMVideoFormatDescriptionRef format) {
        const VTDecompressionOutputCallbackRecord record{&RecordingSession::callback, this};
        VTDecompressionSessionRef made = nullptr;
        const OSStatus status = VTDecompressionSessionCreate(nullptr, format, nullptr, nullptr, &record, &made);
        session_.reset(made);
        return status;
    }
    VTDecompressionSessionRef get() const { return session_.get(); }
    void release() { session_.reset(); }

    OSStatus decode(CMSampleBufferRef sample, void* refCon = nullptr, VTDecodeFrameFlags flags = 0) {
        VTDecodeInfoFlags info = ~0u;
        const OSStatus status = VTDecompressionSessionDecodeFrame(session_.get(), sample, flags, refCon, &info);
        EXPECT_EQ(info, 0u) << "decoding is synchronous";
        return status;
    }

private:
    struct Closer {
        void operator()(VTDecompressionSessionRef session) const {
            VTDecompressionSessionInvalidate(session);
            CFRelease(session);
        }
    };

    static void callback(void* self, void* refCon, OSStatus status, VTDecodeInfoFlags flags, CVImageBufferRef picture,
                         CMTime time, CMTime duration) {
        auto* recorder = static_cast<RecordingSession*>(self);
        auto kept = CFHolder<CVPixelBufferRef>::retain(picture);
        recorder->outputs.push_back({refCon, status, flags, std::move(kept), time, duration});
        if (recorder->onOutput) recorder->onOutput(recorder->outputs.back());
    }

    std::unique_ptr<OpaqueVTDecompressionSession, Closer> session_;
};

// `rect` of `picture` rendered by a fresh context (y-up coordinates); the whole picture by default.
inline CGHandle<CGImageRef> render(CVPixelBufferRef picture, const CGRect* rect = nullptr) {
    Strong<CIImage> image = CIImage::imageWithCVPixelBuffer(picture);
    Strong<CIContext> context = CIContext::contextWithOptions(nil);
    if (!image || !context) return {};
    return CGHandle<CGImageRef>::adopt(context->createCGImage_fromRect(image, rect ? *rect : image->extent()));
}

struct Colour {
    int red, green, blue;
};

// The colour pattern `text` shows at `time` at `fps` frames a second.
inline Colour colourAt(const char* text, CMTime time, int fps) {
    const int index = static_cast<int>(std::lround(CMTimeGetSeconds(time) * fps));
    const auto segment = patternColourAt(*parseTestPattern(text), index);
    EXPECT_TRUE(segment) << "no frame at " << CMTimeGetSeconds(time) << " s";
    return segment ? Colour{segment->red, segment->green, segment->blue} : Colour{-100, -100, -100};
}

// Whether the pixel at (x, y) (from the top left) of `image` is opaque and within `tolerance` of `colour`.
inline ::testing::AssertionResult pixelIs(CGImageRef image, size_t x, size_t y, Colour colour, int tolerance = 6) {
    if (image == nullptr || x >= CGImageGetWidth(image) || y >= CGImageGetHeight(image))
        return ::testing::AssertionFailure() << "no pixel (" << x << "," << y << ")";
    const uint8_t* p = CGImageGetBGRAData(image) + y * CGImageGetBytesPerRow(image) + 4 * x;
    if (std::abs(p[2] - colour.red) > tolerance || std::abs(p[1] - colour.green) > tolerance ||
        std::abs(p[0] - colour.blue) > tolerance || p[3] != 255)
        return ::testing::AssertionFailure()
               << "pixel (" << x << "," << y << ") is rgba(" << int(p[2]) << "," << int(p[1]) << "," << int(p[0]) << ","
               << int(p[3]) << "), expected rgb(" << colour.red << "," << colour.green << "," << colour.blue << ")";
    return ::testing::AssertionSuccess();
}

// The corners (moved `inset` pixels inwards) and the centre of `image` are `colour`.
inline ::testing::AssertionResult isFilledWith(CGImageRef image, Colour colour, int tolerance = 6, size_t inset = 0) {
    if (image == nullptr) return ::testing::AssertionFailure() << "no image";
    const size_t w = CGImageGetWidth(image), h = CGImageGetHeight(image);
    const size_t l = inset, t = inset, r = w - 1 - inset, b = h - 1 - inset;
    const size_t points[][2] = {{l, t}, {r, t}, {w / 2, h / 2}, {l, b}, {r, b}};
    for (const auto& point : points) {
        auto result = pixelIs(image, point[0], point[1], colour, tolerance);
        if (!result) return result;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vt_test
