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

#include "gui/CFrame.h"
#include "gui/VSTGUIEditorInterface.h"
#include "host/AEffEditor.h"

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
    // frame's thread, or when there is no frame.
    bool isOnFrameThread() const { return frame == nullptr || frame->isFrameThread(); }

  protected:
    // Destroys `frame` (stopping its thread first) and clears the pointer.
    void destroyFrame();

    vst::ERect rect_{};
    VSTGUI::CFrame* frame = nullptr;
    std::atomic<bool> inIdle_{false};
};
