#include "AVSampleBufferDisplayLayer.h"

void AVSampleBufferDisplayLayer_enqueue(id self, SEL, CMSampleBufferRef) {
    static_cast<AVSampleBufferDisplayLayer*>(self)->enqueued_.fetch_add(1);
}

Class AVSampleBufferDisplayLayer::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<AVSampleBufferDisplayLayer>("AVSampleBufferDisplayLayer", CALayer::objcClass());
        class_addMethod(c, sel_registerName("enqueueSampleBuffer:"),
                        reinterpret_cast<IMP>(AVSampleBufferDisplayLayer_enqueue), "v24@0:8^{opaqueCMSampleBuffer=}16");
        return c;
    }();
    return cls;
}
