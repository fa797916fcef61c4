// The editor's own buttons, selectors, knobs, numeric fields and About box.
// Each maps presses to a normalised value in its own way, tells its listener
// (the editor) through valueChanged and draws one frame of a strip bitmap:
// frame k is the source row k * h, h the height of the control.
// [frame thread]
#pragma once

#include <cstdint>
#include <string>

#include "editor/MeteringActions.h"
#include "editor/TextPrinter.h"
#include "gui/CControl.h"
#include "gui/CTextEdit.h"

// Two-state button with an optional right-click save gesture (the metering
// buttons). Frames: off, on, and the save legend while the save highlight is on.
class CQuoltButton : public VSTGUI::COnOffButton {
  public:
    // `saveGesture` null: a right press is not handled.
    CQuoltButton(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                 VSTGUI::CBitmap* bitmap, MeteringActions* saveGesture);
    void setSaveHighlight(bool on);
    bool getSaveHighlight() const { return saveHighlight_; }

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

  private:
    MeteringActions* saveGesture_;
    bool saveHighlight_ = false;
};

// The Oversample button: values 0.0 and 1.0, frames of 19 rows.
class COversamplingButton : public VSTGUI::COnOffButton {
  public:
    COversamplingButton(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                        VSTGUI::CBitmap* bitmap);
    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
};

// The meter mode button: its top 19 rows choose peak metering, its bottom 19
// rows the K-system (again: the next K scale); left and right together save
// the metering preferences. It changes "MeterType" and "Scale" through the
// editor and learns the result back through setType and setScale.
class CModeButton : public VSTGUI::CControl {
  public:
    static constexpr VSTGUI::CCoord kZoneRows = 19;

    CModeButton(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                VSTGUI::CBitmap* bitmap, MeteringActions* actions);
    void setType(int type);    // 0 peak, 1 k-system
    void setScale(int scale);  // 0 K-12, 1 K-14, 2 K-20
    int getType() const { return type_; }
    int getScale() const { return scale_; }
    void setSaveHighlight(bool on);
    bool getSaveHighlight() const { return saveHighlight_; }

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

  private:
    MeteringActions* actions_;
    bool saveHighlight_ = false;
    int type_ = 0;
    int scale_ = 1;
};

// A press steps through `steps` positions; the value is the step centre of
// the position. Draws dimmed or lit frames depending on whether requantizing
// is on (enabled).
class CStepSelector : public VSTGUI::CControl {
  public:
    void setEnabled(bool enabled);
    bool getEnabled() const { return enabled_; }
    void setIndex(int index);  // limited to 0..steps-1
    int getIndex() const { return index_; }

    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

  protected:
    CStepSelector(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                  VSTGUI::CBitmap* bitmap, int steps);
    int steps_;
    bool enabled_ = false;
    int index_ = 0;
};

// Word length: 8, 16, 24 bits. Frames: three dimmed, then three lit.
class CBits : public CStepSelector {
  public:
    CBits(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
          VSTGUI::CBitmap* bitmap);
    void draw(VSTGUI::CDrawContext* context) override;
};

// Noise shaping: off, A, B, C. Frames: off, A, B, C dimmed, A, B, C lit.
class CNoiseShape : public CStepSelector {
  public:
    CNoiseShape(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                VSTGUI::CBitmap* bitmap);
    void draw(VSTGUI::CDrawContext* context) override;
};

// Autoblack on or off. Frames: off, on, on while requantizing is off.
class CAutoBlack : public VSTGUI::CControl {
  public:
    CAutoBlack(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
               VSTGUI::CBitmap* bitmap);
    void setEnabled(bool enabled);
    bool getEnabled() const { return enabled_; }
    void setState(int state);  // 0 or 1
    int getState() const { return state_; }

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

  private:
    bool enabled_ = false;
    int state_ = 0;
};

// Calibration source: off, left, left and right, right (value steps 0..3),
// shown in the order off, L, R, L+R. While on, the legend alternates every
// 256 ms between dark and bright frames, timed by the editor's idle tick.
class CCalibButton : public VSTGUI::CControl {
  public:
    static constexpr VSTGUI::CCoord kFrameRows = 19;

    CCalibButton(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                 VSTGUI::CBitmap* bitmap);
    // The editor's idle tick; marks the control dirty while calibration is on.
    void idleTick(std::uint32_t tick);
    // Source row of the frame drawn now.
    VSTGUI::CCoord sourceRow() const;

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

  private:
    std::uint32_t lastIdleTick_ = 0;
    std::uint32_t clickTick_ = 0;
};

// Three-way TransShape switch: a press in one of its three squares chooses
// that shape; a press elsewhere on it is taken and does nothing.
class CSpeedSwitch : public VSTGUI::CControl {
  public:
    static constexpr VSTGUI::CCoord kFrameRows = 25;

