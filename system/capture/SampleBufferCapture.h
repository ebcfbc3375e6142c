// Sample-buffer capture: the hook on AVSampleBufferDisplayLayer's `enqueueSampleBuffer:` and the
// output callback of the process's one decompression session.
//
// Every sample a video app hands to any display layer still reaches the layer first. While
// "Active" is on and `readyForUpdates` is YES the sample also goes to the session: the first
// sample of a format only prepares a session (a replacement session asks for reduced-resolution
// pictures), later ones are decoded, and each decoded picture's colour is sent to the colour
// server with the acknowledged send.
//
// Threads: the hook runs on whatever thread the app enqueues on; samples enqueued on several
// threads at once take turns. The callback runs on the hook's thread (decoding is synchronous).
#pragma once

#include <CoreMedia/CMSampleBuffer.h>
#include <VideoToolbox/VTDecompressionSession.h>
#include <objc/runtime.h>

#include "globals/Globals.h"

namespace sampleBufferCapture {

// What the hook replaced; set when the hook is installed.
extern IMP previousEnqueueSampleBuffer;

void enqueueSampleBuffer(id self, SEL _cmd, CMSampleBufferRef sampleBuffer);

// The session the hook decodes with now, lent; nullptr before the first sample. For tests.
VTDecompressionSessionRef currentDecompressionSession();
// Invalidates and lets go of the session, so that the next sample prepares a new one as at start-up.
// For tests.
void discardDecompressionSession();

}  // namespace sampleBufferCapture

// The session's output callback. A non-zero status logs "[Glim] VideoToolboxDecoder callback error
// %d" and sets `readyForUpdates` to YES; a picture is rendered, reduced to one colour and sent.
GLIMMORA_EXPORT void videoDecompressionOutputCallback(void* decompressionOutputRefCon, void* sourceFrameRefCon,
                                                      OSStatus status, VTDecodeInfoFlags infoFlags,
                                                      CVImageBufferRef imageBuffer, CMTime presentationTimeStamp,
                                                      CMTime presentationDuration);
