#include "VideoColour.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

bool isHd(int width, int height) { return width >= 1280 || height > 576; }

}  // namespace

int swsColourMatrix(AVColorSpace space, int width, int height) {
    switch (space) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return isHd(width, height) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

AVColorSpace defaultColourSpace(int width, int height) {
    return isHd(width, height) ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

bool isFullRange(AVColorRange range, AVPixelFormat format) {
    if (range == AVCOL_RANGE_JPEG) return true;
    if (range == AVCOL_RANGE_MPEG) return false;
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            return true;
        default:
            return false;
    }
}
