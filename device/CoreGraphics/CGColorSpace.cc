#include "CGColorSpace.h"

#include "CGObjects.h"

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return new CGColorSpace; }

CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) {
    CFRetain(space);
    return space;
}

void CGColorSpaceRelease(CGColorSpaceRef space) { CFRelease(space); }

unsigned long CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space) { return space ? 3 : 0; }
