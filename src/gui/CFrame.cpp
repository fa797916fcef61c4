#include "gui/CFrame.h"

#include <cstring>
#include <string>

#include "gui/CTextEdit.h"
#include "gui/FrameWindow.h"

namespace VSTGUI {

namespace {
constexpr auto kHostKeyWait = std::chrono::milliseconds(200);
constexpr CButtonState kMouseButtonBits = kLButton | kMButton | kRButton | kButton4 | kButton5;

// try_lock_for through polling try_lock: the timed wait of libstdc++ goes
// through pthread_mutex_clocklock, which ThreadSanitizer cannot see.
bool lockWithin(std::unique_lock<std::recursive_timed_mutex>& lock,
                std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!lock.try_lock()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

std::mutex displayNameMutex;
std::string displayNameOverride;
bool hasDisplayNameOverride = false;
}  // namespace

void setFrameDisplayName(const char* name) {
    std::lock_guard<std::mutex> lock(displayNameMutex);
    hasDisplayNameOverride = name != nullptr;
    displayNameOverride = name != nullptr ? name : "";
}

CFrame::CFrame(const CRect& size, void* parentWindow, VSTGUIEditorInterface* editor)
    : CViewContainer(CRect(0, 0, size.width(), size.height()), this), editor_(editor) {
    image_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max<CCoord>(1, size_.width()),
                                        std::max<CCoord>(1, size_.height()));
    if (parentWindow != nullptr) {
        std::string name;
        bool useName = false;
        {
            std::lock_guard<std::mutex> lock(displayNameMutex);
            name = displayNameOverride;
            useName = hasDisplayNameOverride;
        }
        window_ = std::make_unique<FrameWindow>(*this);
        // The name must outlive the thread's XOpenDisplay call, which open() waits for.
        if (!window_->open(reinterpret_cast<unsigned long>(parentWindow), size_.width(),
                           size_.height(), useName ? name.c_str() : nullptr))
            window_.reset();
    }
}

CFrame::~CFrame() {
    // The thread goes first: nothing may paint or dispatch while views die.
    if (window_) window_->close();
    {
        std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
        // An open edit box commits while every view is still in place: its
        // listener may look at other controls.
        if (activeTextEdit_ != nullptr) activeTextEdit_->looseFocus();
        activeTextEdit_ = nullptr;
        removeAll(true);
    }
    window_.reset();
    if (image_ != nullptr) cairo_surface_destroy(image_);
}

void CFrame::closeWindow() {
    if (window_) window_->close();
}

void CFrame::forget() {
    if (getNbReference() == 1 && window_ && window_->isWindowThread()) {
        // The last reference dropped in a callback of the frame's own thread (a
        // host closing the editor from automate or end-edit): the views and the
        // window are still on this thread's stack. The thread deletes the frame
        // once its loop has returned.
        window_->close();
        window_->deleteFrameWhenDone();
        return;
    }
    if (getNbReference() == 1) closeWindow();
    CViewContainer::forget();
}

bool CFrame::isWindowOpen() const { return window_ != nullptr && window_->isOpen(); }

unsigned long CFrame::getWindowId() const { return window_ ? window_->windowId() : 0; }

bool CFrame::isFrameThread() const { return !window_ || window_->isWindowThread(); }

void CFrame::enterLive() {
    if (window_) window_->setLive();
}

bool CFrame::isTypeOf(const char* className) const {
    return (className != nullptr && std::strcmp(className, "CFrame") == 0) ||
           CViewContainer::isTypeOf(className);
}

// ---------------------------------------------------------------- tree changes

bool CFrame::addView(CView* view) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    const bool added = CViewContainer::addView(view);
    enterLive();
    return added;
}

bool CFrame::removeView(CView* view, bool forget) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    return CViewContainer::removeView(view, forget);
}

bool CFrame::removeAll(bool forget) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    return CViewContainer::removeAll(forget);
}

void CFrame::setBackground(CBitmap* background) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    CViewContainer::setBackground(background);
    invalidateFrameRect(size_);
}

void CFrame::onViewRemoved(CView* view) {
    if (focusView_ == view) focusView_ = nullptr;
    if (modalView_ == view) modalView_ = nullptr;
    if (capturedView_ == view) capturedView_ = nullptr;
    if (mouseOverView_ == view) mouseOverView_ = nullptr;
    if (activeTextEdit_ != nullptr && static_cast<CView*>(activeTextEdit_) == view)
        setActiveTextEdit(nullptr);
}

