#include "gui/CView.h"

#include <algorithm>
#include <cstring>

#include "gui/CFrame.h"

namespace VSTGUI {

// ---------------------------------------------------------------- CView

CView::CView(const CRect& size) : size_(size), mouseableArea_(size) {}

CView::~CView() = default;

void CView::draw(CDrawContext* context) {
    if (background_) background_->draw(context, size_);
    setDirty(false);
}

void CView::drawRect(CDrawContext* context, const CRect& update) {
    if (checkUpdate(update)) draw(context);
}

void CView::invalidRect(const CRect& rect) {
    if (frame_ == nullptr || rect.isEmpty()) return;
    CPoint topLeft(rect.left, rect.top);
    localToFrame(topLeft);
    frame_->invalidateFrameRect(CRect(rect).moveTo(topLeft.h, topLeft.v));
}

void CView::invalid() {
    setDirty(false);
    invalidRect(size_);
}

void CView::setVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    invalidRect(size_);
    if (!visible && frame_ != nullptr) frame_->onViewHidden(this);
}

CMouseEventResult CView::onMouseDown(CPoint&, const CButtonState&) {
    return kMouseEventNotImplemented;
}
CMouseEventResult CView::onMouseUp(CPoint&, const CButtonState&) {
    return kMouseEventNotImplemented;
}
CMouseEventResult CView::onMouseMoved(CPoint&, const CButtonState&) {
    return kMouseEventNotImplemented;
}
CMouseEventResult CView::onMouseEntered(CPoint&, const CButtonState&) {
    return kMouseEventNotImplemented;
}
CMouseEventResult CView::onMouseExited(CPoint&, const CButtonState&) {
    return kMouseEventNotImplemented;
}

bool CView::hitTest(const CPoint& where, const CButtonState&) const {
    return mouseableArea_.pointInside(where);
}

bool CView::onWheel(const CPoint& where, const CMouseWheelAxis& axis, const float& distance,
                    const CButtonState& buttons) {
    if (axis != kMouseWheelAxisY) return false;
    return onWheel(where, distance, buttons);
}

bool CView::onWheel(const CPoint&, const float&, const CButtonState&) { return false; }

std::int32_t CView::onKeyDown(CKeyCode&) { return kKeyNotHandled; }
std::int32_t CView::onKeyUp(CKeyCode&) { return kKeyNotHandled; }

void CView::setViewSize(const CRect& size, bool invalidate) {
    if (invalidate) invalidRect(size_);
    // The area keeps its place relative to the view's edges: it moves with the
    // top-left corner and its right and bottom edges follow the view's.
    mouseableArea_.left += size.left - size_.left;
    mouseableArea_.top += size.top - size_.top;
    mouseableArea_.right += size.right - size_.right;
    mouseableArea_.bottom += size.bottom - size_.bottom;
    size_ = size;
    if (invalidate) invalidRect(size_);
}

CPoint& CView::localToFrame(CPoint& point) const {
    for (const CView* p = parentView_; p != nullptr && p != frame_; p = p->parentView_)
        point.offset(p->size_.left, p->size_.top);
    return point;
}

CPoint& CView::frameToLocal(CPoint& point) const {
    for (const CView* p = parentView_; p != nullptr && p != frame_; p = p->parentView_)
        point.offset(-p->size_.left, -p->size_.top);
    return point;
}

void CView::setBackground(CBitmap* background) {
    background_.reset(background);
    setDirty(true);
}

bool CView::removed(CView*) {
    if (frame_ != nullptr) frame_->onViewRemoved(this);
    parentView_ = nullptr;
    frame_ = nullptr;
    return true;
}

bool CView::attached(CView* parent) {
    parentView_ = parent;
    frame_ = parent != nullptr ? parent->getFrame() : nullptr;
    return true;
}

VSTGUIEditorInterface* CView::getEditor() const {
    return frame_ != nullptr ? frame_->getEditor() : nullptr;
}

bool CView::isTypeOf(const char* className) const {
    return className != nullptr && std::strcmp(className, "CView") == 0;
}

// ---------------------------------------------------------------- CViewContainer

CViewContainer::CViewContainer(const CRect& size, CFrame* frame, CBitmap* background)
    : CView(size) {
    frame_ = frame;
    if (background != nullptr) setBackground(background);
}

CViewContainer::~CViewContainer() { removeAll(true); }

bool CViewContainer::addView(CView* view) {
    if (view == nullptr || view == this || isChild(view)) return false;
    view->remember();
    children_.push_back(view);
    view->attached(this);
    view->invalid();
    return true;
}

bool CViewContainer::removeView(CView* view, bool forget) {
    auto it = std::find(children_.begin(), children_.end(), view);
    if (it == children_.end()) return false;
    children_.erase(it);
    if (mouseDownView_ == view) mouseDownView_ = nullptr;
    invalidRect(view->getViewSize());
    view->removed(this);
    if (forget) view->forget();
    return true;
}

bool CViewContainer::removeAll(bool forget) {
    mouseDownView_ = nullptr;
    while (!children_.empty()) {
        CView* view = children_.back();
        children_.pop_back();
        view->removed(this);
        if (forget) view->forget();
    }
    return true;
}

bool CViewContainer::isChild(const CView* view) const {
    return std::find(children_.begin(), children_.end(), view) != children_.end();
}

