// Loads a Linux VST2 library with dlopen and drives it only through the binary
// interface: entry point, dispatcher, parameter calls and the process entries.
// One PluginHost owns one effect from load to effClose and dlclose.
#pragma once

#include <string>
#include <vector>

#include "host/VstAbi.h"

namespace tq {

enum class SamplePrecision { single, double_ };

class PluginHost {
  public:
    // Throws ToolError naming `path` when it is not a loadable VST2 effect.
    explicit PluginHost(const std::string& path);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    const std::string& path() const { return path_; }
    std::string effectName() const;
    int numInputs() const { return effect_->numInputs; }
    int numOutputs() const { return effect_->numOutputs; }
    int numParams() const { return effect_->numParams; }
    int uniqueId() const { return effect_->uniqueID; }
    bool canProcessDouble() const;
    // The effect's own version number: its vendor version, else the record's.
    int version() const;
    // The latency the effect reports now (it may change with the sample rate).
    int initialDelay() const { return effect_->initialDelay; }

    std::string parameterName(int index) const;
    std::string parameterDisplay(int index) const;
    std::string parameterLabel(int index) const;
    void setParameter(int index, float value);
    float getParameter(int index) const;

    // Sets rate and block size, tells the effect which pins carry audio (the rest
    // are answered "not connected" through audioMasterPinConnected) and switches
    // it on. Processing calls must stay within `blockSize` frames.
    void start(double sampleRate, int blockSize, SamplePrecision precision, int connectedInputs,
               int connectedOutputs);
    void process(float** inputs, float** outputs, int frames);
    void process(double** inputs, double** outputs, int frames);
    // Switches the effect off again (mainsChanged 0); start may follow.
    void stop();

    // Host-side state the callback answers from.
    double sampleRate() const { return sampleRate_; }
    int blockSize() const { return blockSize_; }
    bool isPinConnected(int pin, bool output) const;

  private:
    vst::intptr dispatch(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0,
                         void* ptr = nullptr, float opt = 0.0f) const;
    std::string dispatchText(vst::int32 opcode, int index) const;

    std::string path_;
    void* library_ = nullptr;
    vst::AEffect* effect_ = nullptr;
    double sampleRate_ = 44100.0;
    int blockSize_ = 512;
    int connectedInputs_ = 0;
    int connectedOutputs_ = 0;
    bool running_ = false;
};

}  // namespace tq
