#include "SharedPixels.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

std::optional<PackedPixels> sharePackedPixels(const DecodedFrame& frame) {
    const AVFrame& picture = frame.avFrame();
    if (picture.format != AV_PIX_FMT_BGR0 || picture.width != frame.width() || picture.height != frame.height() ||
        picture.width <= 0 || picture.height <= 0 || picture.linesize[0] <= 0 || picture.linesize[0] % 4 != 0 ||
        picture.data[0] == nullptr)
        return std::nullopt;
    // A new reference to the same buffers (a picture whose buffers are not counted is copied once).
    AVFrame* reference = av_frame_clone(&picture);
    if (reference == nullptr) return std::nullopt;
    std::shared_ptr<AVFrame> owner(reference, [](AVFrame* held) { av_frame_free(&held); });
    const uint8_t* pixels = reference->data[0];
    return PackedPixels{std::shared_ptr<const uint8_t>(std::move(owner), pixels), reference->width, reference->height,
                        static_cast<size_t>(reference->linesize[0])};
}
