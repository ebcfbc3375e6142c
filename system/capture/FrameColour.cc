#include "FrameColour.h"

#include <CoreGraphics/CoreGraphics.h>

#include "globals/Globals.h"
#include "platform/Channel.h"

Strong<UIColor> sampleImageColor(UIImage* image) {
    UIGraphicsBeginImageContext(CGSizeMake(1.0, 1.0));
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGContextSetInterpolationQuality(context, kCGInterpolationNone);
    // Copy, not blend: the frame pixel replaces the cleared one instead of being composited on it.
    if (image != nil) image->drawInRect_blendMode_alpha(CGRectMake(0, 0, 1.0, 1.0), kCGBlendModeCopy, 1.0);

    const auto* pixel = static_cast<const uint8_t*>(CGBitmapContextGetData(context));
    // The bytes are blue, green, red, alpha; the division is single precision on purpose, as the
    // messages the server has always received were made that way.
    float red = static_cast<float>(static_cast<unsigned>(pixel[2])) / 255.0f;
    float green = static_cast<float>(static_cast<unsigned>(pixel[1])) / 255.0f;
    float blue = static_cast<float>(static_cast<unsigned>(pixel[0])) / 255.0f;
    Strong<UIColor> colour = UIColor::colorWithRed_green_blue_alpha(red, green, blue, 1.0);

    UIGraphicsEndImageContext();
    return colour;
}

Strong<NSString> colorMessageFromColor(UIColor* colour) {
    const CGFloat* components = CGColorGetComponents(colour->CGColor());
    return NSString::stringWithFormat("%f,%f,%f,%f", components[0], components[1], components[2], components[3]);
}

MRYIPCCenter* colourServerCenter() { return MRYIPCCenter::centerNamed(glimmoraServerName()); }

void sendColorMessage(MRYIPCCenter* center, NSString* message) {
    center->callExternalVoidMethod_withArguments(updateColorsSelector(), message);
}

namespace {

// One shared block serves every acknowledged send; it captures nothing. The flag is a plain
// exported byte; the store is atomic so the decoder's thread reads it cleanly.
Block<void(id)>* readyAgainBlock() {
    static Block<void(id)>* block =
        makeBlock([](id) { __atomic_store_n(&readyForUpdates, YES, __ATOMIC_RELEASE); }).detach();
    return block;
}

}  // namespace

void sendAcknowledgedColorMessage(MRYIPCCenter* center, NSString* message) {
    center->callExternalMethod_withArguments_completion(updateColorsSelector(), message, readyAgainBlock());
}
