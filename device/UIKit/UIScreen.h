// UIScreen: the device's display, an iPhone 14's: 390 x 844 points at 3 pixels per point.
// Run-time class "UIScreen".
//
// The main screen exists for the life of the process and never changes; any thread may use it.
// Run-time methods: +mainScreen (lent), -scale, -bounds.
#pragma once

#include "../CoreGraphics/CoreGraphics.h"
#include "../objc/runtime.h"

class UIScreen : public NSObject {
public:
    static Class objcClass();

    // The display, lent; never nil.
    static UIScreen* mainScreen();

    CGFloat scale() const { return 3.0; }
    CGRect bounds() const { return CGRectMake(0, 0, 390, 844); }
    // The highest frame rate the display shows; display links tick at most this often.
    NSInteger maximumFramesPerSecond() const { return 60; }
};
