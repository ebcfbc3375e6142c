#include "CVPixelBuffer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <new>

#include "../CoreFoundation/CFRuntime.h"

#include "CVPixelBufferFrame.h"

struct __CVBuffer : CFRuntimeBase {
    ~__CVBuffer() override { av_frame_free(&frame); }

    AVFrame* frame = nullptr;
    int width = 0;
    int height = 0;
};

CVPixelBufferRef CVPixelBufferCreateWithAVFrame(const AVFrame& frame, int width, int height) {
    if (frame.buf[0] == nullptr || width <= 0 || height <= 0) return nullptr;
    auto* buffer = new (std::nothrow) __CVBuffer;
    if (!buffer) return nullptr;
    buffer->frame = av_frame_clone(&frame);
    if (!buffer->frame) {
        delete buffer;
        return nullptr;
    }
    buffer->width = width;
    buffer->height = height;
    return buffer;
}

const AVFrame* CVPixelBufferGetAVFrame(CVPixelBufferRef pixelBuffer) {
    return pixelBuffer ? pixelBuffer->frame : nullptr;
}

size_t CVPixelBufferGetWidth(CVPixelBufferRef pixelBuffer) { return pixelBuffer ? pixelBuffer->width : 0; }
size_t CVPixelBufferGetHeight(CVPixelBufferRef pixelBuffer) { return pixelBuffer ? pixelBuffer->height : 0; }

OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef pixelBuffer) {
    if (!pixelBuffer) return 0;
    const bool full = pixelBuffer->frame->color_range == AVCOL_RANGE_JPEG;
    switch (pixelBuffer->frame->format) {
        case AV_PIX_FMT_YUV420P:
            return full ? kCVPixelFormatType_420YpCbCr8PlanarFullRange : kCVPixelFormatType_420YpCbCr8Planar;
        case AV_PIX_FMT_YUVJ420P:
            return kCVPixelFormatType_420YpCbCr8PlanarFullRange;
        case AV_PIX_FMT_NV12:
            return full ? kCVPixelFormatType_420YpCbCr8BiPlanarFullRange
                        : kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange;
        case AV_PIX_FMT_P010LE:
            return kCVPixelFormatType_420YpCbCr10BiPlanarVideoRange;
        case AV_PIX_FMT_YUYV422:
            return kCVPixelFormatType_422YpCbCr8_yuvs;
        case AV_PIX_FMT_BGRA:
            return kCVPixelFormatType_32BGRA;
        default:
            return 0;
    }
}

CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef pixelBuffer) {
    CFRetain(pixelBuffer);
    return pixelBuffer;
}

void CVPixelBufferRelease(CVPixelBufferRef pixelBuffer) { CFRelease(pixelBuffer); }
