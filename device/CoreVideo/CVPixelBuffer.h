// CVPixelBuffer: one decoded picture, as a decompression session hands it to its output callback
// (CVImageBufferRef). Reference counted with CFRetain/CFRelease (or CVPixelBufferRetain/Release);
// its pixels never change, so it may be shared between threads.
//
// On this device a pixel buffer holds the decoder's picture without copying it. Its width and
// height are the size it is to be shown at, which is smaller than the decoded planes when a
// reduced-resolution session leaves part of the reduction to the renderer (CIContext scales it).
#pragma once

#include <cstddef>

#include "../CoreFoundation/CFBase.h"

typedef struct __CVBuffer* CVBufferRef;
typedef CVBufferRef CVImageBufferRef;
typedef CVImageBufferRef CVPixelBufferRef;
typedef int32_t CVReturn;
typedef FourCharCode OSType;

enum : CVReturn {
    kCVReturnSuccess = 0,
    kCVReturnInvalidArgument = -6661,
    kCVReturnAllocationFailed = -6662,
};

// Apple's pixel format codes for the layouts decoders give out.
enum : OSType {
    kCVPixelFormatType_420YpCbCr8Planar = fourCharCode("y420"),
    kCVPixelFormatType_420YpCbCr8PlanarFullRange = fourCharCode("f420"),
    kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange = fourCharCode("420v"),
    kCVPixelFormatType_420YpCbCr8BiPlanarFullRange = fourCharCode("420f"),
    kCVPixelFormatType_420YpCbCr10BiPlanarVideoRange = fourCharCode("x420"),
    kCVPixelFormatType_422YpCbCr8_yuvs = fourCharCode("yuvs"),
    kCVPixelFormatType_32BGRA = fourCharCode("BGRA"),
};

// The size in pixels at which the picture is shown; 0 for nullptr.
size_t CVPixelBufferGetWidth(CVPixelBufferRef pixelBuffer);
size_t CVPixelBufferGetHeight(CVPixelBufferRef pixelBuffer);
// The layout of the decoded planes (one of the codes above); 0 for nullptr or a layout with no
// CoreVideo code (the renderer can still draw it).
OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef pixelBuffer);

// CFRetain/CFRelease under CoreVideo's names; both accept nullptr.
CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef pixelBuffer);
void CVPixelBufferRelease(CVPixelBufferRef pixelBuffer);
