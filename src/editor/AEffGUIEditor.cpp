#include "editor/AEffGUIEditor.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "host/AudioEffectX.h"

namespace {
constexpr auto kLockPoll = std::chrono::microseconds(200);
constexpr auto kViewLockWait = std::chrono::milliseconds(200);

// The toolkit numbers its keys like the host's key events, so a host's key passes
// field by field. Both lists are dense from 1: checking each run's ends and the
// modifier bits catches a key added, dropped or moved in either.
constexpr bool same(std::int32_t toolkit, std::int32_t host) { return toolkit == host; }
static_assert(same(VSTGUI::VKEY_BACK, vst::VKEY_BACK) && same(VSTGUI::VKEY_HELP, vst::VKEY_HELP) &&
              same(VSTGUI::VKEY_NUMPAD0, vst::VKEY_NUMPAD0) &&
              same(VSTGUI::VKEY_DIVIDE, vst::VKEY_DIVIDE) && same(VSTGUI::VKEY_F1, vst::VKEY_F1) &&
              same(VSTGUI::VKEY_F12, vst::VKEY_F12) && same(VSTGUI::VKEY_EQUALS, vst::VKEY_EQUALS));
static_assert(same(VSTGUI::MODIFIER_SHIFT, vst::MODIFIER_SHIFT) &&
              same(VSTGUI::MODIFIER_ALTERNATE, vst::MODIFIER_ALTERNATE) &&
              same(VSTGUI::MODIFIER_COMMAND, vst::MODIFIER_COMMAND) &&
              same(VSTGUI::MODIFIER_CONTROL, vst::MODIFIER_CONTROL));

VSTGUI::CKeyCode toolkitKey(const VstKeyCode& key) {
    VSTGUI::CKeyCode toolkit;
    toolkit.character = key.character;
    toolkit.virt = key.virt;
    toolkit.modifier = key.modifier;
    return toolkit;
}
}  // namespace


AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {}

AEffGUIEditor::~AEffGUIEditor() {
    destroyFrame();
    // A frame closed from its own thread may still be ending: the host may
    // unload the library as soon as this returns.
    VSTGUI::joinEndedFrameThreads();
}

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
    VSTGUI::CFrame* closing = nullptr;
    {
        std::unique_lock<std::recursive_mutex> lock(hostCallMutex_, std::defer_lock);
        if (VSTGUI::isThreadOfFrame(frame)) {
            // A host closing the editor from a callback of the frame's thread. A
            // close on another thread joins this thread while holding the mutex:
            // leave the work to it rather than wait for it.
            while (!lock.try_lock()) {
                if (closingFrame_) return;
                std::this_thread::sleep_for(kLockPoll);
            }
        } else {
            lock.lock();
        }
        closing = frame;
        if (closing == nullptr) return;
        closingFrame_ = true;
        // The thread stops before the pointer changes, so it never reads one being
        // written (on the frame's own thread it ends once this callback returns).
        closing->closeWindow();
        frame = nullptr;
        closingFrame_ = false;
    }
    // Outside the mutex: the views' last words (an open edit box commits) may
    // reach the host, which may call back into this editor.
    closing->forget();
}

bool AEffGUIEditor::isOnFrameThread() const {
    VSTGUI::CFrame* f = frame;
    if (f == nullptr || VSTGUI::isThreadOfFrame(f)) return true;
    std::lock_guard<std::recursive_mutex> lock(hostCallMutex_);
    f = frame;
    return f == nullptr || f->isFrameThread();
}

void AEffGUIEditor::runIdlePass(VSTGUI::CFrame* f) {
    if (inIdle_.exchange(true)) return;
    f->idle();
    inIdle_ = false;
}

void AEffGUIEditor::idle() {
    // The frame's timer: no lock (a close on a host thread holds it while it
    // waits for this thread to end).
    if (VSTGUI::CFrame* f = frame; f != nullptr && VSTGUI::isThreadOfFrame(f)) {
        runIdlePass(f);
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(hostCallMutex_);
    VSTGUI::CFrame* f = frame;
    if (f == nullptr) return;
    if (!f->isFrameThread()) {
        f->idle();  // only schedules the pass on the frame's thread
        return;
    }
    runIdlePass(f);  // headless: no thread of its own
}

bool AEffGUIEditor::onKeyDown(VstKeyCode& key) {
    std::unique_lock<std::recursive_mutex> lock(hostCallMutex_, std::defer_lock);
    if (!VSTGUI::isThreadOfFrame(frame)) lock.lock();
    VSTGUI::CFrame* f = frame;
    if (f == nullptr) return false;
    VSTGUI::CKeyCode toolkit = toolkitKey(key);
    return f->onKeyDown(toolkit) == VSTGUI::kKeyHandled;
}

bool AEffGUIEditor::onKeyUp(VstKeyCode& key) {
    std::unique_lock<std::recursive_mutex> lock(hostCallMutex_, std::defer_lock);
    if (!VSTGUI::isThreadOfFrame(frame)) lock.lock();
    VSTGUI::CFrame* f = frame;
    if (f == nullptr) return false;
    VSTGUI::CKeyCode toolkit = toolkitKey(key);
    return f->onKeyUp(toolkit) == VSTGUI::kKeyHandled;
}

bool AEffGUIEditor::setKnobMode(vst::int32 mode) {
    VSTGUI::setGlobalKnobMode(mode);
    return true;
}

void AEffGUIEditor::draw(const vst::ERect* rect) {
    std::unique_lock<std::recursive_mutex> hostLock(hostCallMutex_, std::defer_lock);
    if (!VSTGUI::isThreadOfFrame(frame)) hostLock.lock();
    VSTGUI::CFrame* f = frame;
    if (f == nullptr) return;
    {
        // A bounded wait, like the keys': a close from the frame's thread may be
        // waiting for the host mutex while that thread holds the view lock.
        std::unique_lock<std::recursive_timed_mutex> viewLock(f->getViewLock(), std::defer_lock);
        const auto end = std::chrono::steady_clock::now() + kViewLockWait;
        while (!viewLock.try_lock()) {
            if (std::chrono::steady_clock::now() >= end) return;
            std::this_thread::sleep_for(kLockPoll);
        }
        if (rect != nullptr) {
            f->invalidateFrameRect(VSTGUI::CRect(rect->left, rect->top, rect->right, rect->bottom));
        } else {
            f->invalidateFrameRect(f->getViewSize());
        }
    }
    f->idle();
}

void AEffGUIEditor::beginEdit(std::int32_t index) {
    if (auto* effect = dynamic_cast<AudioEffectX*>(effect_)) effect->beginEdit(index);
}

void AEffGUIEditor::endEdit(std::int32_t index) {
    if (auto* effect = dynamic_cast<AudioEffectX*>(effect_)) effect->endEdit(index);
}
