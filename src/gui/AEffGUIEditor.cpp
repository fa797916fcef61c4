#include "gui/AEffGUIEditor.h"

#include <atomic>

#include "host/AudioEffectX.h"

namespace VSTGUI {
namespace {
std::atomic<std::int32_t> knobMode{0};
}
void setGlobalKnobMode(std::int32_t mode) { knobMode = mode; }
std::int32_t getGlobalKnobMode() { return knobMode; }
}  // namespace VSTGUI

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {}

AEffGUIEditor::~AEffGUIEditor() { destroyFrame(); }

bool AEffGUIEditor::getRect(vst::ERect** rect) {
    if (rect == nullptr) return false;
    *rect = &rect_;
    return true;
}

bool AEffGUIEditor::open(void* parentWindow) {
    systemWindow_ = parentWindow;
    return false;
}

void AEffGUIEditor::close() {
    destroyFrame();
    systemWindow_ = nullptr;
}

void AEffGUIEditor::destroyFrame() {
    VSTGUI::CFrame* f = frame;
    frame = nullptr;
    if (f != nullptr) f->forget();
}

void AEffGUIEditor::idle() {
    if (frame == nullptr) return;
    if (!frame->isFrameThread()) {
        frame->idle();  // only schedules the pass on the frame's thread
        return;
    }
    if (inIdle_.exchange(true)) return;
    frame->idle();
    inIdle_ = false;
}

bool AEffGUIEditor::onKeyDown(VstKeyCode& key) {
    return frame != nullptr && frame->onKeyDown(key) == VSTGUI::kKeyHandled;
}

bool AEffGUIEditor::onKeyUp(VstKeyCode& key) {
    return frame != nullptr && frame->onKeyUp(key) == VSTGUI::kKeyHandled;
}

bool AEffGUIEditor::setKnobMode(vst::int32 mode) {
    VSTGUI::setGlobalKnobMode(mode);
    return true;
}

void AEffGUIEditor::draw(const vst::ERect* rect) {
    if (frame == nullptr) return;
    std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
    if (rect != nullptr) {
        frame->invalidateFrameRect(VSTGUI::CRect(rect->left, rect->top, rect->right, rect->bottom));
    } else {
        frame->invalidateFrameRect(frame->getViewSize());
    }
    frame->idle();
}

void AEffGUIEditor::beginEdit(std::int32_t index) {
    if (auto* effect = dynamic_cast<AudioEffectX*>(effect_)) effect->beginEdit(index);
}

void AEffGUIEditor::endEdit(std::int32_t index) {
    if (auto* effect = dynamic_cast<AudioEffectX*>(effect_)) effect->endEdit(index);
}
