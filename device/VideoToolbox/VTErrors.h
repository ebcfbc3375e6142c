// VideoToolbox's status codes (Apple's values), as its functions return them and as decompression
// sessions pass them to their output callbacks.
#pragma once

#include "../CoreFoundation/CFBase.h"

enum : OSStatus {
    kVTPropertyNotSupportedErr = -12900,
    kVTPropertyReadOnlyErr = -12901,
    kVTParameterErr = -12902,
    kVTInvalidSessionErr = -12903,
    kVTAllocationFailedErr = -12904,
    kVTPixelTransferNotSupportedErr = -12905,
    kVTCouldNotFindVideoDecoderErr = -12906,
    kVTCouldNotCreateInstanceErr = -12907,
    kVTVideoDecoderBadDataErr = -12909,
    kVTVideoDecoderUnsupportedDataFormatErr = -12910,
    kVTVideoDecoderMalfunctionErr = -12911,
    kVTVideoDecoderNotAvailableNowErr = -12913,
    kVTFormatDescriptionChangeNotSupportedErr = -12916,
};
