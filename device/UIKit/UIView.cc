#include "UIView.h"

#include <cstring>
#include <vector>

#include "../CoreGraphics/CGTypeEncoding.h"
#include "UIGraphics.h"

Class UIView::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<UIView>("UIView", UIResponder::objcClass());
        objc_addInstanceMethod<&UIView::initWithFrame>(c, "initWithFrame:");
        objc_addInstanceMethod<&UIView::frame>(c, "frame");
        objc_addInstanceMethod<&UIView::setFrame>(c, "setFrame:");
        objc_addInstanceMethod<&UIView::bounds>(c, "bounds");
        objc_addInstanceMethod<&UIView::setBounds>(c, "setBounds:");
        objc_addInstanceMethod<&UIView::isOpaque>(c, "isOpaque");
        objc_addInstanceMethod<&UIView::setOpaque>(c, "setOpaque:");
        objc_addInstanceMethod<&UIView::backgroundColor>(c, "backgroundColor");
        objc_addInstanceMethod<&UIView::setBackgroundColor>(c, "setBackgroundColor:");
        objc_addInstanceMethod<&UIView::addSubview>(c, "addSubview:");
        objc_addInstanceMethod<&UIView::removeFromSuperview>(c, "removeFromSuperview");
        objc_addInstanceMethod<&UIView::subviews>(c, "subviews");
        objc_addInstanceMethod<&UIView::superview>(c, "superview");
        objc_addInstanceMethod<&UIView::drawViewHierarchyInRect_afterScreenUpdates>(
            c, "drawViewHierarchyInRect:afterScreenUpdates:");
        return c;
    }();
    return cls;
}

UIView::UIView() : subviews_(NSArray::array()) {}

UIView::~UIView() {
    for (const Strong<NSObject>& subview : *subviews_) static_cast<UIView*>(subview.get())->superview_ = nullptr;
    CGImageRelease(contents_);
}

Strong<UIView> UIView::viewWithFrame(CGRect frame) {
    Strong<UIView> view = makeObject<UIView>();
    view->initWithFrame(frame);
    return view;
}

UIView* UIView::initWithFrame(CGRect frame) {
    setFrame(frame);
    return this;
}

CGRect UIView::frame() const {
    return {{center_.x - bounds_.size.width / 2, center_.y - bounds_.size.height / 2}, bounds_.size};
}

namespace {
// Also a change into or out of a size that is not a number.
bool sizeChanged(CGSize before, CGSize after) { return std::memcmp(&before, &after, sizeof before) != 0; }
}  // namespace

void UIView::setFrame(CGRect frame) {
    frame = CGRectStandardize(frame);
    const CGSize before = bounds_.size;
    bounds_.size = frame.size;
    center_ = {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
    if (sizeChanged(before, bounds_.size)) layoutSubviews();
}

void UIView::setBounds(CGRect bounds) {
    const CGSize before = bounds_.size;
    bounds_ = CGRectStandardize(bounds);
    if (sizeChanged(before, bounds_.size)) layoutSubviews();
}

bool UIView::isAncestorOf(const UIView* view) const {
    for (const UIView* v = view; v != nullptr; v = v->superview_) {
        if (v == this) return true;
    }
    return false;
}

void UIView::addSubview(UIView* view) {
    if (view == nullptr || view->isAncestorOf(this)) return;
    Strong<UIView> keep(view);  // the old superview may hold the last reference
    view->removeFromSuperview();
    std::vector<Strong<NSObject>> list(subviews_->begin(), subviews_->end());
    list.emplace_back(view);
    subviews_ = NSArray::arrayWithVector(std::move(list));
    view->superview_ = this;
}

void UIView::removeFromSuperview() {
    if (superview_) superview_->removeSubview(this);
}

void UIView::removeSubview(UIView* view) {
    std::vector<Strong<NSObject>> list;
    for (const Strong<NSObject>& subview : *subviews_) {
        if (subview.get() != view) list.push_back(subview);
    }
    view->superview_ = nullptr;
    // The old array, and with it possibly the last reference to `view`, goes at the end.
    subviews_ = NSArray::arrayWithVector(std::move(list));
}

void UIView::setContents(CGImageRef image) {
    CGImageRetain(image);
    CGImageRef old;
    {
        std::lock_guard<std::mutex> guard(contentsLock_);
        old = contents_;
        contents_ = image;
    }
    CGImageRelease(old);
}

CGHandle<CGImageRef> UIView::contents() const {
    std::lock_guard<std::mutex> guard(contentsLock_);
    return CGHandle<CGImageRef>::retain(contents_);
}

BOOL UIView::drawViewHierarchyInRect_afterScreenUpdates(CGRect rect, BOOL) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (context == nullptr || CGRectIsEmpty(bounds_) || CGRectIsEmpty(rect)) return NO;
    rect = CGRectStandardize(rect);
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, rect.origin.x, rect.origin.y);
    CGContextScaleCTM(context, rect.size.width / bounds_.size.width, rect.size.height / bounds_.size.height);
    CGContextTranslateCTM(context, -bounds_.origin.x, -bounds_.origin.y);
    // The screen composites every layer normally, whatever the caller set up for its own drawing.
    CGContextSetBlendMode(context, kCGBlendModeNormal);
    CGContextSetAlpha(context, 1.0);
    CGContextSetInterpolationQuality(context, kCGInterpolationDefault);
    drawHierarchy(context);
    CGContextRestoreGState(context);
    return YES;
}

void UIView::drawHierarchy(CGContextRef context) const {
    drawLayer(context);
    for (const Strong<NSObject>& item : *subviews_) {
        auto* subview = static_cast<UIView*>(item.get());
        if (CGRectIsEmpty(subview->bounds_)) continue;
        CGRect frame = subview->frame();
        CGContextSaveGState(context);
        CGContextTranslateCTM(context, frame.origin.x - subview->bounds_.origin.x,
                              frame.origin.y - subview->bounds_.origin.y);
        subview->drawHierarchy(context);
        CGContextRestoreGState(context);
    }
}

void UIView::drawLayer(CGContextRef context) const {
    if (backgroundColor_) {
        CGContextSetFillColorWithColor(context, backgroundColor_->CGColor());
        CGContextFillRect(context, bounds_);
    }
    if (CGHandle<CGImageRef> image = contents()) CGContextDrawImage(context, bounds_, image);
}
