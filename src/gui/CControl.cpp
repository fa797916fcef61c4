#include "gui/CControl.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gui/CFrame.h"

namespace VSTGUI {

namespace {
// Set by the host through the editor, read by anyone: atomic for that reason alone.
std::atomic<std::int32_t> knobMode{0};
}  // namespace

void setGlobalKnobMode(std::int32_t mode) { knobMode = mode; }
std::int32_t getGlobalKnobMode() { return knobMode; }

// ---------------------------------------------------------------- CControl

CControl::CControl(const CRect& size, CControlListener* listener, std::int32_t tag,
                   CBitmap* background)
    : CView(size), listener_(listener), tag_(tag) {
    if (background != nullptr) setBackground(background);
}

void CControl::bounceValue() { value_ = std::max(min_, std::min(max_, value_)); }

bool CControl::checkDefaultValue(CButtonState buttons) {
    if (buttons != (kLButton | kControl)) return false;
    beginEdit();
    value_ = defaultValue_;
    if (isDirty()) notifyListener();
    endEdit();
    return true;
}

void CControl::beginEdit() {
    if (listener_ != nullptr) listener_->controlBeginEdit(this);
    if (frame_ != nullptr) {
        frame_->setFocusView(this);
        frame_->beginEdit(tag_);
    }
}

void CControl::endEdit() {
    if (frame_ != nullptr) frame_->endEdit(tag_);
    if (listener_ != nullptr) listener_->controlEndEdit(this);
}

bool CControl::isDirty() const { return dirty_ || value_ != oldValue_; }

void CControl::setDirty(bool dirty) {
    dirty_ = dirty;
    if (!dirty) oldValue_ = value_;
}

bool CControl::isTypeOf(const char* className) const {
    return (className != nullptr && std::strcmp(className, "CControl") == 0) ||
           CView::isTypeOf(className);
}

bool CControl::isDoubleClick() {
    const auto now = std::chrono::steady_clock::now();
    const bool doubleClick = now - lastClick_ <= kDoubleClickTime;
    lastClick_ = doubleClick ? std::chrono::steady_clock::time_point{} : now;
    return doubleClick;
}

void CControl::drawStripFrame(CDrawContext* context, CBitmap* bitmap, CCoord frameHeight,
                              int frame) {
    if (bitmap == nullptr) return;
    bitmap->draw(context, size_, CPoint(0, frameHeight * std::max(0, frame)));
}

// ---------------------------------------------------------------- COnOffButton

COnOffButton::COnOffButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                           CBitmap* background)
    : CControl(size, listener, tag, background) {}

void COnOffButton::draw(CDrawContext* context) {
    drawStripFrame(context, background_.get(), size_.height(), value_ != 0.0f ? 1 : 0);
    setDirty(false);
}

CMouseEventResult COnOffButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    value_ = static_cast<long>(value_) != 0 ? 0.0f : 1.0f;
    invalid();
    beginEdit();
    notifyListener();
    endEdit();
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

// ---------------------------------------------------------------- CKickButton

CKickButton::CKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* background, const CPoint& offset)
    : CKickButton(size, listener, tag, size.height(), background, offset) {}

CKickButton::CKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CCoord heightOfOneImage, CBitmap* background, const CPoint& offset)
    : CControl(size, listener, tag, background),
      offset_(offset),
      heightOfOneImage_(heightOfOneImage) {}

void CKickButton::draw(CDrawContext* context) {
    if (background_) {
        const CCoord row = value_ == max_ ? heightOfOneImage_ : 0;
        background_->draw(context, size_, CPoint(offset_.h, offset_.v + row));
    }
    setDirty(false);
}

CMouseEventResult CKickButton::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    entryValue_ = value_;
    beginEdit();
    value_ = max_;
    invalid();
    if (value_ != entryValue_) notifyListener();
    (void)where;
    return kMouseEventHandled;
}

CMouseEventResult CKickButton::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    const float previous = value_;
    value_ = size_.pointInside(where) ? max_ : min_;
    if (value_ != previous) {
        invalid();
        notifyListener();
    }
    return kMouseEventHandled;
}

CMouseEventResult CKickButton::onMouseUp(CPoint&, const CButtonState&) {
    if (value_ != min_) {
        value_ = min_;
        notifyListener();
    }
    invalid();
    endEdit();
    return kMouseEventHandled;
}

