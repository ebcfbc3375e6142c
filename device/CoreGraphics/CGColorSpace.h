// CGColorSpaceRef: a colour space. The device has one, device RGB, which is what every bitmap and
// colour on it uses.
//
// A colour space is immutable and may be shared between threads. Its reference count is atomic:
// CGColorSpaceRetain and CGColorSpaceRelease may be called from any thread.
#pragma once

typedef struct CGColorSpace* CGColorSpaceRef;

// A new reference to the device RGB space; the caller owns it (release with CGColorSpaceRelease).
// Never nullptr.
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
// Takes a reference and returns `space`; nullptr is ignored and given back.
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
// Drops a reference; the last one frees the space. nullptr is ignored.
void CGColorSpaceRelease(CGColorSpaceRef space);
// The number of colour components without alpha: 3 for RGB; 0 for nullptr.
unsigned long CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space);
