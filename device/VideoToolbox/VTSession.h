// VTSession: the properties every VideoToolbox session has. On this device the only session is
// the decompression session, with one property.
#pragma once

#include "../CoreFoundation/CFBoolean.h"
#include "../CoreFoundation/CFString.h"

#include "VTErrors.h"

typedef CFTypeRef VTSessionRef;

// Asks the decoder for smaller pictures. iOS takes a dictionary of the wanted width and height;
// this device takes kCFBooleanTrue (half the width and height, rounded up) or kCFBooleanFalse
// (full size). Codecs that can decode small themselves (MPEG-4 part 2, MPEG-1/2, JPEG) do so; for
// the others the session decodes at full size without deblocking and the picture is scaled down
// as it is rendered. A change takes effect at once on a session that has decoded nothing yet,
// otherwise from the next keyframe.
extern const CFStringRef kVTDecompressionPropertyKey_ReducedResolutionDecode;

// Sets `propertyKey` of `session` to `propertyValue`. Returns noErr; kVTParameterErr for a null
// session or key or a value of the wrong type; kVTPropertyNotSupportedErr for another key;
// kVTInvalidSessionErr once the session has been invalidated. Any thread.
OSStatus VTSessionSetProperty(VTSessionRef session, CFStringRef propertyKey, CFTypeRef propertyValue);
// Stores the current value of `propertyKey` (a reference the caller owns) through
// `propertyValueOut`. Returns noErr, or the errors of VTSessionSetProperty (and kVTParameterErr for
// a null out-pointer), leaving `*propertyValueOut` null. Any thread.
OSStatus VTSessionCopyProperty(VTSessionRef session, CFStringRef propertyKey, CFAllocatorRef allocator,
                               void* propertyValueOut);
