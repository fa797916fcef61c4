// The X11 side of a frame: a private Display connection, the child window
// under the host's window, and the thread that owns both.
//
// Every X11 call happens on the window thread (the frame's thread), so nothing
// relies on XInitThreads. Other threads only set flags and write to an eventfd
// that wakes the thread. open() and close() run on the host's thread and wait
// for the window thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/ChildWatch.h"
#include "gui/GuiTypes.h"

namespace VSTGUI {

class CFrame;
class PopupClient;
struct PixelConverter;

// X key event to the toolkit's key code (character, virtual key, modifiers).
// `keysym` is an X KeySym, `latin1` the text XLookupString produced (may be
// empty), `state` the event's modifier mask.
CKeyCode translateX11Key(unsigned long keysym, const char* latin1, unsigned int state);
// X modifier mask to the mouse handlers' Shift/Control/Alt bits.
CButtonState translateX11Modifiers(unsigned int state);

class FrameWindow {
  public:
    explicit FrameWindow(CFrame& frame);
    ~FrameWindow();
    FrameWindow(const FrameWindow&) = delete;
    FrameWindow& operator=(const FrameWindow&) = delete;

    // [host thread] Starts the thread, which connects, creates and maps the
    // window under `parent` and syncs; answers whether all of that worked.
    bool open(unsigned long parent, CCoord width, CCoord height, const char* displayName);
    // [host thread] Stops the thread; the window and the connection are gone on return.
    void close();
    bool isOpen() const { return openState_ == kOpen; }
    unsigned long windowId() const { return windowId_.load(); }
    bool isWindowThread() const { return std::this_thread::get_id() == threadId_.load(); }

    // [window thread] The frame's last reference is gone in a callback of this
    // thread: the loop ends and the thread deletes the frame after it.
    void deleteFrameWhenDone();

    // [any thread] Wake-ups for the window thread.
    void setLive();
    void requestRepaint();
    void requestIdle();
    void requestInputFocus();
    void releaseInputFocus();

    // [window thread]
    bool openPopup(PopupClient* client, const CPoint& whereInFrame);
    bool runModalPopup(PopupClient* client, const CPoint& whereInFrame);
    void closePopup();

    // [window thread] Child watches (ChildWatch.h): polled with the X
    // connection, serviced with the view lock held, destroyed at the latest
    // when the window closes. False (the watch destroyed at once) once the
    // window is closing.
    bool addChildWatch(std::unique_ptr<ChildWatch> watch);

  private:
    enum OpenState { kPending, kOpen, kFailed };
    void threadMain(unsigned long parent, CCoord width, CCoord height, const char* displayName);
    bool createWindow(unsigned long parent, CCoord width, CCoord height, const char* displayName);
    void destroyWindow();
    void runLoop(PopupClient* modalClient);
    void waitForWork(std::chrono::steady_clock::time_point deadline);
    void handleEvent(void* xevent);
    void handlePopupEvent(void* xevent);
    void paintWindow();
    void paintPopup();
    void applyFocusRequest();
    void grabForPopup();
    void wake();
    void setOpenState(OpenState state);

    CFrame& frame_;
    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
    std::atomic<unsigned long> windowId_{0};
    int wakeFd_ = -1;
    std::atomic<bool> quit_{false};
    std::atomic<bool> live_{false};
    std::atomic<bool> idleRequested_{false};
    std::atomic<bool> repaintRequested_{false};
    std::atomic<int> focusRequest_{0};  // 0 none, 1 take, 2 give back
    bool deleteFrameWhenDone_ = false;  // window thread only

    std::mutex openMutex_;
    std::condition_variable openCondition_;
    std::atomic<OpenState> openState_{kPending};

    // Owned by the window thread.
    void* display_ = nullptr;  // Display*
    unsigned long window_ = 0;
    void* windowGC_ = nullptr;          // GC for XPutImage
    void* windowAttributes_ = nullptr;  // XWindowAttributes* of the window
    // Converts the frame's ARGB32 words to the window's pixels; nullptr where
    // the visual takes them as they are.
    std::unique_ptr<PixelConverter> windowPixels_;
    unsigned long windowColormap_ = 0;  // ours, when the window has a visual of its own
    CCoord width_ = 0;
    CCoord height_ = 0;
    bool mapped_ = false;         // our window is mapped
    bool parentMapped_ = true;    // the host's window is mapped
    bool fullyObscured_ = false;  // nothing of the window can be seen
    unsigned long parent_ = 0;
    bool haveFocus_ = false;
    bool focusTakenByPress_ = false;  // given back when the pointer leaves
    unsigned long savedFocus_ = 0;
    std::chrono::steady_clock::time_point nextTick_;
    long lastPressTime_ = 0;
    unsigned int lastPressButton_ = 0;
    CPoint lastPressPoint_;

    PopupClient* popup_ = nullptr;
    unsigned long popupWindow_ = 0;
    void* popupGC_ = nullptr;
    void* popupAttributes_ = nullptr;
    std::unique_ptr<PixelConverter> popupPixels_;
    unsigned long popupColormap_ = 0;
    CCoord popupWidth_ = 0;
    CCoord popupHeight_ = 0;
    bool popupGrabbed_ = false;

    // Child watches, owned by the window thread. `busy` marks one whose
    // service() is on the stack, so a nested loop (a modal pop-up opened from
    // its completion) neither services nor destroys it again.
    struct ChildWatchEntry {
        std::unique_ptr<ChildWatch> watch;
        bool busy = false;
    };
    void serviceChildWatches();
    void closeChildWatches();
    std::vector<ChildWatchEntry> childWatches_;
    bool childWatchesClosed_ = false;
};

}  // namespace VSTGUI