    CSpeedSwitch(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                 VSTGUI::CBitmap* bitmap);
    // Square 0, 1 or 2 under frame point `where`, or -1.
    static int zoneAt(const VSTGUI::CPoint& where);

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
};

// Drag knob: 400 pixels per full range (1000 with Shift), right and up raise
// the value; Control-click sets the default; the wheel moves 0.01 a notch
// (0.001 with Shift); arrow keys move the wheel increment (a tenth with Shift).
class CMyKnob : public VSTGUI::CAnimKnob {
  public:
    static constexpr float kDragPixels = 400.0f;
    static constexpr float kFineDragPixels = 1000.0f;

    // Frame count = bitmap height / frameHeight.
    CMyKnob(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
            VSTGUI::CBitmap* bitmap, VSTGUI::CCoord frameHeight);

    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseMoved(VSTGUI::CPoint& where,
                                           const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseUp(VSTGUI::CPoint& where,
                                        const VSTGUI::CButtonState& buttons) override;
    bool onWheel(const VSTGUI::CPoint& where, const float& distance,
                 const VSTGUI::CButtonState& buttons) override;
    // A drag still open when the knob leaves the frame ends its edit.
    bool removed(VSTGUI::CView* parent) override;

  private:
    static float dragPixelsFor(VSTGUI::CButtonState buttons);
    // Value for the pointer at `where`, notified.
    void dragTo(const VSTGUI::CPoint& where, VSTGUI::CButtonState buttons);

    VSTGUI::CPoint dragAnchor_;
    float dragAnchorValue_ = 0.0f;
    float valuePerPixel_ = 1.0f / kDragPixels;
    VSTGUI::CButtonState dragButtons_ = 0;
    VSTGUI::CPoint lastPosition_;
    bool dragging_ = false;
};

// Numeric field under a knob (tags 0, 1, 2, 3, 5, 13). Shows the value in the
// second bitmap font; a press opens the toolkit's edit box with the editing
// text, and the number typed there (clamped to the parameter's range) becomes
// the value inside exactly one begin-edit/end-edit pair.
class CMyTextEdit : public VSTGUI::CTextEdit {
  public:
    CMyTextEdit(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                VSTGUI::CBitmap* background, VSTGUI::CBitmap* firstFont,
                VSTGUI::CBitmap* secondFont);

    // What the field shows for `value` ("+0.00dB", "20.0%", "200.0ms", "off").
    static std::string displayText(std::int32_t tag, float value);
    // What the edit box starts with (the number without its unit).
    static std::string editingText(std::int32_t tag, float value);
    // The value for typed `text`: the leading number (0 if none), clamped.
    static float valueFromText(std::int32_t tag, const char* text);

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
    std::int32_t onKeyDown(VSTGUI::CKeyCode& key) override;
    void takeFocus() override;
    void looseFocus() override;
    bool removed(VSTGUI::CView* parent) override;

  private:
    // Puts the editing text into the text buffer the box opens with.
    void prepareBox();
    // Runs a toolkit step that may close the box; a closed box's text becomes the value.
    template <class Step>
    void closingStep(Step step);
    // One begin-edit/end-edit pair around a changed value (`gestureOpen`: the
    // begin was sent at the press); a box closed unchanged only ends its edit.
    void applyTypedText(bool gestureOpen);
    void sendBeginEdit();

    CTextPrinter printer_;
    std::string openedWith_;  // the editing text the box was opened with
};

// The About box. Closed it draws nothing; a left press opens it as the
// frame's overlay (MyFrame), drawn over everything and taking every press,
// and the next left press closes it. No listener, tag 0.
class CInfo : public VSTGUI::CControl {
  public:
    static constexpr VSTGUI::CRect kPanelRect{43, 294, 481, 430};
    static constexpr std::uint8_t kPanelOpacity = 200;

    CInfo(const VSTGUI::CRect& size, VSTGUI::CBitmap* panel, VSTGUI::CBitmap* font,
          VSTGUI::CBitmap* secondFont);
    void setLatency(int samples);  // marks dirty
    int getLatency() const { return latency_; }
    bool isOpen() const { return open_; }

    void draw(VSTGUI::CDrawContext* context) override;
    // Open, the panel is what needs repainting (the view's own rectangle is empty then).
    void invalid() override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
    bool removed(VSTGUI::CView* parent) override;

  private:
    void open();
    void close();

    VSTGUI::SharedPointer<VSTGUI::CBitmap> panel_;
    CTextPrinter printer_;
    VSTGUI::CRect placedSize_;
    int latency_ = 0;
    bool open_ = false;
};
