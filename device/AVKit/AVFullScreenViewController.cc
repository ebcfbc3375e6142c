#include "AVFullScreenViewController.h"

#include "../UIKit/UIScreen.h"

#include "../objc/MethodRegistration.h"

namespace {
Class playerClass();

// The player's own appearance methods hand on to UIViewController, as the real one does.
void viewDidAppear(id self, BOOL animated) {
    objc_msgSendSuper<void>(playerClass(), self, SEL_(viewDidAppear:), animated);
}
void viewWillDisappear(id self, BOOL animated) {
    objc_msgSendSuper<void>(playerClass(), self, SEL_(viewWillDisappear:), animated);
}
void viewDidDisappear(id self, BOOL animated) {
    objc_msgSendSuper<void>(playerClass(), self, SEL_(viewDidDisappear:), animated);
}

Class playerClass() { return AVFullScreenViewController::objcClass(); }

// Full screen in landscape: the screen's long side across.
CGRect landscapeScreen() {
    CGRect screen = UIScreen::mainScreen()->bounds();
    CGFloat longSide = std::max(screen.size.width, screen.size.height);
    CGFloat shortSide = std::min(screen.size.width, screen.size.height);
    return CGRectMake(0, 0, longSide, shortSide);
}
}  // namespace

AVFullScreenViewController::AVFullScreenViewController()
    : contentView_(AVPlayerViewControllerContentView::viewWithFrame(landscapeScreen())) {}

AVPlayerLayerView* AVFullScreenViewController::playerLayerView() const {
    return contentView_->playbackContentContainerView()->playerLayerView();
}

Class AVFullScreenViewController::objcClass() {
    static Class cls = [] {
        Class c =
            objc_defineClass<AVFullScreenViewController>("AVFullScreenViewController", UIViewController::objcClass());
        objc_addInstanceMethod<&viewDidAppear>(c, "viewDidAppear:");
        objc_addInstanceMethod<&viewWillDisappear>(c, "viewWillDisappear:");
        objc_addInstanceMethod<&viewDidDisappear>(c, "viewDidDisappear:");
        objc_addInstanceMethod<&AVFullScreenViewController::contentView>(c, "contentView");
        return c;
    }();
    return cls;
}