void CFrame::onViewHidden(CView* view) {
    if (capturedView_ == view) capturedView_ = nullptr;
    if (mouseOverView_ == view) mouseOverView_ = nullptr;
}

// ---------------------------------------------------------------- redraw

namespace {
std::int64_t area(const CRect& r) {
    return r.isEmpty() ? 0 : static_cast<std::int64_t>(r.width()) * r.height();
}
// Pixels the union of `a` and `b` covers that neither of them does.
std::int64_t unionWaste(const CRect& a, const CRect& b) {
    CRect both = a;
    both.unite(b);
    CRect common = a;
    common.bound(b);
    return area(both) - (area(a) + area(b) - area(common));
}
// Merged when they overlap, or when the union adds at most a quarter of what
// they cover (one larger copy then costs less than two).
bool worthMerging(const CRect& a, const CRect& b) {
    if (a.rectOverlap(b)) return true;
    return unionWaste(a, b) * 4 <= area(a) + area(b);
}
}  // namespace

void DamageRegion::add(const CRect& rect) {
    if (rect.isEmpty()) return;
    CRect merged = rect;
    // A merge can grow the rectangle into others: look again until none joins.
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t i = 0; i < rectangles_.size(); ++i) {
            if (!worthMerging(rectangles_[i], merged)) continue;
            merged.unite(rectangles_[i]);
            rectangles_.erase(rectangles_.begin() + static_cast<std::ptrdiff_t>(i));
            joined = true;
            break;
        }
    }
    rectangles_.push_back(merged);
    if (rectangles_.size() <= kMaxRectangles) return;
    std::size_t bestA = 0;
    std::size_t bestB = 1;
    std::int64_t bestWaste = -1;
    for (std::size_t a = 0; a < rectangles_.size(); ++a)
        for (std::size_t b = a + 1; b < rectangles_.size(); ++b) {
            const std::int64_t waste = unionWaste(rectangles_[a], rectangles_[b]);
            if (bestWaste < 0 || waste < bestWaste) {
                bestWaste = waste;
                bestA = a;
                bestB = b;
            }
        }
    rectangles_[bestA].unite(rectangles_[bestB]);
    rectangles_.erase(rectangles_.begin() + static_cast<std::ptrdiff_t>(bestB));
}

CRect DamageRegion::bounds() const {
    CRect all;
    for (const CRect& r : rectangles_) all.unite(r);
    return all;
}

void CFrame::invalidateFrameRect(const CRect& rect) {
    CRect r = rect;
    r.bound(size_);
    if (r.isEmpty()) return;
    damage_.add(r);
    if (window_ && !window_->isWindowThread()) window_->requestRepaint();
}

void CFrame::paintDamage() {
    const std::vector<CRect> damage = damage_.rectangles();
    damage_.clear();
    if (damage.empty() || image_ == nullptr) return;
    CDrawContext context(image_);
    for (const CRect& update : damage) {
        context.setClipRect(update);
        drawBackgroundRect(&context, update);
        for (CView* child : children_) {
            if (!child->isVisible() || !child->checkUpdate(update)) continue;
            child->drawRect(&context, update);
            child->setDirty(false);
        }
        drawOverlays(&context, update);
        if (activeTextEdit_ != nullptr) activeTextEdit_->drawEditBox(&context);
        painted_.add(update);
    }
    cairo_surface_flush(image_);
    if (window_ && !window_->isWindowThread()) window_->requestRepaint();
}

std::vector<CRect> CFrame::takePaintedAreas() {
    std::vector<CRect> painted = painted_.rectangles();
    painted_.clear();
    return painted;
}

void CFrame::renderAll() {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    invalidateFrameRect(size_);
    paintDamage();
}

void CFrame::idle() {
    if (window_ && !window_->isWindowThread()) {
        window_->requestIdle();
        return;
    }
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    enterLive();
    invalidateDirtyViews();
    // Windowed: the frame's thread paints and copies after this call returns.
    if (!window_) paintDamage();
}

void CFrame::platformTimer() {
    if (inTimer_) return;
    inTimer_ = true;
    if (editor_ != nullptr) {
        editor_->onFrameTimer();
    } else {
        idle();
    }
    inTimer_ = false;
}

