// The VST 1.x layer of the host interface: owns the AEffect record that the host
// sees, forwards the host's calls to virtual operations, and answers the 1.x
// opcodes. Derived classes override the virtual operations they support.
//
// Thread tags used in host/ and effect/:
//   [ui-thread]    dispatcher opcodes and parameter calls from the host or editor
//   [audio-thread] process calls
//   [any thread]   safe from either
#pragma once

#include "host/AEffEditor.h"
#include "host/VstAbi.h"

class AudioEffect {
public:
    AudioEffect(vst::HostCallback audioMaster, vst::int32 numPrograms, vst::int32 numParams);
    // Destroys the attached editor.
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // [ui-thread] Opcode dispatcher; effClose destroys the object (the glue does that).
    virtual vst::intptr dispatcher(vst::int32 opcode, vst::int32 index, vst::intptr value,
                                   void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float rate) { sampleRate_ = rate; }
    virtual void setBlockSize(vst::int32 blockSize) { blockSize_ = blockSize; }

    // [audio-thread]
    virtual void processReplacing(float** inputs, float** outputs, vst::int32 frames);
    virtual void processDoubleReplacing(double** inputs, double** outputs, vst::int32 frames);

    // [any thread]
    virtual void setParameter(vst::int32 /*index*/, float /*value*/) {}
    virtual float getParameter(vst::int32 /*index*/) { return 0.0f; }
    // [ui-thread] setParameter, then tells the host (audioMasterAutomate).
    virtual void setParameterAutomated(vst::int32 index, float value);

    virtual vst::int32 getProgram() { return curProgram_; }
    virtual void setProgram(vst::int32 program) { curProgram_ = program; }
    virtual void setProgramName(char* /*name*/) {}
    virtual void getProgramName(char* name);

    virtual void getParameterLabel(vst::int32 /*index*/, char* /*text*/) {}
    virtual void getParameterDisplay(vst::int32 /*index*/, char* /*text*/) {}
    virtual void getParameterName(vst::int32 /*index*/, char* /*text*/) {}

    virtual vst::int32 getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual vst::int32 setChunk(void* /*data*/, vst::int32 /*size*/, bool /*isPreset*/) {
        return 0;
    }

    vst::AEffect* getAeffect() { return &cEffect_; }
    AEffEditor* getEditor() const { return editor_; }
    // Takes ownership; sets or clears the has-editor flag.
    void setEditor(AEffEditor* editor);
    float getSampleRate() const { return sampleRate_; }
    vst::int32 getBlockSize() const { return blockSize_; }
    vst::int32 getNumParams() const { return cEffect_.numParams; }

    void setNumInputs(vst::int32 count) { cEffect_.numInputs = count; }
    void setNumOutputs(vst::int32 count) { cEffect_.numOutputs = count; }
    void setUniqueID(vst::int32 id) { cEffect_.uniqueID = id; }
    void setInitialDelay(vst::int32 frames) { cEffect_.initialDelay = frames; }
    vst::int32 getInitialDelay() const { return cEffect_.initialDelay; }
    void canProcessReplacing(bool state = true);
    void canDoubleReplacing(bool state = true);

    // Host queries. [any thread]
    vst::intptr getMasterVersion();
    // The host answers audioMasterPinConnected with 0 for a connected pin.
    bool isInputConnected(vst::int32 input);
    bool isOutputConnected(vst::int32 output);

protected:
    vst::intptr callHost(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0,
                         void* ptr = nullptr, float opt = 0.0f);

    vst::HostCallback audioMaster_;
    AEffEditor* editor_ = nullptr;
    float sampleRate_ = 44100.0f;
    vst::int32 blockSize_ = 1024;
    vst::int32 numPrograms_;
    vst::int32 numParams_;
    vst::int32 curProgram_ = 0;
    vst::AEffect cEffect_{};
};

// Copies a terminated string into a host buffer, writing at most `limit` characters
// plus the terminator. A null buffer is ignored.
void copyHostString(char* destination, const char* source, int limit);