// ---------------------------------------------------------------- CKnob

CKnob::CKnob(const CRect& size, CControlListener* listener, std::int32_t tag, CBitmap* background,
             CBitmap* handle, const CPoint& offset)
    : CControl(size, listener, tag, background), offset_(offset) {
    handle_.reset(handle);
    setWantsFocus(true);
}

CKnob::~CKnob() = default;

void CKnob::draw(CDrawContext* context) {
    if (background_) background_->draw(context, size_, offset_);
    const double v = std::max(0.0f, std::min(1.0f, (value_ - min_) / std::max(1e-9f, max_ - min_)));
    // 270 degrees, from lower left (7:30) clockwise to lower right (4:30).
    const double angle = (225.0 - 270.0 * v) * M_PI / 180.0;
    const double cx = (size_.left + size_.right) / 2.0;
    const double cy = (size_.top + size_.bottom) / 2.0;
    const double radius = std::min(size_.width(), size_.height()) / 2.0 - 2.0;
    const CPoint tip(static_cast<CCoord>(std::lround(cx + radius * std::cos(angle))),
                     static_cast<CCoord>(std::lround(cy - radius * std::sin(angle))));
    if (handle_) {
        const CCoord w = handle_->getWidth();
        const CCoord h = handle_->getHeight();
        handle_->draw(context,
                      CRect(tip.h - w / 2, tip.v - h / 2, tip.h - w / 2 + w, tip.v - h / 2 + h));
    } else {
        const CColor saved = context->getFrameColor();
        context->setFrameColor(colorHandle_);
        context->moveTo(CPoint(static_cast<CCoord>(cx), static_cast<CCoord>(cy)));
        context->lineTo(tip);
        context->setFrameColor(saved);
    }
    setDirty(false);
}

CMouseEventResult CKnob::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    if (checkDefaultValue(buttons)) {
        invalid();
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    }
    anchor_ = where;
    anchorValue_ = value_;
    anchorButtons_ = buttons;
    beginEdit();
    return kMouseEventHandled;
}

CMouseEventResult CKnob::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    const float range = (buttons & kShift) != 0 ? 1000.0f : 200.0f;
    if ((buttons & kShift) != (anchorButtons_ & kShift)) {
        // Re-anchor when Shift changes so the value does not jump.
        anchor_ = where;
        anchorValue_ = value_;
        anchorButtons_ = buttons;
    }
    const float delta = static_cast<float>((where.h - anchor_.h) - (where.v - anchor_.v));
    const float previous = value_;
    value_ = anchorValue_ + delta * (max_ - min_) / range;
    bounceValue();
    if (value_ != previous) {
        invalid();
        notifyListener();
    }
    return kMouseEventHandled;
}

CMouseEventResult CKnob::onMouseUp(CPoint&, const CButtonState&) {
    endEdit();
    return kMouseEventHandled;
}

void CKnob::stepValue(float delta) {
    const float previous = value_;
    value_ += delta;
    bounceValue();
    if (value_ == previous) return;
    invalid();
    if (listener_ == nullptr) return;
    beginEdit();
    notifyListener();
    endEdit();
}

bool CKnob::onWheel(const CPoint&, const float& distance, const CButtonState& buttons) {
    stepValue(distance * wheelInc_ * ((buttons & kShift) != 0 ? 0.1f : 1.0f));
    return true;
}

std::int32_t CKnob::onKeyDown(CKeyCode& key) {
    const float step = wheelInc_ * ((key.modifier & MODIFIER_SHIFT) != 0 ? 0.1f : 1.0f);
    switch (key.virt) {
        case VKEY_UP:
        case VKEY_RIGHT:
            stepValue(step);
            return kKeyHandled;
        case VKEY_DOWN:
        case VKEY_LEFT:
            stepValue(-step);
            return kKeyHandled;
        default:
            return kKeyNotHandled;
    }
}

// ---------------------------------------------------------------- CAnimKnob

CAnimKnob::CAnimKnob(const CRect& size, CControlListener* listener, std::int32_t tag,
                     CBitmap* background, const CPoint& offset)
    : CKnob(size, listener, tag, background, nullptr, offset) {
    heightOfOneImage_ = size.height();
    subPixmaps_ = background != nullptr && heightOfOneImage_ > 0
                      ? background->getHeight() / heightOfOneImage_
                      : 0;
}

