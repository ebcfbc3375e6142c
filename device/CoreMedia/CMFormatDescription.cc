#include "CMFormatDescription.h"
#include "CoreMediaDevice.h"

#include <new>
#include <vector>

#include "../CoreFoundation/CFRuntime.h"

struct opaqueCMFormatDescription : CFRuntimeBase {
    CMVideoCodecType codecType = 0;
    CMVideoDimensions dimensions{};
    std::vector<uint8_t> extradata;
};

CMMediaType CMFormatDescriptionGetMediaType(CMFormatDescriptionRef desc) {
    return desc ? CMMediaType{kCMMediaType_Video} : 0;
}

FourCharCode CMFormatDescriptionGetMediaSubType(CMFormatDescriptionRef desc) { return desc ? desc->codecType : 0; }

CMVideoDimensions CMVideoFormatDescriptionGetDimensions(CMVideoFormatDescriptionRef videoDesc) {
    return videoDesc ? videoDesc->dimensions : CMVideoDimensions{0, 0};
}

Boolean CMFormatDescriptionEqual(CMFormatDescriptionRef desc1, CMFormatDescriptionRef desc2) {
    if (desc1 == desc2) return true;
    if (!desc1 || !desc2) return false;
    return desc1->codecType == desc2->codecType && desc1->dimensions.width == desc2->dimensions.width &&
           desc1->dimensions.height == desc2->dimensions.height && desc1->extradata == desc2->extradata;
}

OSStatus CMVideoFormatDescriptionCreateWithExtradata(CFAllocatorRef, CMVideoCodecType codecType, int32_t width,
                                                     int32_t height, const uint8_t* extradata, size_t extradataSize,
                                                     CMVideoFormatDescriptionRef* formatDescriptionOut) {
    if (!formatDescriptionOut) return kCMFormatDescriptionError_InvalidParameter;
    *formatDescriptionOut = nullptr;
    auto validDimension = [](int32_t d) { return d > 0 && d <= kCMVideoFormatDescriptionMaxDimension; };
    if (codecType == 0 || !validDimension(width) || !validDimension(height) ||
        extradataSize > kCMVideoFormatDescriptionMaxExtradata || (!extradata && extradataSize > 0))
        return kCMFormatDescriptionError_InvalidParameter;
    try {
        auto* desc = new opaqueCMFormatDescription;
        desc->codecType = codecType;
        desc->dimensions = {width, height};
        if (extradataSize > 0) desc->extradata.assign(extradata, extradata + extradataSize);
        *formatDescriptionOut = desc;
        return noErr;
    } catch (const std::bad_alloc&) {
        return kCMFormatDescriptionError_AllocationFailed;
    }
}

const uint8_t* CMVideoFormatDescriptionGetExtradata(CMVideoFormatDescriptionRef videoDesc, size_t* sizeOut) {
    const bool has = videoDesc && !videoDesc->extradata.empty();
    if (sizeOut) *sizeOut = has ? videoDesc->extradata.size() : 0;
    return has ? videoDesc->extradata.data() : nullptr;
}
