#include "SampleBufferCapture.h"

namespace sampleBufferCapture {

IMP previousEnqueueSampleBuffer = nullptr;

void enqueueSampleBuffer(id self, SEL _cmd, CMSampleBufferRef sampleBuffer) {
    reinterpret_cast<void (*)(id, SEL, CMSampleBufferRef)>(previousEnqueueSampleBuffer)(self, _cmd, sampleBuffer);
}

}  // namespace sampleBufferCapture
