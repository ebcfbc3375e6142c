#include "HookTable.h"

#include <substrate/substrate.h>

#include "capture/AddedProperties.h"
#include "capture/FrameClock.h"
#include "capture/SampleBufferCapture.h"
#include "platform/Channel.h"
#include "server/ColourServer.h"

namespace {

// One association key per added property.
constexpr char displayLinkKey = 0;
constexpr char glimDisplayLinkKey = 0;
constexpr char glimColorKey = 0;

IMP asIMP(auto function) { return reinterpret_cast<IMP>(function); }

}  // namespace

void installHookTable() {
    Class displayLayer = objc_getClass("AVSampleBufferDisplayLayer");
    MSHookMessageEx(displayLayer, sel_registerName("enqueueSampleBuffer:"),
                    asIMP(sampleBufferCapture::enqueueSampleBuffer), &sampleBufferCapture::previousEnqueueSampleBuffer);

    Class player = objc_getClass("AVFullScreenViewController");
    addRetainedObjectProperty(player, "displayLink", "CADisplayLink", retainedObjectAccessors<&displayLinkKey>());
    MSHookMessageEx(player, sel_registerName("viewDidAppear:"), asIMP(frameClock::viewDidAppear),
                    &frameClock::previousViewDidAppear);
    MSHookMessageEx(player, sel_registerName("viewWillDisappear:"), asIMP(frameClock::viewWillDisappear),
                    &frameClock::previousViewWillDisappear);
    MSHookMessageEx(player, sel_registerName("viewDidDisappear:"), asIMP(frameClock::viewDidDisappear),
                    &frameClock::previousViewDidDisappear);
    MSHookMessageEx(player, sel_registerName("dealloc"), asIMP(frameClock::dealloc), &frameClock::previousDealloc);
    class_addMethod(player, sel_registerName("update"), asIMP(frameClock::update), "v@:");

    Class springBoard = objc_getClass("SpringBoard");
    addRetainedObjectProperty(springBoard, "glimDisplayLink", "CADisplayLink",
                              retainedObjectAccessors<&glimDisplayLinkKey>());
    addRetainedObjectProperty(springBoard, "glimColor", "UIColor", retainedObjectAccessors<&glimColorKey>());
    MSHookMessageEx(springBoard, sel_registerName("applicationDidFinishLaunching:"),
                    asIMP(colourServer::applicationDidFinishLaunching),
                    &colourServer::previousApplicationDidFinishLaunching);
    class_addMethod(springBoard, updateColorsSelector(), asIMP(colourServer::updateColors), "v@:@");
}
