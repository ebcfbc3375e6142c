#include "FrameConverter.h"

#include <climits>
#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <pixman.h>

#include "../CoreMedia/CMFormatDescription.h"
#include "../CoreMedia/CoreMediaDevice.h"

#include "FFmpegLogging.h"
#include "MediaStatus.h"
#include "VideoColour.h"

namespace {

void premultiply(uint8_t* pixels, size_t bytesPerRow, int width, int height) {
    for (int y = 0; y < height; ++y) {
        uint8_t* p = pixels + static_cast<size_t>(y) * bytesPerRow;
        for (int x = 0; x < width; ++x, p += 4) {
            const unsigned alpha = p[3];
            if (alpha == 255) continue;
            for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>((p[c] * alpha + 127) / 255);
        }
    }
}

AVColorSpace colourSpaceFor(YuvImageView::Matrix matrix) {
    switch (matrix) {
        case YuvImageView::Matrix::bt601:
            return AVCOL_SPC_SMPTE170M;
        case YuvImageView::Matrix::bt709:
            return AVCOL_SPC_BT709;
        case YuvImageView::Matrix::bt2020:
            return AVCOL_SPC_BT2020_NCL;
        default:
            return AVCOL_SPC_UNSPECIFIED;
    }
}

// Packed B,G,R,x pictures (a screen as x11grab reads it) need no colour conversion: pixman scales
// them straight into opaque BGRA, nearest neighbour, several times faster than libswscale, which
// would take them through YUV and back.
int scaleOpaqueBgrx(const AVFrame& frame, uint8_t* pixels, size_t bytesPerRow, int width, int height) {
    if (frame.linesize[0] <= 0 || frame.linesize[0] % 4 != 0 || bytesPerRow % 4 != 0) return kMediaUnsupported;
    pixman_image_t* source = pixman_image_create_bits(PIXMAN_x8r8g8b8, frame.width, frame.height,
                                                      reinterpret_cast<uint32_t*>(frame.data[0]), frame.linesize[0]);
    pixman_image_t* target = pixman_image_create_bits(
        PIXMAN_a8r8g8b8, width, height, reinterpret_cast<uint32_t*>(pixels), static_cast<int>(bytesPerRow));
    int status = kMediaOutOfMemory;
    if (source && target) {
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(static_cast<double>(frame.width) / width),
                                    pixman_double_to_fixed(static_cast<double>(frame.height) / height));
        pixman_image_set_transform(source, &scale);
        pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
        pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, 0, 0, 0, 0, 0, 0, width, height);
        status = kMediaOK;
    }
    if (source) pixman_image_unref(source);
    if (target) pixman_image_unref(target);
    return status;
}

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

}  // namespace

FrameConverter::FrameConverter(Quality quality) : quality_(quality) { setUpFFmpegLogging(); }

FrameConverter::~FrameConverter() { sws_freeContext(context_); }

int FrameConverter::convert(const DecodedFrame& frame, BgraImage* image, int width, int height) {
    if (width < 0 || height < 0) {
        *image = BgraImage();
        return kMediaInvalidArgument;
    }
    return convertToImage(frame.avFrame(), image, width > 0 ? width : frame.width(),
                          height > 0 ? height : frame.height());
}

int FrameConverter::convert(const YuvImageView& view, BgraImage* image, int width, int height) {
    if (width < 0 || height < 0) {
        *image = BgraImage();
        return kMediaInvalidArgument;
    }
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!frame) {
        *image = BgraImage();
        return kMediaOutOfMemory;
    }
    // The frame only points at the caller's planes; it owns no buffers.
    frame->format = view.layout == YuvImageView::Layout::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    frame->width = view.width;
    frame->height = view.height;
    const int planeCount = view.layout == YuvImageView::Layout::nv12 ? 2 : 3;
    for (int i = 0; i < planeCount; ++i) {
        if (!view.planes[i] || view.strides[i] <= 0) {
            *image = BgraImage();
            return kMediaInvalidArgument;
        }
        frame->data[i] = const_cast<uint8_t*>(view.planes[i]);
        frame->linesize[i] = view.strides[i];
    }
    frame->color_range = view.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    frame->colorspace = colourSpaceFor(view.matrix);
    return convertToImage(*frame, image, width > 0 ? width : view.width, height > 0 ? height : view.height);
}

