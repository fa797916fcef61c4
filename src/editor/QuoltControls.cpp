#include "editor/QuoltControls.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "editor/MyFrame.h"
#include "editor/NumberText.h"
#include "effect/ParameterModel.h"
#include "gui/CFrame.h"

using namespace VSTGUI;

namespace {

constexpr CMouseEventResult kPressTaken = kMouseDownEventHandledButDontNeedMovedOrUpEvents;

bool leftDown(CButtonState buttons) { return (buttons & kLButton) != 0; }

// Frame `frame` of a strip whose frames are as high as the control.
void drawFrame(CDrawContext* context, CBitmap* bitmap, const CRect& size, int frame) {
    if (bitmap != nullptr) bitmap->draw(context, size, CPoint(0, frame * size.height()));
}

void drawRow(CDrawContext* context, CBitmap* bitmap, const CRect& size, CCoord row) {
    if (bitmap != nullptr) bitmap->draw(context, size, CPoint(0, row));
}

}  // namespace

// ---------------------------------------------------------------- CQuoltButton

CQuoltButton::CQuoltButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                           CBitmap* bitmap, MeteringActions* saveGesture)
    : COnOffButton(size, listener, tag, bitmap), saveGesture_(saveGesture) {}

void CQuoltButton::setSaveHighlight(bool on) {
    saveHighlight_ = on;
    setDirty(true);
}

void CQuoltButton::draw(CDrawContext* context) {
    int frame = tq::stepIndex(value_, 2) == 1 ? 1 : 0;
    if (saveHighlight_) frame = 2;
    drawFrame(context, background_.get(), size_, frame);
    setDirty(false);
}

CMouseEventResult CQuoltButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (saveGesture_ != nullptr && (buttons & kRButton) != 0) {
        saveGesture_->saveMeteringPreferences();
        invalid();
        return kPressTaken;
    }
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    value_ = tq::stepIndex(value_, 2) != 1 ? tq::stepCentre(1, 2) : tq::stepCentre(0, 2);
    notifyListener();
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- COversamplingButton

COversamplingButton::COversamplingButton(const CRect& size, CControlListener* listener,
                                         std::int32_t tag, CBitmap* bitmap)
    : COnOffButton(size, listener, tag, bitmap) {}

void COversamplingButton::draw(CDrawContext* context) {
    drawRow(context, background_.get(), size_, tq::stepIndex(value_, 2) == 1 ? 19 : 0);
    setDirty(false);
}

CMouseEventResult COversamplingButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    // "Integer part not 0", written without converting a possibly NaN float to an integer.
    value_ = std::fabs(value_) >= 1.0f ? 0.0f : 1.0f;
    notifyListener();
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- CModeButton

CModeButton::CModeButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* bitmap, MeteringActions* actions)
    : CControl(size, listener, tag, bitmap), actions_(actions) {}

void CModeButton::setType(int type) {
    type_ = std::clamp(type, 0, 1);
    setDirty(true);
}

void CModeButton::setScale(int scale) {
    scale_ = std::clamp(scale, 0, 2);
    setDirty(true);
}

void CModeButton::setSaveHighlight(bool on) {
    saveHighlight_ = on;
    setDirty(true);
}

void CModeButton::draw(CDrawContext* context) {
    int frame = type_ == 1 ? 3 + scale_ : scale_;
    if (saveHighlight_) frame = 6;
    drawFrame(context, background_.get(), size_, frame);
    setDirty(false);
}

CMouseEventResult CModeButton::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (!leftDown(buttons) || listener_ == nullptr || actions_ == nullptr)
        return kMouseEventNotHandled;
    if ((buttons & kRButton) != 0) {
        actions_->saveMeteringPreferences();
    } else if (where.v < size_.top + kZoneRows) {
        actions_->setMeterType(0);
    } else if (where.v > size_.bottom - kZoneRows) {
        // A second press on the K-system part steps to the next K scale.
        if (type_ == 1) actions_->setMeterScale((scale_ + 1) % 3);
        actions_->setMeterType(1);
    }
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- CStepSelector, CBits,
// CNoiseShape

CStepSelector::CStepSelector(const CRect& size, CControlListener* listener, std::int32_t tag,
                             CBitmap* bitmap, int steps)
    : CControl(size, listener, tag, bitmap), steps_(steps) {}

void CStepSelector::setEnabled(bool enabled) {
    enabled_ = enabled;
    setDirty(true);
}

void CStepSelector::setIndex(int index) {
    index_ = std::clamp(index, 0, steps_ - 1);
    setDirty(true);
}

