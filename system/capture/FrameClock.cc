#include "FrameClock.h"

#include <cmath>

#include <Foundation/Foundation.h>
#include <QuartzCore/CADisplayLink.h>
#include <UIKit/UIKit.h>

#include "FrameColour.h"
#include "globals/Globals.h"

namespace frameClock {

IMP previousViewDidAppear = nullptr;
IMP previousViewWillDisappear = nullptr;
IMP previousViewDidDisappear = nullptr;
IMP previousDealloc = nullptr;

namespace {

using AppearanceCall = void (*)(id, SEL, BOOL);
using DeallocCall = void (*)(id, SEL);

id heldLink(id controller) { return objc_msgSend<id>(controller, SEL_(displayLink)); }

void unscheduleHeldLink(id controller) {
    objc_msgSend<void>(heldLink(controller), SEL_(setPaused:), YES);
    objc_msgSend<void>(heldLink(controller), SEL_(removeFromRunLoop:forMode:), NSRunLoop::currentRunLoop(),
                       NSDefaultRunLoopMode);
}

// Stops the clock for good: the link leaves the run loop, is invalidated and let go.
void stopClock(id controller) {
    // The scheduled link may hold the controller's last reference, which it lets go on leaving the
    // run loop: the controller must outlive the steps that follow.
    Strong<NSObject> keep(controller);
    unscheduleHeldLink(controller);
    objc_msgSend<void>(heldLink(controller), SEL_(invalidate));
    objc_msgSend<void>(controller, SEL_(setDisplayLink:), nil);
}

// The view whose picture is the video: contentView, then its playbackContentContainerView, then
// that one's playerLayerView. nil when any link of the chain is missing.
UIView* playerView(id controller) {
    id content = objc_msgSend<id>(controller, SEL_(contentView));
    id container = objc_msgSend<id>(content, SEL_(playbackContentContainerView));
    return objc_cast<UIView>(objc_msgSend<id>(container, SEL_(playerLayerView)));
}

// A snapshot of the player view as it is on screen now, at the screen's scale; nil when the view
// is missing, has no area or a size that is not a number or infinite (no context is asked for
// then), or when no context can be made for it.
Strong<UIImage> snapshot(UIView* view) {
    if (view == nil) return nullptr;
    CGRect bounds = view->bounds();
    auto usable = [](CGFloat side) { return side > 0 && std::isfinite(side); };
    if (!usable(bounds.size.width) || !usable(bounds.size.height)) return nullptr;
    UIGraphicsBeginImageContextWithOptions(bounds.size, view->isOpaque(), 0.0);
    view->drawViewHierarchyInRect_afterScreenUpdates(view->bounds(), NO);
    Strong<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

}  // namespace

void viewDidAppear(id self, SEL _cmd, BOOL animated) {
    reinterpret_cast<AppearanceCall>(previousViewDidAppear)(self, _cmd, animated);

    // A link still held from an earlier appearance would go on ticking beside the new one and,
    // since a scheduled link holds its target, keep the controller alive for ever: end it first.
    stopClock(self);

    Strong<CADisplayLink> link = CADisplayLink::displayLinkWithTarget_selector(self, SEL_(update));
    objc_msgSend<void>(self, SEL_(setDisplayLink:), link.get());
    objc_msgSend<void>(heldLink(self), SEL_(setPreferredFramesPerSecond:), NSInteger{60});
    objc_msgSend<void>(heldLink(self), SEL_(addToRunLoop:forMode:), NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
}

void viewWillDisappear(id self, SEL _cmd, BOOL animated) {
    reinterpret_cast<AppearanceCall>(previousViewWillDisappear)(self, _cmd, animated);
    stopClock(self);
}

void viewDidDisappear(id self, SEL _cmd, BOOL animated) {
    reinterpret_cast<AppearanceCall>(previousViewDidDisappear)(self, _cmd, animated);
    stopClock(self);
}

void dealloc(id self, SEL _cmd) {
    // Not invalidated here: the link is only taken off the run loop and let go.
    unscheduleHeldLink(self);
    objc_msgSend<void>(self, SEL_(setDisplayLink:), nil);
    reinterpret_cast<DeallocCall>(previousDealloc)(self, _cmd);
}

void update(id self, SEL) {
    if (!preferences->boolForKey(activeKey())) return;

    Strong<UIImage> frame = snapshot(playerView(self));
    // No picture this tick: nothing is sent. Black would be wrong: the lights would go dark for a
    // frame that was not dark.
    if (!frame) return;
    Strong<UIColor> colour = sampleImageColor(frame);
    MRYIPCCenter* center = colourServerCenter();
    Strong<NSString> message = colorMessageFromColor(colour);
    sendColorMessage(center, message);
}

}  // namespace frameClock
