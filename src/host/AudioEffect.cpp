#include "host/AudioEffect.h"

#include <cstring>

namespace {

AudioEffect* effectOf(vst::AEffect* effect) {
    return effect != nullptr ? static_cast<AudioEffect*>(effect->object) : nullptr;
}

vst::intptr dispatchGlue(vst::AEffect* effect, vst::int32 opcode, vst::int32 index,
                         vst::intptr value, void* ptr, float opt) {
    AudioEffect* object = effectOf(effect);
    if (object == nullptr) return 0;
    if (opcode == vst::effClose) {
        object->dispatcher(opcode, index, value, ptr, opt);
        delete object;
        return 1;
    }
    return object->dispatcher(opcode, index, value, ptr, opt);
}

// The obsolete accumulating entry: accepted and ignored.
void processGlue(vst::AEffect*, float**, float**, vst::int32) {}

void processReplacingGlue(vst::AEffect* effect, float** inputs, float** outputs,
                          vst::int32 frames) {
    if (AudioEffect* object = effectOf(effect)) object->processReplacing(inputs, outputs, frames);
}

void processDoubleReplacingGlue(vst::AEffect* effect, double** inputs, double** outputs,
                                vst::int32 frames) {
    if (AudioEffect* object = effectOf(effect)) {
        object->processDoubleReplacing(inputs, outputs, frames);
    }
}

void setParameterGlue(vst::AEffect* effect, vst::int32 index, float value) {
    if (AudioEffect* object = effectOf(effect)) object->setParameter(index, value);
}

float getParameterGlue(vst::AEffect* effect, vst::int32 index) {
    AudioEffect* object = effectOf(effect);
    return object != nullptr ? object->getParameter(index) : 0.0f;
}

}  // namespace

void copyHostString(char* destination, const char* source, int limit) {
    if (destination == nullptr) return;
    if (source == nullptr) source = "";
    const std::size_t length = strnlen(source, static_cast<std::size_t>(limit));
    std::memcpy(destination, source, length);
    destination[length] = '\0';
}

AudioEffect::AudioEffect(vst::HostCallback audioMaster, vst::int32 numPrograms,
                         vst::int32 numParams)
    : audioMaster_(audioMaster), numPrograms_(numPrograms), numParams_(numParams) {
    cEffect_.magic = vst::kEffectMagic;
    cEffect_.dispatcher = dispatchGlue;
    cEffect_.process = processGlue;
    cEffect_.setParameter = setParameterGlue;
    cEffect_.getParameter = getParameterGlue;
    cEffect_.numPrograms = numPrograms;
    cEffect_.numParams = numParams;
    cEffect_.numInputs = 1;
    cEffect_.numOutputs = 2;
    cEffect_.flags = 0;
    cEffect_.ioRatio = 1.0f;
    cEffect_.object = this;
    cEffect_.uniqueID = vst::fourCharCode('N', 'o', 'E', 'f');
    cEffect_.version = 1;
    cEffect_.processReplacing = processReplacingGlue;
    cEffect_.processDoubleReplacing = processDoubleReplacingGlue;
}

AudioEffect::~AudioEffect() {
    delete editor_;
    editor_ = nullptr;
}

void AudioEffect::setEditor(AEffEditor* editor) {
    editor_ = editor;
    if (editor_ != nullptr) {
        cEffect_.flags |= vst::effFlagsHasEditor;
    } else {
        cEffect_.flags &= ~vst::effFlagsHasEditor;
    }
}

void AudioEffect::canProcessReplacing(bool state) {
    if (state) {
        cEffect_.flags |= vst::effFlagsCanReplacing;
    } else {
        cEffect_.flags &= ~vst::effFlagsCanReplacing;
    }
}

void AudioEffect::canDoubleReplacing(bool state) {
    if (state) {
        cEffect_.flags |= vst::effFlagsCanDoubleReplacing;
    } else {
        cEffect_.flags &= ~vst::effFlagsCanDoubleReplacing;
    }
}

void AudioEffect::processReplacing(float**, float**, vst::int32) {}
void AudioEffect::processDoubleReplacing(double**, double**, vst::int32) {}

void AudioEffect::setParameterAutomated(vst::int32 index, float value) {
    setParameter(index, value);
    callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::getProgramName(char* name) { copyHostString(name, "", 0); }

vst::intptr AudioEffect::callHost(vst::int32 opcode, vst::int32 index, vst::intptr value,
                                  void* ptr, float opt) {
    if (audioMaster_ == nullptr) return 0;
    return audioMaster_(&cEffect_, opcode, index, value, ptr, opt);
}

vst::intptr AudioEffect::getMasterVersion() {
    const vst::intptr version = callHost(vst::audioMasterVersion);
    return version;
}

bool AudioEffect::isInputConnected(vst::int32 input) {
    return callHost(vst::audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(vst::int32 output) {
    return callHost(vst::audioMasterPinConnected, output, 1) == 0;
}

vst::intptr AudioEffect::dispatcher(vst::int32 opcode, vst::int32 index, vst::intptr value,
                                    void* ptr, float opt) {
    switch (opcode) {
        case vst::effOpen:
            open();
            return 0;
        case vst::effClose:
            close();
            return 1;
        case vst::effSetProgram:
            if (value >= 0 && value < numPrograms_) setProgram(static_cast<vst::int32>(value));
            return 0;
        case vst::effGetProgram:
            return getProgram();
        case vst::effSetProgramName:
            if (ptr != nullptr) setProgramName(static_cast<char*>(ptr));
            return 0;
        case vst::effGetProgramName:
            if (ptr != nullptr) getProgramName(static_cast<char*>(ptr));
            return 0;
        case vst::effGetParamLabel:
            if (ptr != nullptr) getParameterLabel(index, static_cast<char*>(ptr));
            return 0;
        case vst::effGetParamDisplay:
            if (ptr != nullptr) getParameterDisplay(index, static_cast<char*>(ptr));
            return 0;
        case vst::effGetParamName:
            if (ptr != nullptr) getParameterName(index, static_cast<char*>(ptr));
            return 0;
        case vst::effSetSampleRate:
            setSampleRate(opt);
            return 0;
        case vst::effSetBlockSize:
            setBlockSize(static_cast<vst::int32>(value));
            return 0;
        case vst::effMainsChanged:
            if (value == 0) {
                suspend();
            } else {
                resume();
            }
            return 0;
        case vst::effEditGetRect:
            if (editor_ == nullptr) return 0;
            return editor_->getRect(static_cast<vst::ERect**>(ptr)) ? 1 : 0;
        case vst::effEditOpen:
            if (editor_ == nullptr) return 0;
            return editor_->open(ptr) ? 1 : 0;
        case vst::effEditClose:
            if (editor_ != nullptr) editor_->close();
            return 0;
        case vst::effEditIdle:
            if (editor_ != nullptr) editor_->idle();
            return 0;
        case vst::effIdentify:
            return vst::kIdentifyAnswer;
        case vst::effGetChunk:
            return getChunk(static_cast<void**>(ptr), index != 0);
        case vst::effSetChunk:
            return setChunk(ptr, static_cast<vst::int32>(value), index != 0);
        default:
            return 0;
    }
}