CMouseEventResult CStepSelector::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    index_ = (index_ + 1) % steps_;
    value_ = tq::stepCentre(index_, steps_);
    notifyListener();
    invalid();
    return kPressTaken;
}

CBits::CBits(const CRect& size, CControlListener* listener, std::int32_t tag, CBitmap* bitmap)
    : CStepSelector(size, listener, tag, bitmap, 3) {}

void CBits::draw(CDrawContext* context) {
    drawFrame(context, background_.get(), size_, (enabled_ ? 3 : 0) + index_);
    setDirty(false);
}

CNoiseShape::CNoiseShape(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* bitmap)
    : CStepSelector(size, listener, tag, bitmap, 4) {}

void CNoiseShape::draw(CDrawContext* context) {
    // "Off" has one frame only; A, B and C have a dimmed and a lit one.
    drawFrame(context, background_.get(), size_, index_ + (enabled_ && index_ != 0 ? 3 : 0));
    setDirty(false);
}

// ---------------------------------------------------------------- CAutoBlack

CAutoBlack::CAutoBlack(const CRect& size, CControlListener* listener, std::int32_t tag,
                       CBitmap* bitmap)
    : CControl(size, listener, tag, bitmap) {}

void CAutoBlack::setEnabled(bool enabled) {
    enabled_ = enabled;
    setDirty(true);
}

void CAutoBlack::setState(int state) {
    state_ = state != 0 ? 1 : 0;
    setDirty(true);
}

void CAutoBlack::draw(CDrawContext* context) {
    int frame = 0;
    if (state_ != 0) frame = enabled_ ? 1 : 2;
    drawFrame(context, background_.get(), size_, frame);
    setDirty(false);
}

CMouseEventResult CAutoBlack::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    state_ = 1 - state_;
    value_ = tq::stepCentre(state_, 2);
    notifyListener();
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- CCalibButton

CCalibButton::CCalibButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                           CBitmap* bitmap)
    : CControl(size, listener, tag, bitmap) {}

void CCalibButton::idleTick(std::uint32_t tick) {
    lastIdleTick_ = tick;
    if (tq::stepIndex(value_, 4) != 0) setDirty(true);
}

CCoord CCalibButton::sourceRow() const {
    int frame = tq::stepIndex(value_, 4);
    // Values go off, L, L+R, R; the strip shows off, L, R, L+R.
    if (frame == 2) {
        frame = 3;
    } else if (frame == 3) {
        frame = 2;
    }
    CCoord row = kFrameRows * frame;
    const bool darkPhase = ((lastIdleTick_ - clickTick_) & 0x100u) == 0;
    if (frame != 0 && darkPhase) row += 3 * kFrameRows;
    return row;
}

void CCalibButton::draw(CDrawContext* context) {
    drawRow(context, background_.get(), size_, sourceRow());
    setDirty(false);
}

CMouseEventResult CCalibButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    const int next = (tq::stepIndex(value_, 4) + 1) % 4;
    value_ = tq::stepCentre(next, 4);
    notifyListener();
    clickTick_ = lastIdleTick_;
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- CSpeedSwitch

CSpeedSwitch::CSpeedSwitch(const CRect& size, CControlListener* listener, std::int32_t tag,
                           CBitmap* bitmap)
    : CControl(size, listener, tag, bitmap) {}

int CSpeedSwitch::zoneAt(const CPoint& where) {
    if (where.v < 123 || where.v > 140) return -1;
    constexpr CCoord kZoneLeft[3] = {39, 72, 105};
    for (int zone = 0; zone < 3; ++zone) {
        if (where.h >= kZoneLeft[zone] && where.h <= kZoneLeft[zone] + 17) return zone;
    }
    return -1;
}

void CSpeedSwitch::draw(CDrawContext* context) {
    drawRow(context, background_.get(), size_, kFrameRows * tq::stepIndex(value_, 3));
    setDirty(false);
}

CMouseEventResult CSpeedSwitch::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    const int zone = zoneAt(where);
    if (zone < 0) return kPressTaken;  // between the squares: taken, nothing changes
    value_ = tq::stepCentre(zone, 3);
    notifyListener();
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- CMyKnob

CMyKnob::CMyKnob(const CRect& size, CControlListener* listener, std::int32_t tag, CBitmap* bitmap,
                 CCoord frameHeight)
    : CAnimKnob(size, listener, tag,
                bitmap != nullptr && frameHeight > 0 ? bitmap->getHeight() / frameHeight : 0,
                frameHeight, bitmap) {}

