// Base class of an effect's editor window, as the host-interface layer sees it.
//
// Thread tags: [ui-thread] = the thread that sends the host's editor opcodes.
#pragma once

#include "host/VstAbi.h"

class AudioEffect;

// Key event as delivered through effEditKeyDown / effEditKeyUp.
struct VstKeyCode {
    vst::int32 character = 0;  // ASCII character, 0 when none
    unsigned char virt = 0;    // vst::VirtualKey, 0 when none
    unsigned char modifier = 0;  // vst::KeyModifier bits
};

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect) : effect_(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    // [ui-thread] Stores the address of the editor's own rectangle; true when one exists.
    virtual bool getRect(vst::ERect** rect) {
        if (rect != nullptr) *rect = nullptr;
        return false;
    }
    // [ui-thread] Opens the editor inside the host's window (an X11 window id on Linux).
    virtual bool open(void* parentWindow) {
        systemWindow_ = parentWindow;
        return false;
    }
    // [ui-thread] Closes the window; returns only when nothing of it is left running.
    virtual void close() { systemWindow_ = nullptr; }
    // [ui-thread]
    virtual void idle() {}
    // [ui-thread] Answer true when the key was used.
    virtual bool onKeyDown(VstKeyCode& /*key*/) { return false; }
    virtual bool onKeyUp(VstKeyCode& /*key*/) { return false; }
    virtual bool setKnobMode(vst::int32 /*mode*/) { return false; }
    // [any thread, including the audio thread] A parameter changed (host, program or the
    // editor itself). Must not block: an editor only records the value for its own thread.
    virtual void setParameter(vst::int32 /*index*/, float /*value*/) {}

    AudioEffect* getEffect() const { return effect_; }
    void* getSystemWindow() const { return systemWindow_; }

protected:
    AudioEffect* effect_;
    void* systemWindow_ = nullptr;
};
