// Device-internal: how the media code makes pixel buffers from libavcodec's pictures and reads them
// back. Only .cc files of the device include this (it names FFmpeg's AVFrame).
#pragma once

#include "CVPixelBuffer.h"

struct AVFrame;

// A pixel buffer sharing `frame`'s planes (a new reference to its buffers, no copy), shown at
// `width` x `height`. The caller owns the result; nullptr when memory runs out or `frame` holds no
// picture.
CVPixelBufferRef CVPixelBufferCreateWithAVFrame(const AVFrame& frame, int width, int height);
// The picture, lent for as long as the pixel buffer lives; nullptr for nullptr.
const AVFrame* CVPixelBufferGetAVFrame(CVPixelBufferRef pixelBuffer);
