// CGHandle<Ref>: the one reference a C++ holder owns to a CoreGraphics object (context, image,
// colour, colour space), released when the holder goes. As on iOS, the CoreGraphics objects are Core
// Foundation objects, so this is the Core Foundation holder.
#pragma once

#include "../CoreFoundation/CFHolder.h"

#include "CGBitmapContext.h"
#include "CGColor.h"
#include "CGColorSpace.h"
#include "CGImage.h"

template <class Ref>
using CGHandle = CFHolder<Ref>;
