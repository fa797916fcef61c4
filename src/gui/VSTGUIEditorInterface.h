// What a frame needs from the editor that owns it.
#pragma once

#include <cstdint>

namespace VSTGUI {

class CFrame;

class VSTGUIEditorInterface {
  public:
    virtual ~VSTGUIEditorInterface() = default;
    // A gesture on parameter `index` starts / ends (tells the host). [frame thread]
    virtual void beginEdit(std::int32_t /*index*/) {}
    virtual void endEdit(std::int32_t /*index*/) {}
    // The frame's 50 ms timer, on the frame's thread: drives the editor's idle
    // even when the host never sends idle calls.
    virtual void onFrameTimer() {}
    virtual std::int32_t getKnobMode() const { return 0; }
    virtual CFrame* getFrame() const { return nullptr; }
};

// Knob mode set by the host (stored only; the editor's knobs do not use it).
void setGlobalKnobMode(std::int32_t mode);
std::int32_t getGlobalKnobMode();

}  // namespace VSTGUI