// ---------------------------------------------------------------- focus and keys

bool CFrame::setFocusView(CView* view) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    if (view == focusView_) return true;
    CView* old = focusView_;
    focusView_ = view;
    if (old != nullptr) old->looseFocus();
    // looseFocus may have moved the focus elsewhere; only then is `view` not told.
    if (focusView_ == view && view != nullptr) view->takeFocus();
    return true;
}

bool CFrame::advanceNextFocusView(CView* current, bool reverse) {
    std::vector<CView*> views;
    collectViews(views);
    std::vector<CView*> candidates;
    for (CView* v : views)
        if (v->wantsFocus() && v->isVisible()) candidates.push_back(v);
    if (candidates.empty()) return false;
    auto it = std::find(candidates.begin(), candidates.end(), current);
    std::size_t index = 0;
    if (it == candidates.end()) {
        index = reverse ? candidates.size() - 1 : 0;
    } else {
        const std::size_t at = static_cast<std::size_t>(it - candidates.begin());
        index = reverse ? (at + candidates.size() - 1) % candidates.size()
                        : (at + 1) % candidates.size();
    }
    setFocusView(candidates[index]);
    return true;
}

bool CFrame::setModalView(CView* view) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    if (view != nullptr && modalView_ != nullptr && view != modalView_) return false;
    modalView_ = view;
    return true;
}

std::int32_t CFrame::onKeyDown(CKeyCode& key) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_, std::defer_lock);
    // A host thread must not stall behind a long pop-up; the key is then unused.
    if (!lockWithin(lock, kHostKeyWait)) return kKeyNotHandled;
    enterLive();
    std::int32_t result = kKeyNotHandled;
    if (focusView_ != nullptr) result = focusView_->onKeyDown(key);
    if (result == kKeyNotHandled && modalView_ != nullptr) result = modalView_->onKeyDown(key);
    if (result == kKeyNotHandled && key.virt == VKEY_TAB) {
        if (advanceNextFocusView(focusView_, (key.modifier & MODIFIER_SHIFT) != 0))
            result = kKeyHandled;
    }
    return result;
}

std::int32_t CFrame::onKeyUp(CKeyCode& key) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_, std::defer_lock);
    if (!lockWithin(lock, kHostKeyWait)) return kKeyNotHandled;
    std::int32_t result = kKeyNotHandled;
    if (focusView_ != nullptr) result = focusView_->onKeyUp(key);
    if (result == kKeyNotHandled && modalView_ != nullptr) result = modalView_->onKeyUp(key);
    return result;
}

void CFrame::beginEdit(std::int32_t index) {
    if (editor_ != nullptr) editor_->beginEdit(index);
}

void CFrame::endEdit(std::int32_t index) {
    if (editor_ != nullptr) editor_->endEdit(index);
}

// ---------------------------------------------------------------- mouse

void CFrame::updateMouseOver(const CPoint& where, CButtonState buttons) {
    CView* over = getViewAt(where, true);
    if (over == mouseOverView_) return;
    CPoint p = where;
    if (mouseOverView_ != nullptr) {
        CView* old = mouseOverView_;
        mouseOverView_ = nullptr;
        old->frameToLocal(p);
        old->onMouseExited(p, buttons);
    }
    mouseOverView_ = over;
    if (over != nullptr) {
        p = where;
        over->frameToLocal(p);
        over->onMouseEntered(p, buttons);
    }
}

CMouseEventResult CFrame::platformMouseDown(const CPoint& where, CButtonState buttons) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    // Another button pressed while the buttons of a drag are still down belongs
    // to that drag: the captured view keeps the capture and sees no second
    // press, so its one press pairs with one release. A press that adds no new
    // button (the same button again) means the last release never arrived: a
    // fresh press.
    const CButtonState held = currentButtons_ & kMouseButtonBits;
    const CButtonState pressed = buttons & kMouseButtonBits;
    const bool joinsDrag =
        capturedView_ != nullptr && (pressed & held) != 0 && (pressed & ~held) != 0;
    currentButtons_ = buttons;
    currentMouse_ = where;
    if (joinsDrag) return kMouseEventNotHandled;
    CPoint p = where;
    capturedView_ = nullptr;
    if (modalView_ != nullptr) {
        modalView_->frameToLocal(p);
        const CMouseEventResult result = modalView_->onMouseDown(p, buttons);
        if (result == kMouseEventHandled) capturedView_ = modalView_;
        return result;
    }
    // A press elsewhere ends an open edit box (focus loss closes it).
    if (activeTextEdit_ != nullptr) {
        CView* target = getViewAt(where, true);
        if (target != static_cast<CView*>(activeTextEdit_)) setFocusView(nullptr);
    }
    return CViewContainer::onMouseDown(p, buttons);
}

