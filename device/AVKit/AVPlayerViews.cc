#include "AVPlayerViews.h"

#include <cmath>

#include <UIKit/UIScreen.h>

namespace {

CGRect boundsOf(CGRect frame) { return CGRectMake(0, 0, frame.size.width, frame.size.height); }

id playerLayerViewMethod(id self, SEL) { return static_cast<AVPlaybackContentContainerView*>(self)->playerLayerView(); }
id containerMethod(id self, SEL) {
    return static_cast<AVPlayerViewControllerContentView*>(self)->playbackContentContainerView();
}

}  // namespace

AVPlayerLayerView::~AVPlayerLayerView() {
    if (layer_) layer_->setDisplayView(nullptr, 0, 0);
}

Class AVPlayerLayerView::objcClass() {
    static Class cls = objc_defineClass<AVPlayerLayerView>("AVPlayerLayerView", UIView::objcClass());
    return cls;
}

Strong<AVPlayerLayerView> AVPlayerLayerView::viewWithFrame(CGRect frame) {
    auto view = makeObject<AVPlayerLayerView>();
    view->initWithFrame(frame);
    view->layer_ = makeObject<AVSampleBufferDisplayLayer>();
    CGFloat scale = UIScreen::mainScreen()->scale();
    view->layer_->setDisplayView(view.get(), static_cast<int>(std::ceil(frame.size.width * scale)),
                                 static_cast<int>(std::ceil(frame.size.height * scale)));
    return view;
}

Class AVPlaybackContentContainerView::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<AVPlaybackContentContainerView>("AVPlaybackContentContainerView", UIView::objcClass());
        class_addMethod(c, sel_registerName("playerLayerView"), reinterpret_cast<IMP>(playerLayerViewMethod), "@16@0:8");
        return c;
    }();
    return cls;
}

Strong<AVPlaybackContentContainerView> AVPlaybackContentContainerView::viewWithFrame(CGRect frame) {
    auto container = makeObject<AVPlaybackContentContainerView>();
    container->initWithFrame(frame);
    Strong<AVPlayerLayerView> player = AVPlayerLayerView::viewWithFrame(boundsOf(frame));
    container->addSubview(player);
    container->playerLayerView_ = player.get();
    return container;
}

Class AVPlayerViewControllerContentView::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<AVPlayerViewControllerContentView>("AVPlayerViewControllerContentView",
                                                                      UIView::objcClass());
        class_addMethod(c, sel_registerName("playbackContentContainerView"), reinterpret_cast<IMP>(containerMethod),
                        "@16@0:8");
        return c;
    }();
    return cls;
}

Strong<AVPlayerViewControllerContentView> AVPlayerViewControllerContentView::viewWithFrame(CGRect frame) {
    auto content = makeObject<AVPlayerViewControllerContentView>();
    content->initWithFrame(frame);
    content->setBackgroundColor(UIColor::colorWithRed_green_blue_alpha(0, 0, 0, 1));
    Strong<AVPlaybackContentContainerView> container = AVPlaybackContentContainerView::viewWithFrame(boundsOf(frame));
    content->addSubview(container);
    content->container_ = container.get();
    return content;
}
