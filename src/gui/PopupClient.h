// Content of a pop-up window the frame shows above the host (menus, path box).
#pragma once

#include "gui/CDrawContext.h"
#include "gui/GuiTypes.h"

namespace VSTGUI {

// All calls arrive on the frame's thread with the view lock held. Points are
// relative to the pop-up's top-left corner.
class PopupClient {
  public:
    virtual ~PopupClient() = default;
    virtual CCoord popupWidth() const = 0;
    virtual CCoord popupHeight() const = 0;
    virtual void drawPopup(CDrawContext* context) = 0;
    virtual void popupMouseDown(const CPoint& where, CButtonState buttons) = 0;
    virtual void popupMouseUp(const CPoint& where, CButtonState buttons) = 0;
    virtual void popupMouseMoved(const CPoint& where, CButtonState buttons) = 0;
    // A press outside the pop-up: usually cancels.
    virtual void popupOutsideClick() = 0;
    virtual void popupKeyDown(const CKeyCode& key) = 0;
    virtual bool popupNeedsRedraw() const = 0;
    virtual bool popupFinished() const = 0;
    // The window is gone (finished, cancelled or the frame closed).
    virtual void popupClosed() = 0;
};

}  // namespace VSTGUI
