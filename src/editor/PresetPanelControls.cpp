#include "editor/PresetPanelControls.h"

using namespace VSTGUI;

namespace {
constexpr CButtonState kMouseButtons = kLButton | kMButton | kRButton;
}

// ------------------------------------------------------------------ CSaveLoadButton

CSaveLoadButton::CSaveLoadButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                                 CBitmap* bitmap, CCoord frameHeight)
    : CControl(size, listener, tag, bitmap), frameHeight_(frameHeight) {}

void CSaveLoadButton::draw(CDrawContext* context) {
    const int frame = value_ != 0.0f ? 2 : (hovered_ ? 1 : 0);
    drawStripFrame(context, background_.get(), frameHeight_, frame);
    setDirty(false);
}

CMouseEventResult CSaveLoadButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & (kLButton | kRButton)) == 0 || listener_ == nullptr) {
        return kMouseEventNotHandled;
    }
    value_ = buttons == kRButton ? 0.5f : 1.0f;
    notifyListener();
    value_ = 0.0f;
    invalid();
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

CMouseEventResult CSaveLoadButton::onMouseEntered(CPoint&, const CButtonState&) {
    hovered_ = true;
    invalid();
    return kMouseEventHandled;
}

CMouseEventResult CSaveLoadButton::onMouseExited(CPoint&, const CButtonState&) {
    hovered_ = false;
    invalid();
    return kMouseEventHandled;
}

// ------------------------------------------------------------------ CPSKickButton

CPSKickButton::CPSKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                             CBitmap* bitmap, CCoord frameHeight, bool needsDoubleClick)
    : CControl(size, listener, tag, bitmap),
      frameHeight_(frameHeight),
      needsDoubleClick_(needsDoubleClick) {}

void CPSKickButton::draw(CDrawContext* context) {
    const int frame = pressed_ ? 2 : (hovered_ ? 1 : 0);
    drawStripFrame(context, background_.get(), frameHeight_, frame);
    setDirty(false);
}

CMouseEventResult CPSKickButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    if (needsDoubleClick_ && (buttons & kDoubleClick) == 0) {
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    }
    pressed_ = true;
    value_ = needsDoubleClick_ && (buttons & kControl) != 0 ? 0.5f : 1.0f;
    notifyListener();
    invalid();
    return kMouseEventHandled;
}

CMouseEventResult CPSKickButton::onMouseUp(CPoint&, const CButtonState&) {
    value_ = 0.0f;
    pressed_ = false;
    invalid();
    return kMouseEventHandled;
}

CMouseEventResult CPSKickButton::onMouseEntered(CPoint&, const CButtonState&) {
    hovered_ = true;
    invalid();
    return kMouseEventHandled;
}

CMouseEventResult CPSKickButton::onMouseExited(CPoint&, const CButtonState&) {
    hovered_ = false;
    invalid();
    return kMouseEventHandled;
}

// ------------------------------------------------------------------ CPSRockerSwitch

CPSRockerSwitch::CPSRockerSwitch(const CRect& size, CControlListener* listener, std::int32_t tag,
                                 CBitmap* bitmap, CCoord frameHeight)
    : CControl(size, listener, tag, bitmap), frameHeight_(frameHeight) {
    setMin(-1.0f);
    setMax(1.0f);
}

int CPSRockerSwitch::sideOf(const CPoint& where) const {
    return where.h < (size_.left + size_.right) / 2 ? -1 : 1;
}

void CPSRockerSwitch::draw(CDrawContext* context) {
    int frame = 0;
    if (value_ < 0.0f) {
        frame = 3;
    } else if (value_ > 0.0f) {
        frame = 4;
    } else if (hoverSide_ != 0) {
        frame = hoverSide_ < 0 ? 1 : 2;
    }
    drawStripFrame(context, background_.get(), frameHeight_, frame);
    setDirty(false);
}

CMouseEventResult CPSRockerSwitch::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    value_ = static_cast<float>(sideOf(where));
    invalid();
    notifyListener();
    return kMouseEventHandled;
}

CMouseEventResult CPSRockerSwitch::onMouseUp(CPoint&, const CButtonState&) {
    value_ = 0.0f;
    invalid();
    return kMouseEventHandled;
}

CMouseEventResult CPSRockerSwitch::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kMouseButtons) != 0) return kMouseEventHandled;
    const int side = size_.pointInside(where) ? sideOf(where) : 0;
    if (side != hoverSide_) {
        hoverSide_ = side;
        invalid();
    }
    return kMouseEventHandled;
}

CMouseEventResult CPSRockerSwitch::onMouseExited(CPoint&, const CButtonState&) {
    if (hoverSide_ != 0) {
        hoverSide_ = 0;
        invalid();
    }
    return kMouseEventHandled;
}

// ------------------------------------------------------------------ CPSTextEdit

CPSTextEdit::CPSTextEdit(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* background)
    : CTextEdit(size, listener, tag, nullptr, background) {
    setBackOffset(CPoint(size.left, size.top));
    setFont(kNormalFontSmall);
    setFontColor(CColor{36, 36, 32, 255});
    setFrameColor(CColor{36, 36, 32, 255});
    setBackColor(CColor{189, 207, 218, 255});
    setHoriAlign(kCenterText);
}
