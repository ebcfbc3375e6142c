#include "CGColorSpace.h"

#include "CGObjects.h"

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return new CGColorSpace; }

CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) {
    if (space) space->retain();
    return space;
}

void CGColorSpaceRelease(CGColorSpaceRef space) {
    if (space && space->release()) delete space;
}

unsigned long CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space) { return space ? 3 : 0; }
