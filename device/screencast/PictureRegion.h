// PictureRegion: where in a shared-memory buffer of a PipeWire video stream the picture to read
// lies, from what the producer said about the buffer (its chunk's offset and stride, the buffer's
// size) and the crop it asked for. The producer is another process: nothing it says is trusted,
// and a region is given only when every byte of it lies inside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// A rectangle the producer named (its video crop metadata); width or height 0: none.
struct CropRectangle {
    int64_t x = 0, y = 0;
    int64_t width = 0, height = 0;
};

struct PictureRegion {
    size_t offset = 0;  // of the region's first pixel from the start of the buffer
    size_t stride = 0;  // bytes from one row to the next
    int width = 0;
    int height = 0;
};

// The region of a `width` x `height` picture of 4-byte pixels at `chunkOffset` in a buffer of
// `bufferSize` bytes, rows `chunkStride` bytes apart (0: packed), cut to `crop` where it names a
// rectangle (clipped to the picture). nullopt when the picture does not fit in the buffer, a
// stride is negative or shorter than a row, or nothing is left to read.
std::optional<PictureRegion> pictureRegion(int width, int height, uint32_t chunkOffset, int32_t chunkStride,
                                           uint32_t bufferSize, const CropRectangle& crop);
