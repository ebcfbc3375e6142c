// AVFullScreenViewController: the system's full-screen video player controller. It exists only in
// the video apps' processes (the process set-up registers it).
//
// A new controller has its view chain at once, filling the screen in landscape: `contentView` ->
// `playbackContentContainerView` -> `playerLayerView`, whose display layer shows the frames the app
// enqueues. Main thread only, like every view controller.
#pragma once

#include "../UIKit/UIResponder.h"

#include "AVPlayerViews.h"

class AVFullScreenViewController : public UIViewController {
public:
    AVFullScreenViewController();
    static Class objcClass();

    // Lent; the controller holds the chain for its whole life.
    AVPlayerViewControllerContentView* contentView() const { return contentView_.get(); }
    // The end of the chain, where the video is shown.
    AVPlayerLayerView* playerLayerView() const;

private:
    Strong<AVPlayerViewControllerContentView> contentView_;
};