int FrameConverter::convertToImage(const AVFrame& frame, BgraImage* image, int width, int height) {
    if (width <= 0 || height <= 0 || width > kCMVideoFormatDescriptionMaxDimension ||
        height > kCMVideoFormatDescriptionMaxDimension) {
        *image = BgraImage();
        return kMediaInvalidArgument;
    }
    image->resize(width, height);
    const int status = convertInto(frame, image->pixels.data(), image->bytesPerRow, width, height);
    if (status != kMediaOK) *image = BgraImage();
    return status;
}

int FrameConverter::convertInto(const AVFrame& frame, uint8_t* pixels, size_t bytesPerRow, int width, int height) {
    if (!pixels || width <= 0 || height <= 0 || bytesPerRow < static_cast<size_t>(width) * 4 ||
        bytesPerRow > static_cast<size_t>(INT_MAX) || frame.width <= 0 || frame.height <= 0)
        return kMediaInvalidArgument;
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL) || !sws_isSupportedInput(format))
        return kMediaUnsupported;

    if (quality_ == Quality::fast && format == AV_PIX_FMT_BGR0)
        return scaleOpaqueBgrx(frame, pixels, bytesPerRow, width, height);

    const bool yuv = !(descriptor->flags & AV_PIX_FMT_FLAG_RGB);
    const Setup setup{frame.width,
                      frame.height,
                      frame.format,
                      width,
                      height,
                      yuv ? swsColourMatrix(frame.colorspace, frame.width, frame.height) : -1,
                      yuv ? (isFullRange(frame.color_range, format) ? 1 : 0) : -1};
    if (!context_ || setup != setup_) {
        sws_freeContext(context_);
        const int flags = quality_ == Quality::fast ? SWS_FAST_BILINEAR : SWS_BILINEAR | SWS_ACCURATE_RND;
        context_ = sws_getContext(frame.width, frame.height, format, width, height, AV_PIX_FMT_BGRA, flags, nullptr,
                                  nullptr, nullptr);
        if (!context_) return kMediaUnsupported;
        if (yuv) {
            // Brightness 0, contrast and saturation 1.0 (16.16 fixed point); BGRA is full range.
            sws_setColorspaceDetails(context_, sws_getCoefficients(setup.matrix), setup.fullRange,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        }
        setup_ = setup;
    }

    // libswscale's SIMD converters write whole blocks of 16 pixels, so a row whose width is not a
    // multiple of 16 gets up to 15 pixels more. Rows with room for them take them; tighter memory
    // gets its rows through the padded scratch picture instead, or the last row would overrun it.
    const size_t paddedRowBytes = (static_cast<size_t>(width) + 15) / 16 * 64;
    const bool tight = bytesPerRow < paddedRowBytes;
    if (tight) scratch_.resize(width, height);  // BgraImage rows are multiples of 64 bytes
    uint8_t* destination[4] = {tight ? scratch_.pixels.data() : pixels, nullptr, nullptr, nullptr};
    const int destinationStride[4] = {static_cast<int>(tight ? scratch_.bytesPerRow : bytesPerRow), 0, 0, 0};
    const int lines = sws_scale(context_, frame.data, frame.linesize, 0, frame.height, destination, destinationStride);
    if (lines <= 0) return kMediaInternal;
    if (tight) {
        for (int row = 0; row < height; ++row)
            std::memcpy(pixels + static_cast<size_t>(row) * bytesPerRow,
                        scratch_.pixels.data() + static_cast<size_t>(row) * scratch_.bytesPerRow,
                        static_cast<size_t>(width) * 4);
    }
    if (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) premultiply(pixels, bytesPerRow, width, height);
    return kMediaOK;
}
