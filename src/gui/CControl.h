// Controls: a view that holds a value and tells a listener when the user changes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "gui/CView.h"

namespace VSTGUI {
class CControl;
}

// Receives a control's notifications. [frame thread]
class CControlListener {
  public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(VSTGUI::CControl* control) = 0;
    virtual std::int32_t controlModifierClicked(VSTGUI::CControl* /*control*/,
                                                VSTGUI::CButtonState /*buttons*/) {
        return 0;
    }
    virtual void controlBeginEdit(VSTGUI::CControl* /*control*/) {}
    virtual void controlEndEdit(VSTGUI::CControl* /*control*/) {}
};

namespace VSTGUI {

// A control's value is stored as given (no clamping) until bounceValue().
// A control is dirty when its value differs from the value it last drew
// (the old value) or when its dirty flag is set; setDirty(false) makes the old
// value the current one.
class CControl : public CView {
  public:
    CControl(const CRect& size, CControlListener* listener = nullptr, std::int32_t tag = 0,
             CBitmap* background = nullptr);

    // Called by the owner on its idle pass; nothing by default.
    virtual void idle() {}
    virtual void setValue(float value) { value_ = value; }
    virtual float getValue() const { return value_; }
    virtual void setMin(float value) { min_ = value; }
    virtual float getMin() const { return min_; }
    virtual void setMax(float value) { max_ = value; }
    virtual float getMax() const { return max_; }
    virtual void setOldValue(float value) { oldValue_ = value; }
    virtual float getOldValue() const { return oldValue_; }
    virtual void setDefaultValue(float value) { defaultValue_ = value; }
    virtual float getDefaultValue() const { return defaultValue_; }
    // Limits the value to min..max.
    virtual void bounceValue();
    // Left + Control (exactly): the value becomes the default, the listener is
    // notified if that changed it, inside begin/end edit. True when it acted.
    virtual bool checkDefaultValue(CButtonState buttons);
    virtual void setTag(std::int32_t tag) { tag_ = tag; }
    virtual std::int32_t getTag() const { return tag_; }
    // Listener's begin notice, focus to this control, begin edit to the editor.
    virtual void beginEdit();
    // End edit to the editor, then the listener's end notice.
    virtual void endEdit();
    virtual CControlListener* getListener() const { return listener_; }
    virtual void setListener(CControlListener* listener) { listener_ = listener; }
    virtual void setBackOffset(const CPoint& offset) { backOffset_ = offset; }
    virtual const CPoint& getBackOffset() const { return backOffset_; }
    virtual void copyBackOffset() { backOffset_ = CPoint(size_.left, size_.top); }
    virtual void setWheelInc(float increment) { wheelInc_ = increment; }
    virtual float getWheelInc() const { return wheelInc_; }

    bool isDirty() const override;
    void setDirty(bool dirty = true) override;
    bool isTypeOf(const char* className) const override;

    // True when this press follows the previous one within the double-click time.
    bool isDoubleClick();
    static constexpr std::chrono::milliseconds kDoubleClickTime{400};

  protected:
    void notifyListener() {
        if (listener_ != nullptr) listener_->valueChanged(this);
    }
    // Frame k of a vertical strip: source row k * frameHeight.
    void drawStripFrame(CDrawContext* context, CBitmap* bitmap, CCoord frameHeight, int frame);

    CControlListener* listener_;
    std::int32_t tag_;
    float oldValue_ = 1.0f;
    float defaultValue_ = 0.5f;
    float value_ = 0.0f;
    float min_ = 0.0f;
    float max_ = 1.0f;
    float wheelInc_ = 0.1f;
    CPoint backOffset_;
    std::chrono::steady_clock::time_point lastClick_{};
};

// A bitmap strip of equal frames stacked vertically.
class IMultiBitmapControl {
  public:
    virtual ~IMultiBitmapControl() = default;
    virtual void setHeightOfOneImage(CCoord height) {
        heightOfOneImage_ = std::max<CCoord>(0, height);
    }
    virtual CCoord getHeightOfOneImage() const { return heightOfOneImage_; }
    void setNumSubPixmaps(int count) { subPixmaps_ = std::max(0, count); }
    int getNumSubPixmaps() const { return subPixmaps_; }

  protected:
    CCoord heightOfOneImage_ = 0;
    int subPixmaps_ = 0;
};

// Two frames: off (row 0) and on (row = view height). A left press toggles.
class COnOffButton : public CControl {
  public:
    COnOffButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                 CBitmap* background);
    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
};

