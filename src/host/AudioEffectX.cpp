#include "host/AudioEffectX.h"

#include <cmath>

AudioEffectX::AudioEffectX(vst::HostCallback audioMaster, vst::int32 numPrograms,
                           vst::int32 numParams)
    : AudioEffect(audioMaster, numPrograms, numParams) {}

bool AudioEffectX::beginEdit(vst::int32 index) {
    return callHost(vst::audioMasterBeginEdit, index) != 0;
}

bool AudioEffectX::endEdit(vst::int32 index) {
    return callHost(vst::audioMasterEndEdit, index) != 0;
}

bool AudioEffectX::updateDisplay() { return callHost(vst::audioMasterUpdateDisplay) != 0; }

bool AudioEffectX::canHostDo(const char* text) {
    if (text == nullptr) return false;
    // The host reads the query only; the interface's pointer is not const.
    return callHost(vst::audioMasterCanDo, 0, 0, const_cast<char*>(text)) == 1;
}

bool AudioEffectX::sizeWindow(vst::int32 width, vst::int32 height) {
    return callHost(vst::audioMasterSizeWindow, width, height) != 0;
}

vst::intptr AudioEffectX::dispatcher(vst::int32 opcode, vst::int32 index, vst::intptr value,
                                     void* ptr, float opt) {
    switch (opcode) {
        case vst::effCanBeAutomated:
            return 1;
        case vst::effString2Parameter:
            return 0;
        case vst::effGetProgramNameIndexed:
            if (ptr == nullptr) return 0;
            return getProgramNameIndexed(static_cast<vst::int32>(value), index,
                                         static_cast<char*>(ptr))
                       ? 1
                       : 0;
        case vst::effGetPlugCategory:
            return getPlugCategory();
        case vst::effGetEffectName:
            return ptr != nullptr && getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
        case vst::effGetVendorString:
            return ptr != nullptr && getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
        case vst::effGetProductString:
            return ptr != nullptr && getProductString(static_cast<char*>(ptr)) ? 1 : 0;
        case vst::effGetVendorVersion:
            return getVendorVersion();
        case vst::effCanDo:
            return ptr != nullptr ? canDo(static_cast<const char*>(ptr)) : 0;
        case vst::effGetTailSize:
            return getGetTailSize();
        case vst::effGetParameterProperties:
            if (ptr == nullptr) return 0;
            return getParameterProperties(index, static_cast<vst::VstParameterProperties*>(ptr))
                       ? 1
                       : 0;
        case vst::effGetVstVersion:
            return getVstVersion();
        case vst::effEditKeyDown:
        case vst::effEditKeyUp: {
            if (editor_ == nullptr) return 0;
            VstKeyCode key;
            key.character = index;
            key.virt = static_cast<unsigned char>(value);
            // Modifier bits arrive in a float; anything but a small whole number is none.
            key.modifier = std::isfinite(opt) && opt >= 0.0f && opt < 256.0f
                               ? static_cast<unsigned char>(opt)
                               : 0;
            const bool used = opcode == vst::effEditKeyDown ? editor_->onKeyDown(key)
                                                            : editor_->onKeyUp(key);
            return used ? 1 : 0;
        }
        case vst::effSetEditKnobMode:
            if (editor_ == nullptr) return 0;
            return editor_->setKnobMode(static_cast<vst::int32>(value)) ? 1 : 0;
        case vst::effGetCurrentMidiProgram:
            return -1;
        case vst::effGetSpeakerArrangement:
            // Both output pointers receive null: no speaker arrangement is offered.
            if (value != 0) *reinterpret_cast<void**>(value) = nullptr;
            if (ptr != nullptr) *static_cast<void**>(ptr) = nullptr;
            return 0;
        case vst::effSetTotalSampleToProcess:
            return value;
        default:
            return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}
