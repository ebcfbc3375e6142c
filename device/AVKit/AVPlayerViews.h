// The views inside the full-screen player: its content view holds the playback content container,
// which holds the player layer view, whose picture is the video frame shown now.
//
// Views belong to the main thread; the player layer view's picture is set by its display layer
// from the thread that enqueues samples (UIView's contents may be set from any thread).
#pragma once

#include "../UIKit/UIView.h"

#include "AVSampleBufferDisplayLayer.h"

// Shows the frames its display layer decodes as a player layer does by default
// (AVLayerVideoGravityResizeAspect): as large as fits in its bounds, in the picture's own
// proportions and centred, with what lies behind the view (black, in the player) showing in the
// bars beside or above and below it. When the bounds change, later pictures are made for the new
// size.
class AVPlayerLayerView : public UIView {
public:
    ~AVPlayerLayerView() override;
    static Class objcClass();
    // A view of `frame` with a display layer of its own that shows its frames here.
    static Strong<AVPlayerLayerView> viewWithFrame(CGRect frame);
    // The layer the app enqueues samples on; lent.
    AVSampleBufferDisplayLayer* displayLayer() const { return layer_.get(); }

    // Where a picture of `pictureSize` lands in `area`: fitted, in its proportions, centred.
    // CGRectZero when either size is empty or not a number.
    static CGRect aspectFitRect(CGSize pictureSize, CGRect area);

protected:
    void drawLayer(CGContextRef context) const override;
    void layoutSubviews() override;

private:
    Strong<AVSampleBufferDisplayLayer> layer_;
};

class AVPlaybackContentContainerView : public UIView {
public:
    static Class objcClass();
    static Strong<AVPlaybackContentContainerView> viewWithFrame(CGRect frame);
    // Lent; nil until set.
    AVPlayerLayerView* playerLayerView() const { return playerLayerView_; }

private:
    AVPlayerLayerView* playerLayerView_ = nullptr;  // held as a subview
};

class AVPlayerViewControllerContentView : public UIView {
public:
    static Class objcClass();
    // The whole chain, filling `frame`.
    static Strong<AVPlayerViewControllerContentView> viewWithFrame(CGRect frame);
    AVPlaybackContentContainerView* playbackContentContainerView() const { return container_; }

private:
    AVPlaybackContentContainerView* container_ = nullptr;  // held as a subview
};