float CMyKnob::dragPixelsFor(CButtonState buttons) {
    return (buttons & kShift) != 0 ? kFineDragPixels : kDragPixels;
}

CMouseEventResult CMyKnob::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    if (checkDefaultValue(buttons)) {
        invalid();
        return kPressTaken;
    }
    // A press that arrives while a drag is still open (its release was lost)
    // ends that drag's edit first, so every begin has its end.
    if (dragging_) endEdit();
    dragAnchor_ = where;
    dragAnchorValue_ = value_;
    valuePerPixel_ = (max_ - min_) / dragPixelsFor(buttons);
    dragButtons_ = buttons;
    dragging_ = true;
    beginEdit();
    dragTo(where, buttons);
    return kMouseEventHandled;
}

CMouseEventResult CMyKnob::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    // Only the drag this knob started moves it, not a pointer passing over it
    // with the button held.
    if (!leftDown(buttons) || !dragging_) return kMouseEventNotHandled;
    if (where == lastPosition_) return kMouseEventHandled;
    dragTo(where, buttons);
    return kMouseEventHandled;
}

void CMyKnob::dragTo(const CPoint& where, CButtonState buttons) {
    lastPosition_ = where;
    // Right and up raise the value.
    const float delta = static_cast<float>((where.h - dragAnchor_.h) - (where.v - dragAnchor_.v));
    if (buttons != dragButtons_) {
        // Shift changed mid-drag: a new rate from here on, and the anchor value
        // moves so that the value itself does not jump.
        const float valuePerPixel = (max_ - min_) / dragPixelsFor(buttons);
        dragAnchorValue_ += (valuePerPixel_ - valuePerPixel) * delta;
        valuePerPixel_ = valuePerPixel;
        dragButtons_ = buttons;
    }
    value_ = dragAnchorValue_ + delta * valuePerPixel_;
    bounceValue();
    invalid();
    notifyListener();
}

CMouseEventResult CMyKnob::onMouseUp(CPoint&, const CButtonState&) {
    if (dragging_) {
        dragging_ = false;
        endEdit();
    }
    return kMouseEventHandled;
}

bool CMyKnob::onWheel(const CPoint&, const float& distance, const CButtonState& buttons) {
    const float step = (buttons & kShift) != 0 ? 0.001f : 0.01f;
    const float previous = value_;
    value_ += distance * step;
    bounceValue();
    if (value_ == previous) return true;
    invalid();
    if (listener_ != nullptr) {
        beginEdit();
        notifyListener();
        endEdit();
    }
    return true;
}

bool CMyKnob::removed(CView* parent) {
    if (dragging_) {
        dragging_ = false;
        endEdit();
    }
    return CAnimKnob::removed(parent);
}

// ---------------------------------------------------------------- CMyTextEdit

namespace {

enum FieldTag : std::int32_t {
    kOutputField = 0,
    kDriveField = 1,
    kTransientField = 2,
    kReleaseField = 3,
    kLinkField = 5,
    kLevellerField = 13,
};

// The number a field shows for `value`, without its unit.
double fieldNumber(std::int32_t tag, float value) {
    switch (tag) {
        case kOutputField:
        case kLevellerField:
            return 12.0f * (value - 1.0f);
        case kDriveField:
            return 48.0f * (value - 0.5f);
        case kTransientField:
        case kLinkField:
            return 100.0f * value;
        case kReleaseField:
            return tq::releaseTimeFor(std::clamp(value, 0.0f, 1.0f));
        default:
            return value;
    }
}

// "off" in any letter case, white space around it allowed.
bool isOffText(const char* text) {
    std::string trimmed(text);
    const auto notSpace = [](unsigned char c) { return std::isspace(c) == 0; };
    trimmed.erase(trimmed.begin(), std::find_if(trimmed.begin(), trimmed.end(), notSpace));
    trimmed.erase(std::find_if(trimmed.rbegin(), trimmed.rend(), notSpace).base(), trimmed.end());
    if (trimmed.size() != 3) return false;
    return std::tolower(static_cast<unsigned char>(trimmed[0])) == 'o' &&
           std::tolower(static_cast<unsigned char>(trimmed[1])) == 'f' &&
           std::tolower(static_cast<unsigned char>(trimmed[2])) == 'f';
}

}  // namespace

CMyTextEdit::CMyTextEdit(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* background, CBitmap* firstFont, CBitmap* secondFont)
    : CTextEdit(size, listener, tag, nullptr, background), printer_(firstFont, secondFont) {}