CAnimKnob::CAnimKnob(const CRect& size, CControlListener* listener, std::int32_t tag,
                     int subPixmaps, CCoord heightOfOneImage, CBitmap* background,
                     const CPoint& offset)
    : CKnob(size, listener, tag, background, nullptr, offset) {
    heightOfOneImage_ = heightOfOneImage;
    subPixmaps_ = subPixmaps;
}

int CAnimKnob::frameCount() const {
    if (subPixmaps_ > 0) return subPixmaps_;
    if (!background_ || heightOfOneImage_ <= 0) return 0;
    return background_->getHeight() / heightOfOneImage_;
}

CCoord CAnimKnob::sourceRowFor(float value) const {
    const int n = frameCount();
    const CCoord fh = heightOfOneImage_;
    if (n <= 1 || fh <= 0) return 0;
    const float v = std::max(0.0f, std::min(1.0f, value));  // never outside the strip
    if (v >= 1.0f) return static_cast<CCoord>(n - 1) * fh;
    const CCoord d = static_cast<CCoord>(v * static_cast<float>(fh) * static_cast<float>(n - 1));
    return (d / fh) * fh;
}

void CAnimKnob::draw(CDrawContext* context) {
    if (background_)
        background_->draw(context, size_, CPoint(offset_.h, offset_.v + sourceRowFor(value_)));
    setDirty(false);
}

bool CAnimKnob::isTypeOf(const char* className) const {
    return (className != nullptr && std::strcmp(className, "CAnimKnob") == 0) ||
           CKnob::isTypeOf(className);
}

// ---------------------------------------------------------------- CRockerSwitch

CRockerSwitch::CRockerSwitch(const CRect& size, CControlListener* listener, std::int32_t tag,
                             CBitmap* background, const CPoint& offset)
    : CControl(size, listener, tag, background), offset_(offset) {
    min_ = -1.0f;
    max_ = 1.0f;
    value_ = 0.0f;
}

void CRockerSwitch::draw(CDrawContext* context) {
    int frame = 1;
    if (value_ == max_) frame = 2;
    if (value_ == min_) frame = 0;
    if (background_)
        background_->draw(context, size_, CPoint(offset_.h, offset_.v + frame * size_.height()));
    setDirty(false);
}

CMouseEventResult CRockerSwitch::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    beginEdit();
    value_ = where.h < (size_.left + size_.right) / 2 ? min_ : max_;
    invalid();
    notifyListener();
    return kMouseEventHandled;
}

CMouseEventResult CRockerSwitch::onMouseUp(CPoint&, const CButtonState&) {
    value_ = (min_ + max_) / 2.0f;
    invalid();
    notifyListener();
    endEdit();
    return kMouseEventHandled;
}

// ---------------------------------------------------------------- CParamDisplay / CTextLabel

CParamDisplay::CParamDisplay(const CRect& size, CBitmap* background)
    : CControl(size, nullptr, 0, background) {}

void CParamDisplay::drawText(CDrawContext* context, const char* text) {
    if (background_) {
        background_->draw(context, size_, backOffset_);
    } else if (!transparent_) {
        context->setFillColor(backColor_);
        context->drawRect(size_, kDrawFilled);
    }
    if (textTransparent_ || text == nullptr) return;
    context->setFont(font_);
    context->setFontColor(fontColor_);
    context->drawString(text, size_, false, horiAlign_);
}

void CParamDisplay::draw(CDrawContext* context) {
    char text[256] = {};
    if (stringConvert_ != nullptr) {
        stringConvert_(value_, text);
        text[255] = 0;
    } else {
        std::snprintf(text, sizeof text, "%2.2f", static_cast<double>(value_));
    }
    drawText(context, text);
    setDirty(false);
}

CTextLabel::CTextLabel(const CRect& size, const char* text, CBitmap* background)
    : CParamDisplay(size, background) {
    setText(text);
}

void CTextLabel::setText(const char* text) {
    text_ = text != nullptr ? text : "";
    setDirty(true);
}

void CTextLabel::draw(CDrawContext* context) {
    drawText(context, text_.c_str());
    setDirty(false);
}

}  // namespace VSTGUI