// Value is max while pressed with the pointer inside, min otherwise; two frames.
class CKickButton : public CControl {
  public:
    CKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                CBitmap* background, const CPoint& offset = CPoint());
    CKickButton(const CRect& size, CControlListener* listener, std::int32_t tag,
                CCoord heightOfOneImage, CBitmap* background, const CPoint& offset = CPoint());
    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons) override;

  protected:
    CPoint offset_;
    CCoord heightOfOneImage_;
    float entryValue_ = 0.0f;
};

// A knob: background bitmap and a pointer sweeping 270 degrees. Vertical drag
// (finer with Shift), wheel and arrow keys change the value.
class CKnob : public CControl {
  public:
    CKnob(const CRect& size, CControlListener* listener, std::int32_t tag, CBitmap* background,
          CBitmap* handle = nullptr, const CPoint& offset = CPoint());
    ~CKnob() override;
    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons) override;
    bool onWheel(const CPoint& where, const float& distance, const CButtonState& buttons) override;
    std::int32_t onKeyDown(CKeyCode& key) override;

    void setColorHandle(const CColor& color) { colorHandle_ = color; }
    CColor getColorHandle() const { return colorHandle_; }
    void setZoomFactor(float factor) { zoomFactor_ = factor; }

  protected:
    // Steps the value by `delta`, limited; notifies inside begin/end edit when it changed.
    void stepValue(float delta);

    CPoint offset_;
    SharedPointer<CBitmap> handle_;
    CColor colorHandle_ = kWhiteCColor;
    float zoomFactor_ = 1.5f;
    CPoint anchor_;
    float anchorValue_ = 0.0f;
    CButtonState anchorButtons_ = 0;
};

// A knob drawn as one frame of a strip: frame floor(value * (n - 1)).
class CAnimKnob : public CKnob, public IMultiBitmapControl {
  public:
    CAnimKnob(const CRect& size, CControlListener* listener, std::int32_t tag, CBitmap* background,
              const CPoint& offset = CPoint());
    CAnimKnob(const CRect& size, CControlListener* listener, std::int32_t tag, int subPixmaps,
              CCoord heightOfOneImage, CBitmap* background, const CPoint& offset = CPoint());
    void draw(CDrawContext* context) override;
    // Source row for `value`: the largest multiple of the frame height not
    // above trunc(value * frameHeight * (n - 1)); the last frame for 1.
    CCoord sourceRowFor(float value) const;
    int frameCount() const;
    bool isTypeOf(const char* className) const override;
};

// Three frames: min (row 0), middle, max. A press in the left half sets min,
// in the right half max; the release returns to the middle.
class CRockerSwitch : public CControl {
  public:
    CRockerSwitch(const CRect& size, CControlListener* listener, std::int32_t tag,
                  CBitmap* background, const CPoint& offset = CPoint());
    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;

  protected:
    CPoint offset_;
};

// Shows the value (or a text) in a font on an optional background.
class CParamDisplay : public CControl {
  public:
    using StringConvert = void (*)(float value, char* text);  // text holds 256 bytes
    CParamDisplay(const CRect& size, CBitmap* background = nullptr);
    void draw(CDrawContext* context) override;
    void setFont(const CFontDesc* font) { font_ = font != nullptr ? font : kNormalFontSmall; }
    const CFontDesc* getFont() const { return font_; }
    void setFontColor(const CColor& color) { fontColor_ = color; }
    CColor getFontColor() const { return fontColor_; }
    void setBackColor(const CColor& color) { backColor_ = color; }
    CColor getBackColor() const { return backColor_; }
    void setFrameColor(const CColor& color) { frameColor_ = color; }
    CColor getFrameColor() const { return frameColor_; }
    void setHoriAlign(CHoriTxtAlign align) { horiAlign_ = align; }
    CHoriTxtAlign getHoriAlign() const { return horiAlign_; }
    void setStringConvert(StringConvert convert) { stringConvert_ = convert; }
    void setTextTransparency(bool transparent) { textTransparent_ = transparent; }

  protected:
    // Background (bitmap, or back colour unless transparent), then `text`.
    void drawText(CDrawContext* context, const char* text);

    const CFontDesc* font_ = kNormalFontSmall;
    CColor fontColor_ = kWhiteCColor;
    CColor backColor_ = kBlackCColor;
    CColor frameColor_ = kBlackCColor;
    CHoriTxtAlign horiAlign_ = kCenterText;
    StringConvert stringConvert_ = nullptr;
    bool textTransparent_ = false;
};

class CTextLabel : public CParamDisplay {
  public:
    CTextLabel(const CRect& size, const char* text = nullptr, CBitmap* background = nullptr);
    void setText(const char* text);
    const char* getText() const { return text_.c_str(); }
    void draw(CDrawContext* context) override;

  private:
    std::string text_;
};

}  // namespace VSTGUI
