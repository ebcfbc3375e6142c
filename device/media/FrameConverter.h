// FrameConverter: turns decoded YUV (or RGB) pictures into packed BGRA with libswscale, using the
// picture's own colour matrix (BT.601, BT.709 or BT.2020, defaulting by size like players do) and
// range (limited 16...235 or full 0...255), optionally scaled to another size (bilinear). Alpha
// comes out premultiplied; opaque video gives alpha 255.
//
// Keeps the libswscale context of the last conversion, so repeated conversions of one stream cost
// no set-up. Not thread-safe: one converter per thread (or per decoder).
#pragma once

#include <cstddef>
#include <cstdint>

#include "BgraImage.h"
#include "DecodedFrame.h"

struct AVFrame;
struct SwsContext;

// An 8-bit 4:2:0 YUV picture in memory owned by someone else (a pixel buffer's planes).
struct YuvImageView {
    enum class Layout { i420, nv12 };  // three planes Y, U, V; or Y and interleaved UV
    enum class Matrix { automatic, bt601, bt709, bt2020 };

    Layout layout = Layout::i420;
    int width = 0;
    int height = 0;
    const uint8_t* planes[3] = {};
    int strides[3] = {};
    bool fullRange = false;
    Matrix matrix = Matrix::automatic;  // automatic: by size, as for untagged video
};

class FrameConverter {
public:
    // precise: exact rounding and bilinear scaling, for pictures people look at. fast: libswscale's
    // SIMD paths (colours within four levels of precise) and fast bilinear scaling, for pictures
    // that are measured rather than seen; several times cheaper at full size. Fast converts packed
    // B,G,R,x pictures (a grabbed screen) without libswscale, scaled nearest neighbour.
    enum class Quality { precise, fast };

    explicit FrameConverter(Quality quality = Quality::precise);
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Converts `frame` to BGRA into `*image` (resized as needed, its allocation reused), at
    // `width` x `height`, or at frame.width() x frame.height() when those are 0. Returns kMediaOK;
    // on failure a MediaStatus (kMediaUnsupported for a pixel format libswscale cannot read,
    // kMediaInvalidArgument for a negative or too large size) and `*image` is left empty.
    int convert(const DecodedFrame& frame, BgraImage* image, int width = 0, int height = 0);
    // The same for a picture held elsewhere.
    int convert(const YuvImageView& view, BgraImage* image, int width = 0, int height = 0);
    // Converts `frame` into caller memory: `width` x `height` BGRA pixels at `pixels`, rows
    // `bytesPerRow` (at least width * 4) apart. Returns kMediaOK or a MediaStatus; on failure the
    // memory's contents are unspecified.
    int convertInto(const AVFrame& frame, uint8_t* pixels, size_t bytesPerRow, int width, int height);

private:
    int convertToImage(const AVFrame& frame, BgraImage* image, int width, int height);

    // What context_ was made for; when it changes, libswscale makes a new context, which has to be
    // told the colour details again.
    struct Setup {
        int sourceWidth, sourceHeight, sourceFormat, width, height, matrix, fullRange;
        bool operator==(const Setup&) const = default;
    };

    const Quality quality_;
    BgraImage scratch_;  // rows for memory too tight for libswscale's whole blocks
    SwsContext* context_ = nullptr;
    Setup setup_{};
};
