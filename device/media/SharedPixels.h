// Sharing a decoded picture's packed B,G,R,x pixels (a grabbed screen) rather than copying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "DecodedFrame.h"

struct PackedPixels {
    std::shared_ptr<const uint8_t> pixels;  // holds a reference to the frame's buffers
    int width = 0;
    int height = 0;
    size_t bytesPerRow = 0;  // a positive multiple of 4
};

// The pixels of `frame` when it is packed B,G,R,x (the fourth byte unused) shown at its decoded
// size, held by a reference of their own to the frame's buffers, which therefore live as long as
// `pixels` is held; nullopt for any other picture (it has to be converted) or when memory runs out.
std::optional<PackedPixels> sharePackedPixels(const DecodedFrame& frame);