std::string CMyTextEdit::displayText(std::int32_t tag, float value) {
    const double number = fieldNumber(tag, value);
    switch (tag) {
        case kLevellerField:
            if (value == 1.0f) return "off";
            return tq::fixedText(number, 2, true) + "dB";
        case kOutputField:
        case kDriveField:
            return tq::fixedText(number, 2, true) + "dB";
        case kTransientField:
        case kLinkField:
            return tq::fixedText(number, 1, false) + "%";
        case kReleaseField:
            return tq::fixedText(number, 1, false) + "ms";
        default:
            return tq::fixedText(number, 2, false);
    }
}

std::string CMyTextEdit::editingText(std::int32_t tag, float value) {
    const double number = fieldNumber(tag, value);
    switch (tag) {
        case kLevellerField:
            if (value == 1.0f) return "off";
            return tq::fixedText(number, 2, false);
        case kTransientField:
        case kLinkField:
        case kReleaseField:
            return tq::fixedText(number, 1, false);
        default:
            return tq::fixedText(number, 2, false);
    }
}

float CMyTextEdit::valueFromText(std::int32_t tag, const char* text) {
    if (text == nullptr) text = "";
    if (tag == kLevellerField && isOffText(text)) return 1.0f;
    double t = tq::leadingNumber(text);
    // "nan" is a number to strtod, but no value a parameter can take: read as no number.
    if (std::isnan(t)) t = 0.0;
    switch (tag) {
        case kOutputField:
            if (t < -12.0) return 0.0f;
            if (t > 0.0) return 1.0f;
            return static_cast<float>((t + 12.0) / 12.0);
        case kDriveField:
            if (t < -24.0) return 0.0f;
            if (t > 24.0) return 1.0f;
            return static_cast<float>((t + 24.0) / 48.0);
        case kTransientField:
        case kLinkField:
            return static_cast<float>(std::clamp(t, 0.0, 100.0) / 100.0);
        case kReleaseField:
            t = std::clamp(t, 1.0, 1000.0);
            return static_cast<float>(std::pow(std::log10(t) / 3.0, 1.2190630447230832));
        case kLevellerField:
            return static_cast<float>((std::clamp(t, -12.0, 0.0) + 12.0) / 12.0);
        default:
            return static_cast<float>(std::clamp(t, 0.0, 1.0));
    }
}

void CMyTextEdit::draw(CDrawContext* context) {
    if (background_) background_->draw(context, size_, CPoint(size_.left, size_.top));
    const std::string text = displayText(tag_, value_);
    const CCoord textWidth = CTextPrinter::kAdvance * static_cast<CCoord>(text.size());
    const CCoord left = size_.left + std::max<CCoord>(0, (size_.width() - textWidth) / 2);
    const CCoord baseline = (size_.top + size_.bottom) / 2 + 4;
    printer_.print(context, CPoint(left, baseline), text.c_str(), false, false, true);
    setDirty(false);
}

void CMyTextEdit::prepareBox() {
    setText(editingText(tag_, value_).c_str());
    openedWith_ = getText();
}

CMouseEventResult CMyTextEdit::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    if (frame_ != nullptr && frame_->getFocusView() == this) {
        // The field has the focus already: only a press inside its open box
        // does something (it places the caret).
        if (editing_) return CTextEdit::onMouseDown(where, buttons);
        return kPressTaken;
    }
    if (!editing_) prepareBox();
    // The toolkit makes this the focus view (which opens the box) and begins the edit.
    return CTextEdit::onMouseDown(where, buttons);
}

void CMyTextEdit::takeFocus() {
    if (!editing_) prepareBox();
    CTextEdit::takeFocus();
}

template <class Step>
void CMyTextEdit::closingStep(Step step) {
    const bool wasEditing = editing_;
    const bool gestureOpen = gestureOpen_;
    // The toolkit's close would notify with the bare text and end the edit
    // before the value is known; this field does both itself, afterwards.
    gestureOpen_ = false;
    CControlListener* const listener = listener_;
    listener_ = nullptr;
    step();
    listener_ = listener;
    if (wasEditing && !editing_) {
        applyTypedText(gestureOpen);
    } else {
        gestureOpen_ = gestureOpen;
    }
}

void CMyTextEdit::applyTypedText(bool gestureOpen) {
    const bool changed = !wasCancelled() && openedWith_ != getText();
    if (changed) {
        value_ = valueFromText(tag_, getText());
        // A box opened without a press (the Tab key) has no edit begun yet.
        if (!gestureOpen) sendBeginEdit();
        notifyListener();
        endEdit();
    } else if (gestureOpen) {
        endEdit();
    }
    invalid();
}

