// Editor base class of toolkit-drawn editors: the host-side editor (AEffEditor)
// joined to the frame's editor interface.
//
// Threads. The host calls open, close, idle and the key entries from its own
// thread(s) [ui-thread]. The frame runs its own thread, which makes every X11
// call and calls onFrameTimer -> idle() every 50 ms and after each host idle.
// idle() and the key entries never draw on the host's thread: idle() there
// only asks the frame's thread to run the editor's idle; keys are handled
// under the frame's view lock. A subclass whose idle does its own work (meters)
// should begin with `if (!isOnFrameThread()) { AEffGUIEditor::idle(); return; }`,
// and code that touches views from a host thread holds frame->getViewLock().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "gui/CFrame.h"
#include "gui/VSTGUIEditorInterface.h"
#include "host/AEffEditor.h"

// The editor's frame pointer. The frame's own thread reads it without a lock
// (its timer runs the editor's idle) while the host's thread assigns it in
// open, so every read and write is atomic. It converts to CFrame* wherever one
// is expected: `frame = new CFrame(...)`, `frame->addView(view)`.
class EditorFramePointer {
  public:
    EditorFramePointer() = default;
    EditorFramePointer(const EditorFramePointer&) = delete;
    EditorFramePointer& operator=(const EditorFramePointer&) = delete;
    EditorFramePointer& operator=(VSTGUI::CFrame* frame) {
        frame_.store(frame);
        return *this;
    }
    operator VSTGUI::CFrame*() const { return frame_.load(); }
    VSTGUI::CFrame* operator->() const { return frame_.load(); }

  private:
    std::atomic<VSTGUI::CFrame*> frame_{nullptr};
};

class AEffGUIEditor : public AEffEditor, public VSTGUI::VSTGUIEditorInterface {
  public:
    explicit AEffGUIEditor(AudioEffect* effect);
    ~AEffGUIEditor() override;

    // [ui-thread] The editor rectangle (rect_); answered before open by most hosts.
    bool getRect(vst::ERect** rect) override;
    // [ui-thread] Stores the parent; subclasses create the frame on it
    // (`frame = new CFrame(size, parent, this)`) and answer frame->isWindowOpen().
    bool open(void* parentWindow) override;
    // [ui-thread] Destroys the frame (window and thread gone on return).
    void close() override;
    // Runs the frame's idle pass unless one is running already. Off the frame's
    // thread it asks the frame's thread to run the editor's idle instead.
    void idle() override;
    // [ui-thread] Key to the frame; true when the frame answered kKeyHandled.
    bool onKeyDown(VstKeyCode& key) override;
    bool onKeyUp(VstKeyCode& key) override;
    bool setKnobMode(vst::int32 mode) override;

    // Redraws `rect` (or the whole frame) on the frame's thread.
    void draw(const vst::ERect* rect);

    // VSTGUIEditorInterface
    void beginEdit(std::int32_t index) override;
    void endEdit(std::int32_t index) override;
    void onFrameTimer() override { idle(); }
    VSTGUI::CFrame* getFrame() const override { return frame; }

    // True when the caller may touch views without the view lock: on the
    // frame's thread, or when there is no frame (or a headless one).
    bool isOnFrameThread() const;

  protected:
    // Destroys `frame` (stopping its thread first, then clearing the pointer).
    void destroyFrame();

    vst::ERect rect_{};
    EditorFramePointer frame;
    std::atomic<bool> inIdle_{false};

  private:
    // Runs the frame's idle pass unless one is running already.
    void runIdlePass(VSTGUI::CFrame* frame);

    // Held by host threads around every use of `frame` (idle, keys, draw, the
    // end of close), so a frame is never destroyed under a key a host sends
    // from another thread. Never taken by the frame's own thread, except by a
    // close the host makes from a callback on it, which gives way to a close
    // already running elsewhere. Holders wait only a bounded time for the view
    // lock, so that close cannot stall behind them. Recursive: a headless
    // frame's idle comes back into the editor's idle on the same thread.
    mutable std::recursive_mutex hostCallMutex_;
    std::atomic<bool> closingFrame_{false};
};
