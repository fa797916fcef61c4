// The root view: owns the X11 child window, the focus, the capture and the
// redraw of dirty views.
//
// Threads. A frame opened on a host window runs its own thread, which makes
// every X11 call of the frame on a private Display connection: it handles the
// window's events, paints, and every 50 ms calls the editor interface's
// onFrameTimer (or the frame's own idle when there is no editor). That thread
// holds the view lock while it touches views. Other threads (the host's idle
// and key calls) must hold the view lock too (getViewLock) and never call X11;
// whatever they invalidate is painted by the frame's thread.
// A frame without a parent window (headless) paints into its in-memory image
// on the caller's thread.
#pragma once

#include <cairo.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/CView.h"
#include "gui/ChildWatch.h"
#include "gui/PopupClient.h"
#include "gui/VSTGUIEditorInterface.h"

namespace VSTGUI {

class FrameWindow;
class CTextEdit;

// Test hook: the X display the next frames connect to (nullptr: $DISPLAY).
void setFrameDisplayName(const char* name);

// [any thread] True on the thread that runs `frame`'s window. Compares the
// pointer only, so it may be asked about a frame another thread is destroying.
bool isThreadOfFrame(const CFrame* frame);

// [host thread] Waits for the threads of frames that were forgotten in a
// callback of their own thread (they delete their frame once their loop has
// returned). The editor's destructor calls it, so nothing of the library runs
// after the host has closed the effect. Does nothing on a frame's thread.
void joinEndedFrameThreads();

// The area waiting to be repainted, as a short list of rectangles: two small
// views far apart repaint only themselves, not everything between them.
// Rectangles that overlap, or whose union wastes little area, are merged; when
// the list is full the pair whose union wastes least is merged.
class DamageRegion {
  public:
    static constexpr std::size_t kMaxRectangles = 8;
    void add(const CRect& rect);
    const std::vector<CRect>& rectangles() const { return rectangles_; }
    CRect bounds() const;
    bool isEmpty() const { return rectangles_.empty(); }
    void clear() { rectangles_.clear(); }

  private:
    std::vector<CRect> rectangles_;
};

class CFrame : public CViewContainer {
  public:
    // `parentWindow` is the host's X11 window id, or nullptr for a frame that
    // only paints into memory. When the window cannot be made (no X server,
    // bad parent id) the frame stays usable headless and isWindowOpen() is false.
    CFrame(const CRect& size, void* parentWindow, VSTGUIEditorInterface* editor);
    // Closes the window and stops the frame's thread before returning.
    ~CFrame() override;

    bool isWindowOpen() const;
    // Stops the frame's thread and destroys the window (the frame stays usable
    // headless). Done by forget() before the last reference dies, so no thread
    // ever sees a half-destroyed subclass.
    void closeWindow();
    void forget() override;
    unsigned long getWindowId() const;  // 0 without a window
    std::recursive_timed_mutex& getViewLock() { return viewLock_; }
    // True on the frame's own thread (and for headless frames on any thread).
    bool isFrameThread() const;

    VSTGUIEditorInterface* getEditor() const override { return editor_; }
    void setEditor(VSTGUIEditorInterface* editor) { editor_ = editor; }

    // [frame thread or view lock] Repaints every dirty view. Called off the frame
    // thread it only asks the frame's thread to run the editor's idle (which
    // ends in this idle) as soon as it can.
    virtual void idle();
    // [any thread] Keys from the host (editKeyDown/Up) or the window: offered to
    // the focus view, then to the modal view; Tab moves the focus. kKeyHandled
    // or kKeyNotHandled.
    virtual std::int32_t onKeyDown(CKeyCode& key) override;
    virtual std::int32_t onKeyUp(CKeyCode& key) override;

    bool addView(CView* view) override;
    bool removeView(CView* view, bool forget = true) override;
    bool removeAll(bool forget = true) override;
    void setBackground(CBitmap* background) override;