CMouseEventResult CFrame::platformMouseUp(const CPoint& where, CButtonState buttons) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    currentButtons_ = buttons;
    currentMouse_ = where;
    CMouseEventResult result = kMouseEventNotHandled;
    // `buttons` are those still down: the captured view's release waits for the last one.
    if (capturedView_ != nullptr && (buttons & kMouseButtonBits) != 0) return result;
    mouseDownView_ = nullptr;
    if (capturedView_ != nullptr) {
        CView* view = capturedView_;
        capturedView_ = nullptr;
        CPoint p = where;
        view->frameToLocal(p);
        result = view->onMouseUp(p, buttons);
    }
    updateMouseOver(where, buttons);
    return result;
}

CMouseEventResult CFrame::platformMouseMoved(const CPoint& where, CButtonState buttons) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    currentButtons_ = buttons;
    currentMouse_ = where;
    if (capturedView_ == nullptr) updateMouseOver(where, buttons);
    CPoint p = where;
    if (modalView_ != nullptr) {
        modalView_->frameToLocal(p);
        return modalView_->onMouseMoved(p, buttons);
    }
    if (capturedView_ != nullptr) {
        capturedView_->frameToLocal(p);
        return capturedView_->onMouseMoved(p, buttons);
    }
    return CViewContainer::onMouseMoved(p, buttons);
}

void CFrame::platformMouseExited() {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    if (capturedView_ != nullptr) return;  // the release still belongs to the captured view
    if (mouseOverView_ != nullptr) {
        CView* old = mouseOverView_;
        mouseOverView_ = nullptr;
        CPoint p = currentMouse_;
        old->frameToLocal(p);
        old->onMouseExited(p, currentButtons_);
    }
}

bool CFrame::platformWheel(const CPoint& where, CMouseWheelAxis axis, float notches,
                           CButtonState buttons) {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    const CButtonState modifiers = buttons & (kShift | kControl | kAlt);
    CPoint p = where;
    if (modalView_ != nullptr) {
        modalView_->frameToLocal(p);
        return modalView_->onWheel(p, axis, notches, modifiers);
    }
    return CViewContainer::onWheel(p, axis, notches, modifiers);
}

void CFrame::platformFocusLost() {
    std::unique_lock<std::recursive_timed_mutex> lock(viewLock_);
    if (activeTextEdit_ != nullptr) setFocusView(nullptr);
}

// ---------------------------------------------------------------- edit box and pop-ups

void CFrame::setActiveTextEdit(CTextEdit* edit) {
    if (activeTextEdit_ == edit) return;
    if (activeTextEdit_ != nullptr) invalidateFrameRect(activeTextEdit_->getEditBoxRect());
    activeTextEdit_ = edit;
    if (edit != nullptr) invalidateFrameRect(edit->getEditBoxRect());
}

void CFrame::requestInputFocus() {
    if (window_) window_->requestInputFocus();
}

void CFrame::releaseInputFocus() {
    if (window_) window_->releaseInputFocus();
}

bool CFrame::openPopup(PopupClient* client, const CPoint& where) {
    if (!window_ || !window_->isWindowThread()) return false;
    return window_->openPopup(client, where);
}

bool CFrame::runModalPopup(PopupClient* client, const CPoint& where) {
    if (!window_ || !window_->isWindowThread()) return false;
    return window_->runModalPopup(client, where);
}

void CFrame::closePopup() {
    if (window_ && window_->isWindowThread()) window_->closePopup();
}

bool CFrame::watchChild(std::unique_ptr<ChildWatch> watch) {
    if (!window_ || !window_->isWindowThread()) return false;
    return window_->addChildWatch(std::move(watch));
}

}  // namespace VSTGUI
