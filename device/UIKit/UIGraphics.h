// Image contexts: bitmap contexts that UIKit drawing (UIImage, UIView snapshots) draws into.
//
// Each thread has its own stack of image contexts; the top one is the thread's current context.
// Two threads never see each other's contexts, so any thread may open, draw into and close its own
// at any time. A context's pixels are premultiplied B,G,R,A (CGBitmapContext.h), and its transform
// maps points to pixels, so drawing is in points whatever the scale.
#pragma once

#include "../CoreGraphics/CoreGraphics.h"
#include "../objc/runtime.h"

class UIImage;

// UIGraphicsBeginImageContextWithOptions(size, NO, 1.0).
void UIGraphicsBeginImageContext(CGSize size);
// Opens an image context of `size` points at `scale` pixels per point (0.0: the main screen's
// scale) and makes it the calling thread's current context. It has ceil(points x scale) pixels
// each way and starts cleared: all bytes zero, or opaque black when `opaque` (no alpha channel).
// A size that is empty, negative or not a number, or a negative or non-finite scale, opens no
// context: as on iOS, one line naming the size is logged and nothing is pushed, so the calls below
// find no context.
void UIGraphicsBeginImageContextWithOptions(CGSize size, BOOL opaque, CGFloat scale);
// The calling thread's current context, lent; nullptr when it has none. Drawing calls also use the
// context a caller pushed with UIGraphicsPushContext.
CGContextRef UIGraphicsGetCurrentContext();
// An image of what the current image context holds now, at the context's scale; the caller owns
// it. nil when the current context is not an image context (or there is none).
Strong<UIImage> UIGraphicsGetImageFromCurrentImageContext();
// Closes and frees the current image context; the one below it becomes current. Nothing happens
// when the current context is not an image context.
void UIGraphicsEndImageContext();

// Makes `context` the calling thread's current context (retained) until UIGraphicsPopContext.
// nullptr is ignored.
void UIGraphicsPushContext(CGContextRef context);
// Removes the current context if it was pushed by UIGraphicsPushContext; otherwise nothing.
void UIGraphicsPopContext();
