// The preset panel's own controls along the bottom edge of the editor: the
// load/save arrows, the kick buttons (BANK, PRESET, memories), the two-arrow
// step switch and the program name field.
//
// Thread: the frame's thread only, like every view.
#pragma once

#include <cstdint>

#include "gui/VSTGUI.h"

// A load or save arrow. A left press reports 1.0, a press with exactly the
// right button 0.5 (a load then reverses the bytes once more); the value falls
// back to 0 at once. Frames: 0 idle, 1 under the pointer, 2 while the value is set.
class CSaveLoadButton : public VSTGUI::CControl {
  public:
    CSaveLoadButton(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                    VSTGUI::CBitmap* bitmap, VSTGUI::CCoord frameHeight);
    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseEntered(VSTGUI::CPoint& where,
                                             const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseExited(VSTGUI::CPoint& where,
                                            const VSTGUI::CButtonState& buttons) override;
    bool isHovered() const { return hovered_; }

  private:
    VSTGUI::CCoord frameHeight_;
    bool hovered_ = false;
};

// A kick button that reports 1.0 on a left press (optionally only on a double
// click, where Control makes it 0.5) and shows frame 2 while held, 1 while the
// pointer is over it, else 0.
class CPSKickButton : public VSTGUI::CControl {
  public:
    CPSKickButton(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                  VSTGUI::CBitmap* bitmap, VSTGUI::CCoord frameHeight, bool needsDoubleClick);
    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseUp(VSTGUI::CPoint& where,
                                        const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseEntered(VSTGUI::CPoint& where,
                                             const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseExited(VSTGUI::CPoint& where,
                                            const VSTGUI::CButtonState& buttons) override;

  private:
    VSTGUI::CCoord frameHeight_;
    bool needsDoubleClick_;
    bool pressed_ = false;
    bool hovered_ = false;
};

// Two arrows: a left press on the left half reports -1, on the right half +1;
// the release returns to 0. Frames: 0 idle, 1/2 left/right hovered, 3/4
// left/right pressed.
class CPSRockerSwitch : public VSTGUI::CControl {
  public:
    CPSRockerSwitch(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                    VSTGUI::CBitmap* bitmap, VSTGUI::CCoord frameHeight);
    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseUp(VSTGUI::CPoint& where,
                                        const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseMoved(VSTGUI::CPoint& where,
                                           const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseExited(VSTGUI::CPoint& where,
                                            const VSTGUI::CButtonState& buttons) override;
    int hoverSide() const { return hoverSide_; }

  private:
    int sideOf(const VSTGUI::CPoint& where) const;
    VSTGUI::CCoord frameHeight_;
    int hoverSide_ = 0;  // -1 left, +1 right, 0 none
};

// The program name field: the toolkit's text edit over a piece of the
// background picture, text centred.
class CPSTextEdit : public VSTGUI::CTextEdit {
  public:
    CPSTextEdit(const VSTGUI::CRect& size, CControlListener* listener, std::int32_t tag,
                VSTGUI::CBitmap* background);
};
