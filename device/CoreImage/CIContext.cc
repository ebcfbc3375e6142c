#include "CIContext.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include "../CoreVideo/CVPixelBufferFrame.h"

#include "../CoreGraphics/CGDevice.h"
#include "../CoreGraphics/CGTypeEncoding.h"
#include "../media/BgraImage.h"
#include "../media/FrameConverter.h"
#include "../media/MediaStatus.h"

namespace {

id CIContext_contextWithOptions(NSDictionary* options) { return CIContext::contextWithOptions(options).detach(); }

// Each thread keeps its converter: libswscale's set-up for a size costs more than a small frame.
FrameConverter& threadConverter() {
    thread_local FrameConverter converter(FrameConverter::Quality::fast);
    return converter;
}

bool hasAlpha(const AVFrame& frame) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA);
}

}  // namespace

Class CIContext::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<CIContext>("CIContext", NSObject::objcClass());
        objc_addClassMethod<&CIContext_contextWithOptions>(c, "contextWithOptions:");
        objc_addInstanceMethod<&CIContext::createCGImage_fromRect>(c, "createCGImage:fromRect:");
        return c;
    }();
    return cls;
}

Strong<CIContext> CIContext::contextWithOptions(NSDictionary*) { return makeObject<CIContext>(); }

CGImageRef CIContext::createCGImage_fromRect(CIImage* image, CGRect rect) const {
    if (image == nil) return nullptr;
    const AVFrame* frame = CVPixelBufferGetAVFrame(image->pixelBuffer());
    const int width = static_cast<int>(CVPixelBufferGetWidth(image->pixelBuffer()));
    const int height = static_cast<int>(CVPixelBufferGetHeight(image->pixelBuffer()));
    if (frame == nullptr || width <= 0 || height <= 0) return nullptr;

    // Whole pixels inside the extent, in the image's y-up coordinates.
    rect = CGRectStandardize(rect);
    if (!std::isfinite(rect.origin.x) || !std::isfinite(rect.origin.y) || !std::isfinite(rect.size.width) ||
        !std::isfinite(rect.size.height))
        return nullptr;
    const double left = std::max(0.0, std::floor(rect.origin.x));
    const double bottom = std::max(0.0, std::floor(rect.origin.y));
    const double right = std::min<double>(width, std::ceil(rect.origin.x + rect.size.width));
    const double top = std::min<double>(height, std::ceil(rect.origin.y + rect.size.height));
    if (left >= right || bottom >= top) return nullptr;
    const int x0 = static_cast<int>(left), columns = static_cast<int>(right - left);
    const int y0 = height - static_cast<int>(top), rows = static_cast<int>(top - bottom);  // from the top

    const bool opaque = !hasAlpha(*frame);
    FrameConverter& converter = threadConverter();
    if (columns == width && rows == height) {
        return CGImageCreateWithPixelWriter(width, height, opaque, [&](uint8_t* pixels, size_t bytesPerRow) {
            return converter.convertInto(*frame, pixels, bytesPerRow, width, height) == kMediaOK;
        });
    }
    // A part: render the whole picture, then keep the part.
    BgraImage whole;
    whole.resize(width, height);
    if (converter.convertInto(*frame, whole.pixels.data(), whole.bytesPerRow, width, height) != kMediaOK)
        return nullptr;
    return CGImageCreateWithBGRAData(columns, rows, whole.bytesPerRow,
                                     whole.pixels.data() + static_cast<size_t>(y0) * whole.bytesPerRow + 4 * x0,
                                     opaque);
}
