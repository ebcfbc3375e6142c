// UIView: a rectangle on screen that draws a background colour, a picture (its layer's contents)
// and its subviews. Run-time class "UIView", a UIResponder.
//
// A view belongs to the main thread, as in UIKit, with one exception: the contents picture may be
// set and read from any thread (a video thread sets the frame being shown while the main thread
// snapshots the view), under a lock of its own.
//
// Geometry follows UIKit: `frame` places the view in its superview's bounds coordinates; `bounds`
// is the view's own coordinate system (origin usually 0,0) with the same size. Setting the frame
// changes the bounds' size; setting the bounds keeps the view's centre.
//
// Subclasses (the player's views) derive in C++ and register with
// objc_defineClass<Subclass>(name, UIView::objcClass()); every run-time method below is inherited.
// Run-time methods: -initWithFrame:, -frame, -setFrame:, -bounds, -setBounds:, -isOpaque,
// -setOpaque:, -backgroundColor, -setBackgroundColor:, -addSubview:, -removeFromSuperview,
// -subviews, -superview, -drawViewHierarchyInRect:afterScreenUpdates:.
#pragma once

#include <mutex>

#include "../CoreGraphics/CoreGraphics.h"
#include "../Foundation/NSArray.h"
#include "../objc/runtime.h"

#include "../CoreGraphics/CGHandle.h"
#include "UIColor.h"
#include "UIResponder.h"

class UIView : public UIResponder {
public:
    UIView();
    ~UIView() override;
    static Class objcClass();

    // A new view with `frame`; the caller owns it.
    static Strong<UIView> viewWithFrame(CGRect frame);
    // Sets the frame of a view made by `alloc` and returns the receiver (the reference passes through).
    UIView* initWithFrame(CGRect frame);

    CGRect frame() const;
    void setFrame(CGRect frame);
    CGRect bounds() const { return bounds_; }
    void setBounds(CGRect bounds);
    // YES for a new view, as in UIKit. Snapshots use it to choose an image context without alpha.
    BOOL isOpaque() const { return opaque_; }
    void setOpaque(BOOL opaque) { opaque_ = opaque; }
    // Lent; nil when the view has no background (the default).
    UIColor* backgroundColor() const { return backgroundColor_.get(); }
    void setBackgroundColor(UIColor* color) { backgroundColor_ = color; }

    // Puts `view` on top of this view's subviews (retained), first taking it from any superview it
    // had. nil, the view itself and any of its ancestors are ignored (that would make a cycle).
    void addSubview(UIView* view);
    void removeFromSuperview();
    // The subviews, back to front; lent, valid until the subviews next change. Never nil.
    NSArray* subviews() const { return subviews_.get(); }
    // The view this one is a subview of, lent; nil when none.
    UIView* superview() const { return superview_; }

    // Stands for the view's layer contents: the picture drawn, scaled to the bounds, above the
    // background. The image is retained; nullptr clears it. Any thread.
    void setContents(CGImageRef image);
    // The current picture with a reference the holder owns; empty when none. Any thread.
    CGHandle<CGImageRef> contents() const;

    // Draws the view as it is now into the calling thread's current context, scaled so that the
    // bounds fill `rect` (in the context's user space): the background colour, then the contents
    // (default interpolation, normal blending), then each subview at its frame, recursively. The
    // context's own state is left as it was. NO, with nothing drawn, when the thread has no
    // current context or the bounds or `rect` are empty. `afterUpdates` makes no difference: the
    // device has no pending screen updates to wait for.
    BOOL drawViewHierarchyInRect_afterScreenUpdates(CGRect rect, BOOL afterUpdates);

protected:
    // Draws this view's own layer (background and contents) in its bounds coordinates; the
    // context's transform maps the bounds to where the view lands. Subclasses may draw more.
    virtual void drawLayer(CGContextRef context) const;
    // Called whenever the size of the bounds changes (through the frame or the bounds), at once
    // rather than at UIKit's next layout pass; subclasses lay out what depends on their size.
    virtual void layoutSubviews() {}

private:
    void drawHierarchy(CGContextRef context) const;
    bool isAncestorOf(const UIView* view) const;
    void removeSubview(UIView* view);

    CGPoint center_{0, 0};
    CGRect bounds_ = CGRectZero;
    BOOL opaque_ = YES;
    Strong<UIColor> backgroundColor_;
    Strong<NSArray> subviews_;     // replaced, never changed, so a lent array stays as it was
    UIView* superview_ = nullptr;  // not retained: the superview holds this view

    mutable std::mutex contentsLock_;
    CGImageRef contents_ = nullptr;  // owned; guarded by contentsLock_
};