void CMyTextEdit::sendBeginEdit() {
    // As CControl::beginEdit, but without taking the focus, which would open the box again.
    if (listener_ != nullptr) listener_->controlBeginEdit(this);
    if (frame_ != nullptr) frame_->beginEdit(tag_);
}

std::int32_t CMyTextEdit::onKeyDown(CKeyCode& key) {
    std::int32_t result = kKeyNotHandled;
    closingStep([&] { result = CTextEdit::onKeyDown(key); });
    return result;
}

void CMyTextEdit::looseFocus() {
    closingStep([&] { CTextEdit::looseFocus(); });
}

bool CMyTextEdit::removed(CView* parent) {
    // Leaving the frame closes an open box as a loss of focus does (the typed
    // value is kept), while the frame that carries the end of the edit to the
    // host is still known.
    if (editing_) closingStep([&] { closeBox(true); });
    if (gestureOpen_) {
        gestureOpen_ = false;
        endEdit();
    }
    return CTextEdit::removed(parent);
}

// ---------------------------------------------------------------- CInfo

namespace {
constexpr CCoord kInfoTextLeft = 55;
constexpr CCoord kInfoFirstBaseline = 15;  // below the panel's top
constexpr CCoord kInfoRowStep = 14;
constexpr CCoord kInfoLatencyEnd = 470;
}  // namespace

CInfo::CInfo(const CRect& size, CBitmap* panel, CBitmap* font, CBitmap* secondFont)
    : CControl(size, nullptr, 0), printer_(font, secondFont), placedSize_(size) {
    panel_.reset(panel);
}

void CInfo::setLatency(int samples) {
    latency_ = samples;
    setDirty(true);
}

void CInfo::draw(CDrawContext* context) {
    setDirty(false);
    if (!open_) return;  // closed, the background shows through
    if (panel_) panel_->drawAlphaBlend(context, kPanelRect, CPoint(0, 0), kPanelOpacity);
    const CCoord row1 = kPanelRect.top + kInfoFirstBaseline;
    const CCoord row2 = row1 + kInfoRowStep;
    const CCoord row3 = row2 + kInfoRowStep;
    printer_.print(context, CPoint(kInfoTextLeft, row1), "Tarvel Quolt", false, true, false);
    printer_.print(context, CPoint(200, row1), "Brickwall Limiting, Metering and Requantizing",
                   false, false, true);
    printer_.print(context, CPoint(kInfoTextLeft, row2), "Version:", false, false, true);
    printer_.print(context, CPoint(440, row2), "1.1.9", false, false, true);
    printer_.print(context, CPoint(kInfoTextLeft, row3),
                   "Current process latency (samples):", false, false, true);
    const std::string latency = std::to_string(latency_);
    const CCoord latencyLeft =
        kInfoLatencyEnd - CTextPrinter::kAdvance * static_cast<CCoord>(latency.size());
    printer_.print(context, CPoint(latencyLeft, row3), latency.c_str(), false, false, true);
}

void CInfo::invalid() {
    setDirty(false);
    invalidRect(open_ ? kPanelRect : size_);
}

CMouseEventResult CInfo::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!leftDown(buttons)) return kMouseEventNotHandled;
    if (open_) {
        close();
    } else {
        open();
    }
    return kPressTaken;
}

void CInfo::open() {
    auto* frame = dynamic_cast<MyFrame*>(frame_);
    if (frame == nullptr) return;  // only the editor's frame can show an overlay
    frame->setOverlayView(this);
    if (frame->getOverlayView() != this) return;
    // An empty rectangle: no ordinary hit test or redraw of the children reaches it.
    setViewSize(CRect(), false);
    setMouseableArea(CRect());
    open_ = true;
    frame->setDirty(true);
    frame->invalidateFrameRect(frame->getViewSize());
}

void CInfo::close() {
    setViewSize(placedSize_, false);
    setMouseableArea(placedSize_);
    open_ = false;
    auto* frame = dynamic_cast<MyFrame*>(frame_);
    if (frame == nullptr) return;
    if (frame->getOverlayView() == this) frame->setOverlayView(nullptr);
    frame->setDirty(true);
    frame->invalidateFrameRect(frame->getViewSize());
}

bool CInfo::removed(CView* parent) {
    if (open_) {
        auto* frame = dynamic_cast<MyFrame*>(frame_);
        if (frame != nullptr && frame->getOverlayView() == this) frame->setOverlayView(nullptr);
        setViewSize(placedSize_, false);
        setMouseableArea(placedSize_);
        open_ = false;
    }
    return CControl::removed(parent);
}
