// The editor's frame: a CFrame with one overlay view, drawn after all other
// views and given every mouse press, move and wheel turn while it is set (the
// open About box). [frame thread]
#pragma once

#include "gui/CFrame.h"

class MyFrame : public VSTGUI::CFrame {
  public:
    MyFrame(const VSTGUI::CRect& size, void* parentWindow, VSTGUI::VSTGUIEditorInterface* editor);
    ~MyFrame() override;

    // nullptr clears. The view is not owned (it stays a child of the frame);
    // it is cleared when it leaves the frame. Refused (the overlay stays as it
    // was) while another view holds the frame's modal slot.
    void setOverlayView(VSTGUI::CView* view);
    VSTGUI::CView* getOverlayView() const { return overlay_; }

    void drawOverlays(VSTGUI::CDrawContext* context, const VSTGUI::CRect& update) override;
    bool removeView(VSTGUI::CView* view, bool forget = true) override;
    bool removeAll(bool forget = true) override;

  private:
    VSTGUI::CView* overlay_ = nullptr;
};
