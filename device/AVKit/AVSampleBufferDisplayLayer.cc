#include "AVSampleBufferDisplayLayer.h"

#include <CoreGraphics/CoreGraphics.h>
#include <UIKit/UIView.h>

#include "media/BgraImage.h"
#include "media/FrameConverter.h"
#include "media/MediaStatus.h"
#include "media/PacketDecoder.h"

// The layer's own decoder and the converter that makes its pictures.
class DisplayLayerDecoder {
public:
    std::unique_ptr<PacketDecoder> decoder;
    FrameConverter converter;
    BgraImage picture;
};

namespace {
void enqueueMethod(id self, SEL, CMSampleBufferRef sample) {
    static_cast<AVSampleBufferDisplayLayer*>(self)->enqueueSampleBuffer(sample);
}
}  // namespace

AVSampleBufferDisplayLayer::AVSampleBufferDisplayLayer() : decoder_(std::make_unique<DisplayLayerDecoder>()) {}
AVSampleBufferDisplayLayer::~AVSampleBufferDisplayLayer() = default;

Class AVSampleBufferDisplayLayer::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<AVSampleBufferDisplayLayer>("AVSampleBufferDisplayLayer", CALayer::objcClass());
        class_addMethod(c, sel_registerName("enqueueSampleBuffer:"), reinterpret_cast<IMP>(enqueueMethod),
                        "v24@0:8^{opaqueCMSampleBuffer=}16");
        return c;
    }();
    return cls;
}

void AVSampleBufferDisplayLayer::setDisplayView(UIView* view, int pixelWidth, int pixelHeight) {
    std::lock_guard hold(lock_);
    displayView_ = view;
    pixelWidth_ = pixelWidth;
    pixelHeight_ = pixelHeight;
}

void AVSampleBufferDisplayLayer::enqueueSampleBuffer(CMSampleBufferRef sample) {
    enqueued_.fetch_add(1);
    if (sample == nullptr) return;
    std::lock_guard hold(lock_);
    CMFormatDescriptionRef format = CMSampleBufferGetFormatDescription(sample);
    if (!decoder_->decoder || !decoder_->decoder->canAccept(format)) {
        decoder_->decoder = PacketDecoder::create(format);
        if (!decoder_->decoder) {
            failed_.fetch_add(1);
            return;
        }
    }
    int status = decoder_->decoder->decode(sample, [this](const DecodedFrame& frame) { convertAndShow(frame); });
    if (status != kMediaOK) failed_.fetch_add(1);
}

void AVSampleBufferDisplayLayer::flushDecoder() {
    std::lock_guard hold(lock_);
    if (!decoder_->decoder) return;
    decoder_->decoder->drain([this](const DecodedFrame& frame) { convertAndShow(frame); });
}

void AVSampleBufferDisplayLayer::convertAndShow(const DecodedFrame& frame) {
    if (decoder_->converter.convert(frame, &decoder_->picture, pixelWidth_, pixelHeight_) == kMediaOK)
        show(decoder_->picture);
}

void AVSampleBufferDisplayLayer::show(const BgraImage& picture) {
    shown_.fetch_add(1);
    if (displayView_ == nullptr) return;
    CGImageRef image = CGImageCreateWithBGRAData(picture.width, picture.height, picture.bytesPerRow,
                                                 picture.pixels.data(), true);
    displayView_->setContents(image);
    CGImageRelease(image);
}