CView* CViewContainer::getView(int index) const {
    if (index < 0 || index >= getNbViews()) return nullptr;
    return children_[static_cast<std::size_t>(index)];
}

CView* CViewContainer::getViewAt(const CPoint& where, bool deep) const {
    CPoint local = where;
    local.offset(-size_.left, -size_.top);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        CView* child = *it;
        if (!child->isVisible() || !child->getViewSize().pointInside(local)) continue;
        if (deep && child->isContainer()) {
            CView* inner = static_cast<CViewContainer*>(child)->getViewAt(local, true);
            return inner != nullptr ? inner : child;
        }
        return child;
    }
    return nullptr;
}

void CViewContainer::collectViews(std::vector<CView*>& out) const {
    for (CView* child : children_) {
        out.push_back(child);
        if (child->isContainer()) static_cast<CViewContainer*>(child)->collectViews(out);
    }
}

void CViewContainer::drawBackgroundRect(CDrawContext* context, const CRect& update) {
    CRect local = update;
    local.bound(CRect(0, 0, size_.width(), size_.height()));
    if (local.isEmpty()) return;
    if (background_) {
        CPoint offset(local.left + backgroundOffset_.h, local.top + backgroundOffset_.v);
        background_->draw(context, local, offset);
    } else if (!transparent_) {
        const CColor saved = context->getFillColor();
        context->setFillColor(backgroundColor_);
        context->drawRect(local, kDrawFilled);
        context->setFillColor(saved);
    }
}

void CViewContainer::draw(CDrawContext* context) { drawRect(context, size_); }

void CViewContainer::drawRect(CDrawContext* context, const CRect& update) {
    // `update` is in the parent's coordinates; children live in ours.
    CRect local = update;
    local.offset(-size_.left, -size_.top);
    const CPoint savedOffset = context->getOffset();
    context->setOffset(CPoint(savedOffset.h + size_.left, savedOffset.v + size_.top));
    drawBackgroundRect(context, local);
    for (CView* child : children_) {
        if (!child->isVisible() || !child->checkUpdate(local)) continue;
        child->drawRect(context, local);
        child->setDirty(false);
    }
    context->setOffset(savedOffset);
    dirty_ = false;
}

CMouseEventResult CViewContainer::onMouseDown(CPoint& where, const CButtonState& buttons) {
    CPoint local = where;
    local.offset(-size_.left, -size_.top);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        CView* child = *it;
        if (!child->isVisible() || !child->getMouseEnabled() || !child->hitTest(local, buttons))
            continue;
        const CMouseEventResult result = child->onMouseDown(local, buttons);
        if (result == kMouseEventHandled) {
            mouseDownView_ = child;
            if (frame_ != nullptr && !child->isContainer()) frame_->setCapturedView(child);
        }
        return result;
    }
    return kMouseEventNotHandled;
}

CMouseEventResult CViewContainer::onMouseUp(CPoint& where, const CButtonState& buttons) {
    if (mouseDownView_ == nullptr) return kMouseEventNotHandled;
    CPoint local = where;
    local.offset(-size_.left, -size_.top);
    CView* view = mouseDownView_;
    mouseDownView_ = nullptr;
    return view->onMouseUp(local, buttons);
}

CMouseEventResult CViewContainer::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    CPoint local = where;
    local.offset(-size_.left, -size_.top);
    if (mouseDownView_ != nullptr) return mouseDownView_->onMouseMoved(local, buttons);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        CView* child = *it;
        if (child->isVisible() && child->getMouseEnabled() && child->hitTest(local, buttons))
            return child->onMouseMoved(local, buttons);
    }
    return kMouseEventNotHandled;
}

bool CViewContainer::onWheel(const CPoint& where, const CMouseWheelAxis& axis,
                             const float& distance, const CButtonState& buttons) {
    CPoint local = where;
    local.offset(-size_.left, -size_.top);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        CView* child = *it;
        if (child->isVisible() && child->getMouseEnabled() && child->hitTest(local, buttons))
            return child->onWheel(local, axis, distance, buttons);
    }
    return false;
}

bool CViewContainer::hitTest(const CPoint& where, const CButtonState& buttons) const {
    return CView::hitTest(where, buttons);
}

bool CViewContainer::isDirty() const {
    if (dirty_) return true;
    return std::any_of(children_.begin(), children_.end(),
                       [](const CView* child) { return child->isVisible() && child->isDirty(); });
}

bool CViewContainer::removed(CView* parent) {
    for (CView* child : children_) child->removed(this);
    return CView::removed(parent);
}

bool CViewContainer::attached(CView* parent) {
    CView::attached(parent);
    for (CView* child : children_) child->attached(this);
    return true;
}

bool CViewContainer::isTypeOf(const char* className) const {
    return (className != nullptr && std::strcmp(className, "CViewContainer") == 0) ||
           CView::isTypeOf(className);
}

void CViewContainer::invalidateDirtyViews() {
    if (dirty_) {
        invalid();
        for (CView* child : children_) child->setDirty(false);
        return;
    }
    for (CView* child : children_) {
        if (!child->isVisible()) continue;
        if (child->isContainer()) {
            static_cast<CViewContainer*>(child)->invalidateDirtyViews();
        } else if (child->isDirty()) {
            child->invalid();
        }
    }
}

}  // namespace VSTGUI
