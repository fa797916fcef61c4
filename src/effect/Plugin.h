// The effect object.
//
// Lifecycle: the host calls the entry, which constructs a Plugin (everything is
// allocated here, once, at its worst-case size); from then on processing is valid
// at any time. setSampleRate and effMainsChanged(0) run suspend, which clears all
// signal state. effClose destroys the object.
//
// Threads: process calls come from the host's audio thread and hold the processing
// lock for the whole block; dispatcher and parameter calls come from the host's or
// the editor's thread, and setParameter also from the audio thread (automation).
// setSampleRate holds the processing lock while it rebuilds state. Parameter changes
// never take it: each holds the parameter lock (CPresetSystemEffect) for its own few
// microseconds of work and ends in relaxed atomic stores that the audio thread picks
// up at its next frame or block. A TransShape change builds the new smoothing kernel
// on the caller's thread and publishes it; the audio thread takes it over at the
// start of its next block without waiting (SignalPath::adoptPublished) and clears the
// signal state there. Lock order: processing lock, then parameter lock. Every wait
// for the processing lock is bounded at one second; an audio block whose wait times
// out writes silence.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "dsp/EngineSettings.h"
#include "effect/ProcessingMutex.h"
#include "host/VstAbi.h"
#include "presets/CPresetSystemEffect.h"

namespace tq {
class SignalPath;
}

class Plugin;

// How the effect makes its editor without knowing the editor's classes: the library's
// entry passes the editor's functions; an effect made without them has no editor.
struct EditorFactory {
    // Null when the editor cannot be made; the effect then works without one.
    AEffEditor* (*create)(Plugin& effect) = nullptr;
    // [ui-thread] The latency the About box shows.
    void (*setLatency)(AEffEditor& editor, int samples) = nullptr;
    // [ui-thread] The host renamed the current program.
    void (*programNameChanged)(AEffEditor& editor, const char* name) = nullptr;
};

// The editor's functions. Defined with the editor, above the effect: only the library's
// entry asks for them, so an effect built without the editor (tests, tools) links too.
EditorFactory makeEditorFactory();

class Plugin : public CPresetSystemEffect {
public:
    // `forcedFlavour` overrides the processor check (tests run both flavours).
    explicit Plugin(vst::HostCallback audioMaster,
                    std::optional<tq::Flavour> forcedFlavour = std::nullopt,
                    const EditorFactory& editorFactory = {});
    // Destroys the editor first: its window's thread reads the meters.
    ~Plugin() override;

    // [ui-thread, takes both locks]
    void setSampleRate(float rate) override;
    // [ui-thread] Clears all signal state; takes no lock of its own.
    void suspend() override;

    // [audio-thread, takes the lock]
    void processReplacing(float** inputs, float** outputs, vst::int32 frames) override;
    void processDoubleReplacing(double** inputs, double** outputs, vst::int32 frames) override;

    // [any thread, takes the parameter lock]
    void setParameter(vst::int32 index, float value) override;
    float getParameter(vst::int32 index) override;
    void getParameterLabel(vst::int32 index, char* text) override;
    void getParameterDisplay(vst::int32 index, char* text) override;
    void getParameterName(vst::int32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    vst::int32 getPlugCategory() override { return vst::kPlugCategMastering; }
    vst::int32 canDo(const char* /*text*/) override { return 0; }
    bool getParameterProperties(vst::int32 index, vst::VstParameterProperties* properties) override;

    // Effect-specific operations for the editor.
    // [any thread] Input peak, output peak, input RMS, output RMS and attenuation,
    // each left then right; raises the meters' reset request.
    virtual void fetchMeters(float values[10]);
    // [any thread] 0 below 80 kHz, 1 below 170 kHz, 2 above.
    virtual int rateBand() const { return rateBand_.load(std::memory_order_relaxed); }

    // [ui-thread] Preset-system hook: forwards a host rename to the editor.
    void programNameChanged(const char* name) override;

    tq::Flavour flavour() const { return flavour_; }
    // [any thread] The values the last rate and TransShape changes set (the audio thread
    // may start using a new TransShape only at its next block).
    int integerSampleRate() const;
    int smoothingLength() const;
    int transientRingLength() const;
    const tq::EngineParameters& engineParameters() const { return engine_; }

private:
    template <typename Sample>
    void processBlock(Sample** inputs, Sample** outputs, vst::int32 frames);
    void applyParameter(int index, float x);
    void convertOldLayout();
    void selectNoiseShapeSet();
    void recomputeAttackCoefficients();
    void recomputeReleaseCoefficients();

    tq::ProcessingMutex stateMutex_;
    tq::Flavour flavour_ = tq::Flavour::Scalar;
    tq::EngineParameters engine_;
    // Written under both locks (setSampleRate) or the parameter lock (TransShape); read
    // under either.
    tq::RateSettings rate_;
    std::atomic<int> rateBand_{0};
    std::unique_ptr<tq::SignalPath> path_;
    std::array<std::atomic<float>, 22> normalised_{};
    // Parameter lock.
    int transShapeStep_ = 2;
    int noiseShapeStep_ = 0;
    EditorFactory editorFactory_;
};

// The factory behind the exported entry: asks the host for its version (a host that
// answers 0 gets no effect) and constructs a Plugin. Null when construction fails.
vst::AEffect* createEffectInstance(vst::HostCallback host, const EditorFactory& editorFactory = {});
