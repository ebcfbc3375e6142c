// CoreGraphics: geometry, colours, images and bitmap contexts (drawn with pixman).
#pragma once

#include "CGAffineTransform.h"
#include "CGBitmapContext.h"
#include "CGColor.h"
#include "CGColorSpace.h"
#include "CGContext.h"
#include "CGGeometry.h"
#include "CGImage.h"
