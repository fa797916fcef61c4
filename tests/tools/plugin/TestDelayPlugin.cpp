// A tiny VST2 effect for testing hosts: a pure delay whose output is exactly
// known. Built in several variants (compile definitions) to exercise a host's
// error paths:
//   TQ_TEST_ENTRY_RETURNS_NULL  the entry returns no effect
//   TQ_TEST_WRONG_MAGIC         the effect record carries a wrong magic
//   TQ_TEST_NO_ENTRY            neither VSTPluginMain nor main is exported
//   TQ_TEST_MAIN_ONLY           the entry is exported as `main` only
//   TQ_TEST_FLOAT_ONLY          no double-precision processing, another unique ID
//
// Parameters:
//   0 "Gain"    output gain 2x (x = 0.5 is unity, exactly), shown in dB
//   1 "Mode"    "thru", "invert", "swap", "tag", "Tag", "pins"; both tags write
//               the constant 0.25 on the float path and 0.5 on the double path;
//               "pins" writes 0.125 if input 2 is not connected plus 0.25 if
//               output 2 is not connected
//   2 "Delay"   latency "0", "1", "100" (default) or "1000" frames; takes
//               effect when processing is switched on
//   3 "Marker"  shown as x * 100 ("50.0"); setting it below 0.01 resets Gain to 0
//               (a side effect on another parameter, like a layout conversion)
//   4           "LongNameParameter", cut to "LongName" by the 8-character copy
//   5 "Late"    "off", "on": when on, the latency is reported only from inside the
//               first process call (as some effects do), 0 before that
//   6..25       "Spare6".."Spare25"; 4 and 6..25 have no effect and an empty display
//
// It relies on its host: when processing is switched on it asks for the sample
// rate and block size (and expects what it was told through the dispatcher) and
// whether input 2 and output 2 are connected. A mono input (input 2 not
// connected) feeds both channels; with output 2 not connected it never touches
// output 2. If the host's answers disagree, every output sample becomes 0.75.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "host/VstAbi.h"

namespace {

constexpr int kNumParams = 26;
constexpr int kMaxDelay = 1000;
constexpr int kDelaySteps[] = {0, 1, 100, 1000};
constexpr const char* kModeTexts[] = {"thru", "invert", "swap", "tag", "Tag", "pins"};
constexpr int kModeCount = 6;
constexpr float kHostMismatchValue = 0.75f;

enum class Mode { thru, invert, swap, tag, pins };

int stepIndex(float x, int steps) {
    const int index = static_cast<int>(static_cast<float>(steps) * x);
    return std::clamp(index, 0, steps - 1);
}

struct TestEffect {
    vst::AEffect effect{};
    vst::HostCallback host = nullptr;
    float values[kNumParams] = {};
    float sampleRate = 44100.0f;
    int blockSize = 1024;
    bool hostAgrees = true;
    bool monoInput = false;
    bool monoOutput = false;
    int delay = 100;
    int writePosition = 0;
    std::vector<double> ring[2];

    double gain() const { return 2.0 * values[0]; }
    int modeStep() const { return stepIndex(values[1], kModeCount); }
    bool lateLatency() const { return values[5] >= 0.5f; }
    Mode mode() const {
        switch (modeStep()) {
            case 0:
                return Mode::thru;
            case 1:
                return Mode::invert;
            case 2:
                return Mode::swap;
            case 5:
                return Mode::pins;
            default:
                return Mode::tag;
        }
    }

    void resume() {
        delay = kDelaySteps[stepIndex(values[2], 4)];
        effect.initialDelay = lateLatency() ? 0 : delay;
        writePosition = 0;
        for (auto& channel : ring) std::fill(channel.begin(), channel.end(), 0.0);
        const auto askedRate = host(&effect, vst::audioMasterGetSampleRate, 0, 0, nullptr, 0.0f);
        const auto askedBlock = host(&effect, vst::audioMasterGetBlockSize, 0, 0, nullptr, 0.0f);
        hostAgrees = askedRate == static_cast<vst::intptr>(sampleRate) && askedBlock == blockSize;
        monoInput = host(&effect, vst::audioMasterPinConnected, 1, 0, nullptr, 0.0f) != 0;
        monoOutput = host(&effect, vst::audioMasterPinConnected, 1, 1, nullptr, 0.0f) != 0;
    }

