// Sample-buffer capture: the hook on AVSampleBufferDisplayLayer's `enqueueSampleBuffer:`.
#pragma once

#include <CoreMedia/CMSampleBuffer.h>
#include <objc/runtime.h>

namespace sampleBufferCapture {

extern IMP previousEnqueueSampleBuffer;

void enqueueSampleBuffer(id self, SEL _cmd, CMSampleBufferRef sampleBuffer);

}  // namespace sampleBufferCapture
