// Views and containers: the retained tree under a frame.
//
// Thread: every view is used on its frame's thread, or by a caller that holds
// the frame's view lock (CFrame::getViewLock). Nothing here calls X11.
#pragma once

#include <vector>

#include "gui/CBaseObject.h"
#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"
#include "gui/GuiTypes.h"

namespace VSTGUI {

class CFrame;
class CViewContainer;
class VSTGUIEditorInterface;

class CView : public CBaseObject {
  public:
    explicit CView(const CRect& size);
    ~CView() override;

    virtual void draw(CDrawContext* context);
    // Draws only when the view meets `update` (the default draws it whole).
    virtual void drawRect(CDrawContext* context, const CRect& update);
    virtual bool checkUpdate(const CRect& update) const { return update.rectOverlap(size_); }
    virtual bool isDirty() const { return dirty_; }
    virtual void setDirty(bool dirty = true) { dirty_ = dirty; }
    // Asks the frame to repaint `rect` (frame coordinates).
    virtual void invalidRect(const CRect& rect);
    // Clears the dirty flag and asks the frame to repaint the view.
    virtual void invalid();
    virtual void setVisible(bool visible);
    bool isVisible() const { return visible_; }

    virtual CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons);
    virtual CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons);
    virtual CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons);
    virtual CMouseEventResult onMouseEntered(CPoint& where, const CButtonState& buttons);
    virtual CMouseEventResult onMouseExited(CPoint& where, const CButtonState& buttons);
    virtual bool hitTest(const CPoint& where, const CButtonState& buttons = 0) const;
    // The axis form forwards vertical wheel turns to the two-argument form.
    virtual bool onWheel(const CPoint& where, const CMouseWheelAxis& axis, const float& distance,
                         const CButtonState& buttons);
    virtual bool onWheel(const CPoint& where, const float& distance, const CButtonState& buttons);

    virtual void setMouseEnabled(bool enabled) { mouseEnabled_ = enabled; }
    virtual bool getMouseEnabled() const { return mouseEnabled_; }
    virtual void setMouseableArea(const CRect& area) { mouseableArea_ = area; }
    virtual CRect& getMouseableArea(CRect& area) const { return area = mouseableArea_; }
    const CRect& getMouseableArea() const { return mouseableArea_; }

    // Answers kKeyHandled or kKeyNotHandled.
    virtual std::int32_t onKeyDown(CKeyCode& key);
    virtual std::int32_t onKeyUp(CKeyCode& key);

    // Moves and resizes the view; the mouseable area follows both.
    virtual void setViewSize(const CRect& size, bool invalidate = true);
    virtual CRect& getViewSize(CRect& size) const { return size = size_; }
    const CRect& getViewSize() const { return size_; }
    CCoord getWidth() const { return size_.width(); }
    CCoord getHeight() const { return size_.height(); }

    // Points in the parent's coordinates to frame coordinates and back.
    virtual CPoint& localToFrame(CPoint& point) const;
    virtual CPoint& frameToLocal(CPoint& point) const;
    virtual void setAutosizeFlags(std::int32_t flags) { autosizeFlags_ = flags; }
    virtual std::int32_t getAutosizeFlags() const { return autosizeFlags_; }

    virtual void looseFocus() {}
    virtual void takeFocus() {}
    virtual void setWantsFocus(bool wants) { wantsFocus_ = wants; }
    virtual bool wantsFocus() const { return wantsFocus_; }

    virtual void setBackground(CBitmap* background);
    virtual CBitmap* getBackground() const { return background_.get(); }
    virtual void setTransparency(bool transparent) { transparent_ = transparent; }
    virtual bool getTransparency() const { return transparent_; }

    // Called when the view leaves or joins a tree.
    virtual bool removed(CView* parent);
    virtual bool attached(CView* parent);
    virtual VSTGUIEditorInterface* getEditor() const;
    virtual bool isTypeOf(const char* className) const;
    virtual bool isContainer() const { return false; }

    CFrame* getFrame() const { return frame_; }
    CView* getParentView() const { return parentView_; }
    bool isAttached() const { return parentView_ != nullptr; }
    void setFrame(CFrame* frame) { frame_ = frame; }

  protected:
    CRect size_;
    CRect mouseableArea_;
    CFrame* frame_ = nullptr;
    CView* parentView_ = nullptr;
    bool dirty_ = false;
    bool mouseEnabled_ = true;
    bool transparent_ = false;
    bool wantsFocus_ = false;
    bool visible_ = true;
    std::int32_t autosizeFlags_ = 0;
    SharedPointer<CBitmap> background_;
};

// Children are drawn in the order they were added (later ones cover earlier
// ones) and hit-tested the other way round. Child rectangles are relative to
// the container's top-left corner; a frame sits at 0,0, so its children use
// frame coordinates.
class CViewContainer : public CView {
  public:
    CViewContainer(const CRect& size, CFrame* frame, CBitmap* background = nullptr);
    ~CViewContainer() override;

    // Takes a reference on `view`.
    virtual bool addView(CView* view);
    // Releases the container's reference; false when `view` is not a child.
    virtual bool removeView(CView* view, bool forget = true);
    virtual bool removeAll(bool forget = true);
    virtual bool isChild(const CView* view) const;
    int getNbViews() const { return static_cast<int>(children_.size()); }
    CView* getView(int index) const;
    // The last-added visible child containing `where` (container coordinates
    // of the parent, i.e. the same space as this container's size).
    virtual CView* getViewAt(const CPoint& where, bool deep = false) const;
    // Every view of the subtree in draw order (this container not included).
    void collectViews(std::vector<CView*>& out) const;

    void setBackgroundColor(const CColor& color) { backgroundColor_ = color; }
    CColor getBackgroundColor() const { return backgroundColor_; }
    void setBackgroundOffset(const CPoint& offset) { backgroundOffset_ = offset; }
    CPoint getBackgroundOffset() const { return backgroundOffset_; }

    void draw(CDrawContext* context) override;
    void drawRect(CDrawContext* context, const CRect& update) override;
    // Draws the background under `update` (container coordinates).
    virtual void drawBackgroundRect(CDrawContext* context, const CRect& update);

    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons) override;
    bool onWheel(const CPoint& where, const CMouseWheelAxis& axis, const float& distance,
                 const CButtonState& buttons) override;
    bool hitTest(const CPoint& where, const CButtonState& buttons = 0) const override;

    bool isDirty() const override;
    bool removed(CView* parent) override;
    bool attached(CView* parent) override;
    bool isContainer() const override { return true; }
    bool isTypeOf(const char* className) const override;

    // Marks dirty views clean and asks the frame to repaint them.
    void invalidateDirtyViews();

  protected:
    std::vector<CView*> children_;
    CColor backgroundColor_ = kBlackCColor;
    CPoint backgroundOffset_;
    CView* mouseDownView_ = nullptr;
};

}  // namespace VSTGUI
