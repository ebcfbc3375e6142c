#include "AVPlayerViews.h"

#include <algorithm>
#include <cmath>

#include "../UIKit/UIScreen.h"

#include "../activity/FrameOrigin.h"
#include "../objc/MethodRegistration.h"

namespace {

CGRect boundsOf(CGRect frame) { return CGRectMake(0, 0, frame.size.width, frame.size.height); }

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
    view->layer_ = makeObject<AVSampleBufferDisplayLayer>();
    view->initWithFrame(frame);
    view->layoutSubviews();  // also for a frame of no size, which changes nothing
    return view;
}

void AVPlayerLayerView::layoutSubviews() {
    if (!layer_) return;
    // The pixels the bounds cover on screen; 0 (pictures at their own size) for a size that is not
    // a number or cannot be a picture's.
    const CGFloat scale = UIScreen::mainScreen()->scale();
    auto pixels = [scale](CGFloat points) {
        const double count = std::ceil(points * scale);
        return count >= 1 && count <= 16384 ? static_cast<int>(count) : 0;
    };
    const int width = pixels(bounds().size.width), height = pixels(bounds().size.height);
    layer_->setDisplayView(this, width && height ? width : 0, width && height ? height : 0);
}

CGRect AVPlayerLayerView::aspectFitRect(CGSize pictureSize, CGRect area) {
    if (!(pictureSize.width > 0 && pictureSize.height > 0 && area.size.width > 0 && area.size.height > 0))
        return CGRectZero;
    const CGFloat scale = std::min(area.size.width / pictureSize.width, area.size.height / pictureSize.height);
    const CGSize fitted = CGSizeMake(pictureSize.width * scale, pictureSize.height * scale);
    return CGRectMake(area.origin.x + (area.size.width - fitted.width) / 2,
                      area.origin.y + (area.size.height - fitted.height) / 2, fitted.width, fitted.height);
}

void AVPlayerLayerView::drawLayer(CGContextRef context) const {
    if (UIColor* background = backgroundColor()) {
        CGContextSetFillColorWithColor(context, background->CGColor());
        CGContextFillRect(context, bounds());
    }
    CGHandle<CGImageRef> picture = contents();
    if (!picture) return;
    // Whatever reads this picture now serves the frame it came from.
    if (layer_) device::adoptEarlierFrameOrigin({layer_->shownPictureOrigin(), device::CallKind::none});
    const CGSize size = CGSizeMake(CGImageGetWidth(picture.get()), CGImageGetHeight(picture.get()));
    const CGRect where = aspectFitRect(size, bounds());
    if (!CGRectIsEmpty(where)) CGContextDrawImage(context, where, picture.get());
}

Class AVPlaybackContentContainerView::objcClass() {
    static Class cls = [] {
        Class c =
            objc_defineClass<AVPlaybackContentContainerView>("AVPlaybackContentContainerView", UIView::objcClass());
        objc_addInstanceMethod<&AVPlaybackContentContainerView::playerLayerView>(c, "playerLayerView");
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
        objc_addInstanceMethod<&AVPlayerViewControllerContentView::playbackContentContainerView>(
            c, "playbackContentContainerView");
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
