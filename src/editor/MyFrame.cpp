#include "editor/MyFrame.h"

#include <mutex>

using namespace VSTGUI;

MyFrame::MyFrame(const CRect& size, void* parentWindow, VSTGUIEditorInterface* editor)
    : CFrame(size, parentWindow, editor) {}

// The base destructor removes the children; no overlay may be drawn or asked after this.
MyFrame::~MyFrame() { overlay_ = nullptr; }

void MyFrame::setOverlayView(CView* view) {
    std::unique_lock<std::recursive_timed_mutex> lock(getViewLock());
    if (view == overlay_) return;
    CView* previous = overlay_;
    // The overlay takes the presses through the frame's modal slot.
    if (previous != nullptr && getModalView() == previous) setModalView(nullptr);
    overlay_ = nullptr;
    if (view == nullptr) return;
    if (setModalView(view)) {
        overlay_ = view;
    } else if (previous != nullptr && setModalView(previous)) {
        overlay_ = previous;
    }
}

void MyFrame::drawOverlays(CDrawContext* context, const CRect&) {
    // The context is already clipped to the area being painted.
    if (overlay_ != nullptr && overlay_->isVisible()) overlay_->draw(context);
}

bool MyFrame::removeView(CView* view, bool forget) {
    std::unique_lock<std::recursive_timed_mutex> lock(getViewLock());
    if (view != nullptr && view == overlay_) setOverlayView(nullptr);
    return CFrame::removeView(view, forget);
}

bool MyFrame::removeAll(bool forget) {
    std::unique_lock<std::recursive_timed_mutex> lock(getViewLock());
    setOverlayView(nullptr);
    return CFrame::removeAll(forget);
}