    template <typename Sample>
    void process(Sample** inputs, Sample** outputs, int frames, Sample tagValue) {
        const int outputs_ = monoOutput ? 1 : 2;
        const Mode m = mode();
        const double g = gain();
        effect.initialDelay = delay;
        for (int i = 0; i < frames; ++i) {
            double in[2] = {static_cast<double>(inputs[0][i]),
                            static_cast<double>(inputs[monoInput ? 0 : 1][i])};
            double out[2];
            for (int c = 0; c < 2; ++c) {
                if (delay == 0) {
                    out[c] = in[c];
                } else {
                    auto& channel = ring[c];
                    const int readPosition =
                        (writePosition + kMaxDelay + 1 - delay) % (kMaxDelay + 1);
                    channel[static_cast<std::size_t>(writePosition)] = in[c];
                    out[c] = channel[static_cast<std::size_t>(readPosition)];
                }
            }
            writePosition = (writePosition + 1) % (kMaxDelay + 1);
            if (m == Mode::swap) std::swap(out[0], out[1]);
            for (int c = 0; c < outputs_; ++c) {
                double value = m == Mode::invert ? -out[c] * g : out[c] * g;
                if (m == Mode::tag) value = static_cast<double>(tagValue);
                if (m == Mode::pins) value = (monoInput ? 0.125 : 0.0) + (monoOutput ? 0.25 : 0.0);
                if (!hostAgrees) value = kHostMismatchValue;
                outputs[c][i] = static_cast<Sample>(value);
            }
        }
    }
};

TestEffect* self(vst::AEffect* effect) { return static_cast<TestEffect*>(effect->object); }

void copyText(void* ptr, const char* text) {
    // Within the old 8-character convention plus terminator.
    const std::size_t length = std::min<std::size_t>(std::strlen(text), 8);
    std::memcpy(ptr, text, length);
    static_cast<char*>(ptr)[length] = '\0';
}

void parameterDisplay(const TestEffect& e, int index, char* text) {
    if (index == 0) {
        const double g = e.gain();
        if (g <= 0.0) {
            std::snprintf(text, 9, "-oo");
        } else {
            std::snprintf(text, 9, "%.2f", 20.0 * std::log10(g));
        }
    } else if (index == 1) {
        std::snprintf(text, 9, "%s", kModeTexts[e.modeStep()]);
    } else if (index == 2) {
        std::snprintf(text, 9, "%d", kDelaySteps[stepIndex(e.values[2], 4)]);
    } else if (index == 5) {
        std::snprintf(text, 9, "%s", e.lateLatency() ? "on" : "off");
    } else if (index == 3) {
        std::snprintf(text, 9, "%.1f", 100.0 * static_cast<double>(e.values[3]));
    } else {
        text[0] = '\0';
    }
}

vst::intptr dispatcher(vst::AEffect* effect, vst::int32 opcode, vst::int32 index, vst::intptr value,
                       void* ptr, float opt) {
    TestEffect* e = self(effect);
    switch (opcode) {
        case vst::effClose:
            delete e;
            return 1;
        case vst::effSetSampleRate:
            e->sampleRate = opt;
            return 0;
        case vst::effSetBlockSize:
            e->blockSize = static_cast<int>(value);
            return 0;
        case vst::effMainsChanged:
            if (value != 0) e->resume();
            return 0;
        case vst::effGetParamName:
            if (index == 0) copyText(ptr, "Gain");
            if (index == 1) copyText(ptr, "Mode");
            if (index == 2) copyText(ptr, "Delay");
            if (index == 3) copyText(ptr, "Marker");
            // Longer than the old text convention: hosts see "LongName".
            if (index == 4) copyText(ptr, "LongNameParameter");
            if (index == 5) copyText(ptr, "Late");
            if (index >= 6 && index < kNumParams) {
                std::snprintf(static_cast<char*>(ptr), 9, "Spare%d", index);
            }
            return 0;
        case vst::effGetParamDisplay:
            if (index >= 0 && index < kNumParams)
                parameterDisplay(*e, index, static_cast<char*>(ptr));
            return 0;
        case vst::effGetParamLabel:
            copyText(ptr, index == 0 ? "dB" : "");
            return 0;
        case vst::effGetEffectName:
            std::snprintf(static_cast<char*>(ptr), 64, "Test Delay");
            return 1;
        case vst::effGetVstVersion:
            return 2400;
        default:
            return 0;
    }
}

void setParameter(vst::AEffect* effect, vst::int32 index, float value) {
    TestEffect* e = self(effect);
    if (index < 0 || index >= kNumParams) return;
    e->values[index] = value;
    if (index == 3 && value < 0.01f) e->values[0] = 0.0f;
}

float getParameter(vst::AEffect* effect, vst::int32 index) {
    if (index < 0 || index >= kNumParams) return 0.0f;
    return self(effect)->values[index];
}

void processFloat(vst::AEffect* effect, float** inputs, float** outputs, vst::int32 frames) {
    self(effect)->process(inputs, outputs, frames, 0.25f);
}

#ifndef TQ_TEST_FLOAT_ONLY
void processDouble(vst::AEffect* effect, double** inputs, double** outputs, vst::int32 frames) {
    self(effect)->process(inputs, outputs, frames, 0.5);
}
#endif

void processAccumulating(vst::AEffect*, float**, float**, vst::int32) {}

[[maybe_unused]] vst::AEffect* createEffect(vst::HostCallback host) {
    if (host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
#ifdef TQ_TEST_ENTRY_RETURNS_NULL
    return nullptr;
#endif
    auto* e = new TestEffect;
    e->host = host;
    for (auto& channel : e->ring) channel.assign(kMaxDelay + 1, 0.0);
    e->values[0] = 0.5f;  // unity gain
    e->values[1] = 0.1f;  // thru
    e->values[2] = 0.6f;  // 100 frames
    e->values[3] = 0.5f;
    vst::AEffect& a = e->effect;
    a.magic = vst::kEffectMagic;
#ifdef TQ_TEST_WRONG_MAGIC
    a.magic = vst::fourCharCode('N', 'o', 'p', 'e');
    // A host must not call into a record with a wrong magic, so effClose never
    // comes; the library keeps the object and frees it when it is unloaded.
    static std::unique_ptr<TestEffect> unclaimed;
    unclaimed.reset(e);
#endif
    a.dispatcher = dispatcher;
    a.process = processAccumulating;
    a.setParameter = setParameter;
    a.getParameter = getParameter;
    a.numPrograms = 0;
    a.numParams = kNumParams;
    a.numInputs = 2;
    a.numOutputs = 2;
    a.flags = vst::effFlagsCanReplacing;
    a.initialDelay = e->delay;
    a.ioRatio = 1.0f;
    a.object = e;
    a.uniqueID = vst::fourCharCode('T', 'R', 'q', 'l');
    a.version = 1;
    a.processReplacing = processFloat;
#ifdef TQ_TEST_FLOAT_ONLY
    a.uniqueID = vst::fourCharCode('T', 'q', 'F', 'o');
#else
    a.flags |= vst::effFlagsCanDoubleReplacing;
    a.processDoubleReplacing = processDouble;
#endif
    return &a;
}

}  // namespace

#ifndef TQ_TEST_NO_ENTRY
extern "C" {
#ifndef TQ_TEST_MAIN_ONLY
__attribute__((visibility("default"))) vst::AEffect* VSTPluginMain(vst::HostCallback host) {
    return createEffect(host);
}
#endif
__attribute__((visibility("default"))) vst::AEffect* testPluginMain(vst::HostCallback host) asm(
    "main");
vst::AEffect* testPluginMain(vst::HostCallback host) { return createEffect(host); }
}
#else
// Something for the library to hold besides the missing entry.
extern "C" __attribute__((visibility("default"))) int tqTestNotAnEffect() { return 42; }
#endif
