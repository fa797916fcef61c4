// The VST 2.x layer of the host interface: the 2.x opcodes and the extra host
// calls (edit gestures, display updates). Everything else goes to AudioEffect.
#pragma once

#include "host/AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(vst::HostCallback audioMaster, vst::int32 numPrograms, vst::int32 numParams);

    // [ui-thread]
    vst::intptr dispatcher(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                           float opt) override;

    virtual bool getProgramNameIndexed(vst::int32 /*category*/, vst::int32 /*index*/,
                                       char* /*text*/) {
        return false;
    }
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual vst::int32 getVendorVersion() { return 0; }
    virtual vst::int32 getPlugCategory() { return 0; }
    virtual vst::int32 canDo(const char* /*text*/) { return 0; }
    virtual vst::int32 getGetTailSize() { return 0; }
    virtual bool getParameterProperties(vst::int32 /*index*/,
                                        vst::VstParameterProperties* /*properties*/) {
        return false;
    }
    virtual vst::int32 getVstVersion() { return 2400; }

    // Host calls. [ui-thread]
    bool beginEdit(vst::int32 index);
    bool endEdit(vst::int32 index);
    bool updateDisplay();
    // Whether the host answers its canDo query `text` with yes (1).
    bool canHostDo(const char* text);
    // Asks the host to give the editor's window this size; true when it did.
    bool sizeWindow(vst::int32 width, vst::int32 height);
};
