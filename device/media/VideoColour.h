// Private to media/: which YUV matrix and range a picture uses, decided in one place so that the
// encoder of test clips and the converter of decoded pictures agree.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

// The libswscale matrix (SWS_CS_*) for `space`; an unspecified space defaults by size as players
// do: BT.709 for HD (at least 1280 wide or more than 576 lines), BT.601 below.
int swsColourMatrix(AVColorSpace space, int width, int height);
// The colour space a clip of this size is tagged with when written (and so decoded with).
AVColorSpace defaultColourSpace(int width, int height);
// Whether samples span 0...255 (JPEG range) rather than 16...235: the frame says so, or its pixel
// format is one of the full-range "yuvj" formats.
bool isFullRange(AVColorRange range, AVPixelFormat format);