    bool setFocusView(CView* view);
    CView* getFocusView() const { return focusView_; }
    // Moves the focus to the next (or previous) view that wants it.
    bool advanceNextFocusView(CView* current, bool reverse = false);
    bool setModalView(CView* view);
    CView* getModalView() const { return modalView_; }
    CView* getCapturedView() const { return capturedView_; }
    void setCapturedView(CView* view) { capturedView_ = view; }
    CView* getMouseOverView() const { return mouseOverView_; }

    void beginEdit(std::int32_t index);
    void endEdit(std::int32_t index);
    // Buttons and modifiers as last seen from the pointer.
    CButtonState getCurrentMouseButtons() const { return currentButtons_; }
    CPoint getCurrentMouseLocation() const { return currentMouse_; }

    // Adds a frame rectangle to the area the next paint redraws.
    void invalidateFrameRect(const CRect& rect);
    // The bounding box of the damage; the rectangles themselves in getDamageRegion.
    CRect getDamage() const { return damage_.bounds(); }
    const DamageRegion& getDamageRegion() const { return damage_; }
    // [frame thread] Draws the damaged area into the frame image; the window (if
    // any) is updated by the frame's thread afterwards.
    void paintDamage();
    // Draws the whole frame into its image now.
    void renderAll();
    // Painted rectangles not yet copied to the window; taking them clears them.
    std::vector<CRect> takePaintedAreas();
    // The frame-sized ARGB32 image every paint goes through.
    cairo_surface_t* getImage() const { return image_; }

    // Events from the window (or a test), frame coordinates. [frame thread]
    CMouseEventResult platformMouseDown(const CPoint& where, CButtonState buttons);
    CMouseEventResult platformMouseUp(const CPoint& where, CButtonState buttons);
    CMouseEventResult platformMouseMoved(const CPoint& where, CButtonState buttons);
    void platformMouseExited();
    bool platformWheel(const CPoint& where, CMouseWheelAxis axis, float notches,
                       CButtonState buttons);
    void platformFocusLost();
    void platformTimer();

    // Drawn after every view and before an open edit box, clipped to `update`
    // (frame coordinates): a subclass's overlay (nothing by default).
    virtual void drawOverlays(CDrawContext* /*context*/, const CRect& /*update*/) {}

    // Text edit box shown over its control; drawn after all views.
    void setActiveTextEdit(CTextEdit* edit);
    CTextEdit* getActiveTextEdit() const { return activeTextEdit_; }
    // Takes / gives back the X keyboard focus for the frame's window.
    void requestInputFocus();
    void releaseInputFocus();
    // Shows `client` at `where` (frame coordinates) above everything; false
    // without a window. The client lives until its popupClosed().
    bool openPopup(PopupClient* client, const CPoint& where);
    // Shows `client` and handles events until it finishes. [frame thread]
    bool runModalPopup(PopupClient* client, const CPoint& where);
    void closePopup();

    // [frame thread] Hands a child process (a dialog tool) to the frame's
    // loop, which services it with the view lock held until it is done and
    // destroys it, at the latest when the window closes (ChildWatch.h). False
    // without a window, off the frame's thread or while closing; the watch is
    // then destroyed at once.
    bool watchChild(std::unique_ptr<ChildWatch> watch);

    // Called by views leaving the tree or hiding, so no pointer dangles.
    void onViewRemoved(CView* view);
    void onViewHidden(CView* view);
    bool isTypeOf(const char* className) const override;

  protected:
    void enterLive();
    void updateMouseOver(const CPoint& where, CButtonState buttons);

    VSTGUIEditorInterface* editor_;
    std::recursive_timed_mutex viewLock_;
    std::unique_ptr<FrameWindow> window_;
    cairo_surface_t* image_ = nullptr;
    DamageRegion damage_;
    DamageRegion painted_;  // painted into image_, not yet copied to the window
    CView* focusView_ = nullptr;
    CView* modalView_ = nullptr;
    CView* capturedView_ = nullptr;
    CView* mouseOverView_ = nullptr;
    CTextEdit* activeTextEdit_ = nullptr;
    CButtonState currentButtons_ = 0;
    CPoint currentMouse_;
    bool inTimer_ = false;
};

}  // namespace VSTGUI
