#include "AVFullScreenViewController.h"

#include <UIKit/UIScreen.h>

namespace {
Class playerClass();

// The player's own appearance methods hand on to UIViewController, as the real one does.
void viewDidAppear(id self, SEL cmd, BOOL animated) { objc_msgSendSuper<void>(playerClass(), self, cmd, animated); }
void viewWillDisappear(id self, SEL cmd, BOOL animated) { objc_msgSendSuper<void>(playerClass(), self, cmd, animated); }
void viewDidDisappear(id self, SEL cmd, BOOL animated) { objc_msgSendSuper<void>(playerClass(), self, cmd, animated); }
id contentViewMethod(id self, SEL) { return static_cast<AVFullScreenViewController*>(self)->contentView(); }

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
        Class c = objc_defineClass<AVFullScreenViewController>("AVFullScreenViewController",
                                                               UIViewController::objcClass());
        class_addMethod(c, sel_registerName("viewDidAppear:"), reinterpret_cast<IMP>(viewDidAppear), "v20@0:8B16");
        class_addMethod(c, sel_registerName("viewWillDisappear:"), reinterpret_cast<IMP>(viewWillDisappear),
                        "v20@0:8B16");
        class_addMethod(c, sel_registerName("viewDidDisappear:"), reinterpret_cast<IMP>(viewDidDisappear),
                        "v20@0:8B16");
        class_addMethod(c, sel_registerName("contentView"), reinterpret_cast<IMP>(contentViewMethod), "@16@0:8");
        return c;
    }();
    return cls;
}
