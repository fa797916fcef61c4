#include "effect/Plugin.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <string>

#include "cpu/CpuInfo.h"
#include "effect/ParameterModel.h"
#include "paths/SignalPath.h"
#include "presets/MeteringPreferences.h"

namespace {

constexpr auto kLockWait = std::chrono::milliseconds(1000);
constexpr int kMinimumRate = 5000;
constexpr int kMaximumRate = 200000;
constexpr int kFallbackRate = 44100;
// Value texts are cut at 12 characters; names are written whole ("DetectorOrder"
// has 13).
constexpr int kTextLimit = 12;
constexpr int kNameLimit = 31;

// Host rates outside 5000..200000 Hz, and rates that are not numbers, run as 44100 Hz.
int effectiveRate(float hostRate) {
    if (!std::isfinite(hostRate)) return kFallbackRate;
    if (hostRate < static_cast<float>(kMinimumRate) || hostRate > static_cast<float>(kMaximumRate)) {
        return kFallbackRate;
    }
    const int rate = static_cast<int>(hostRate);
    return rate < kMinimumRate ? kFallbackRate : rate;
}

template <typename Sample>
void writeSilence(Sample* buffer, vst::int32 frames) {
    if (buffer == nullptr) return;
    std::fill(buffer, buffer + frames, Sample(0));
}

}  // namespace

Plugin::Plugin(vst::HostCallback audioMaster, std::optional<tq::Flavour> forcedFlavour,
               const EditorFactory& editorFactory)
    : CPresetSystemEffect(audioMaster, 1, tq::kNumParameters), editorFactory_(editorFactory) {
    std::unique_lock lock(stateMutex_, std::defer_lock);
    (void)lock.try_lock_for(kLockWait);  // a new mutex: always free

    tq::CpuInfo cpu;
    tq::identifyCpu(cpu);
    flavour_ = tq::pairedFlavourUsable(cpu) ? tq::Flavour::Paired : tq::Flavour::Scalar;
    if (forcedFlavour) flavour_ = *forcedFlavour;
#if !TQ_HAVE_SSE2
    flavour_ = tq::Flavour::Scalar;
#endif

    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(vst::fourCharCode('T', 'R', 'q', 'l'));
    canProcessReplacing(true);
    canDoubleReplacing(true);
    cEffect_.version = 1;

    // Placeholder engine values for 44100 Hz; program slot 0 overwrites them below.
    transShapeStep_ = 2;
    rate_.update(kFallbackRate, transShapeStep_);
    rateBand_.store(rate_.rateBand, std::memory_order_relaxed);
    for (int index = 0; index < static_cast<int>(normalised_.size()); ++index) {
        normalised_[static_cast<std::size_t>(index)].store(0.0f, std::memory_order_relaxed);
    }
    normalised_[tq::kOutput].store(0.5f, std::memory_order_relaxed);
    normalised_[tq::kDrive].store(0.5f, std::memory_order_relaxed);
    normalised_[tq::kTransient].store(0.5f, std::memory_order_relaxed);
    recomputeAttackCoefficients();
    recomputeReleaseCoefficients();
    setInitialDelay(rate_.latency());

    // Buffers, interpolator, kernel and noise-shaping sets of the chosen flavour.
    path_ = std::make_unique<tq::SignalPath>(flavour_, engine_);
    path_->setRateSettings(rate_);
    suspend();

    fillFactoryPresets();
    // The user's stored metering set-up lands in slot 0 through the parameter chain,
    // before the stored defaults may replace the table.
    tq::applyStoredMeteringPreferences(
        [this](int index, float value) { setParameter(index, value); });
    if (editorFactory_.create != nullptr) {
        AEffEditor* editor = nullptr;
        try {
            editor = editorFactory_.create(*this);
        } catch (const std::bad_alloc&) {
            editor = nullptr;  // the effect works on without its window
        }
        setEditor(editor);
        if (editor != nullptr && editorFactory_.setLatency != nullptr) {
            editorFactory_.setLatency(*editor, rate_.latency());
        }
    }
    loadStoredDefaults();
    selectSlot(0);
    // Construction holds the lock: slot 0's TransShape is put in use now, not at the
    // first block.
    if (path_->adoptPublished()) suspend();
}

Plugin::~Plugin() {
    // The editor's window thread fetches meters from path_: it must be gone before
    // any member of this class is.
    AEffEditor* editor = editor_;
    setEditor(nullptr);
    delete editor;
}

void Plugin::programNameChanged(const char* name) {
    if (editor_ != nullptr && editorFactory_.programNameChanged != nullptr) {
        editorFactory_.programNameChanged(*editor_, name);
    }
}

int Plugin::integerSampleRate() const {
    const std::lock_guard lock(parameterMutex_);
    return rate_.integerRate;
}

int Plugin::smoothingLength() const {
    const std::lock_guard lock(parameterMutex_);
    return rate_.smoothingLength;
}

int Plugin::transientRingLength() const {
    const std::lock_guard lock(parameterMutex_);
    return rate_.transientRingLength;
}

void Plugin::recomputeAttackCoefficients() {
    tq::fillAttackCoefficients(engine_, rate_.sampleRate);
}

void Plugin::recomputeReleaseCoefficients() {
    tq::fillReleaseCoefficients(engine_, engine_.releaseMs.load(std::memory_order_relaxed),
                                rate_.sampleRate);
}

void Plugin::selectNoiseShapeSet() {
    const int previous = engine_.noiseShapeSet.load(std::memory_order_relaxed);
    engine_.noiseShapeSet.store(
        tq::selectNoiseShapeSet(noiseShapeStep_, rate_.integerRate, previous),
        std::memory_order_relaxed);
    engine_.shaperResetSerial.fetch_add(1, std::memory_order_relaxed);
}

void Plugin::suspend() { path_->suspend(); }

void Plugin::setSampleRate(float rate) {
    std::unique_lock lock(stateMutex_, std::defer_lock);
    if (!lock.try_lock_for(kLockWait)) return;  // state stays as it was
    const std::lock_guard parameters(parameterMutex_);
    sampleRate_ = rate;
    // A TransShape change still waiting for the next block comes in first: the rate
    // values below are built on it.
    path_->adoptPublished();
    suspend();
    const int newRate = effectiveRate(rate);
    if (newRate != rate_.integerRate) {
        rate_.update(newRate, transShapeStep_);
        rateBand_.store(rate_.rateBand, std::memory_order_relaxed);
        setInitialDelay(rate_.latency());
        if (editor_ != nullptr && editorFactory_.setLatency != nullptr) {
            editorFactory_.setLatency(*editor_, rate_.latency());
        }
        recomputeReleaseCoefficients();
        selectNoiseShapeSet();
        recomputeAttackCoefficients();
        path_->setRateSettings(rate_);
    }
    path_->clearBuffers();
}

void Plugin::processReplacing(float** inputs, float** outputs, vst::int32 frames) {
    processBlock(inputs, outputs, frames);
}

void Plugin::processDoubleReplacing(double** inputs, double** outputs, vst::int32 frames) {
    processBlock(inputs, outputs, frames);
}

template <typename Sample>
void Plugin::processBlock(Sample** inputs, Sample** outputs, vst::int32 frames) {
    if (frames <= 0 || outputs == nullptr) return;
    Sample* outLeft = outputs[0];
    Sample* outRight = outputs[1];
    std::unique_lock lock(stateMutex_, std::defer_lock);
    if (!lock.try_lock_for(kLockWait)) {
        writeSilence(outLeft, frames);
        writeSilence(outRight, frames);
        return;
    }
    // A TransShape change made since the last block starts here, from cleared state.
    if (path_->adoptPublished()) suspend();
    if (outLeft == nullptr) {
        // Nothing to carry the left channel: the one buffer there is gets silence.
        writeSilence(outRight, frames);
        return;
    }
    if (outRight != nullptr && !isOutputConnected(1)) outRight = nullptr;

    if (engine_.calibrate.load(std::memory_order_relaxed) != 0) {
        path_->calibrate(outLeft, outRight, frames);
        return;
    }
    const Sample* inLeft = inputs != nullptr ? inputs[0] : nullptr;
    const Sample* inRight = inputs != nullptr ? inputs[1] : nullptr;
    if (inRight != nullptr && !isInputConnected(1)) inRight = nullptr;
    path_->process(inLeft, inRight, outLeft, outRight, frames);
}

void Plugin::fetchMeters(float values[10]) {
    if (values == nullptr) return;
    path_->fetchMeters(values);
}

void Plugin::setParameter(vst::int32 index, float value) {
    if (index < 0 || index >= tq::kNumParameters) return;
    if (std::isnan(value)) return;  // not a value: the parameter keeps the one it has
    value = std::clamp(value, 0.0f, 1.0f);
    {
        const std::lock_guard lock(parameterMutex_);
        applyParameter(index, value);
        // Once converted, the slot holds values of the current layout: its marker says so,
        // or every later selection of the slot (and of slot 0) would convert them again.
        const bool converted = index == tq::kLayoutMarker && tq::stepIndex(value, 100) == 0;
        CPresetSystemEffect::setParameter(index, converted ? tq::kCurrentLayoutMarker : value);
    }
    if (editor_ != nullptr) editor_->setParameter(index, value);
}

void Plugin::applyParameter(int index, float x) {
    using std::memory_order_relaxed;
    if (index < static_cast<int>(normalised_.size())) {
        normalised_[static_cast<std::size_t>(index)].store(x, memory_order_relaxed);
    }
    switch (index) {
        case tq::kOutput:
            engine_.outputGain.store(tq::outputGainFor(x), memory_order_relaxed);
            break;
        case tq::kDrive:
            engine_.driveGain.store(tq::driveGainFor(x), memory_order_relaxed);
            break;
        case tq::kTransient:
            engine_.transientShare.store(tq::transientShareFor(x), memory_order_relaxed);
            recomputeAttackCoefficients();
            break;
        case tq::kRelease:
            engine_.releaseMs.store(tq::releaseTimeFor(x), memory_order_relaxed);
            recomputeReleaseCoefficients();
            break;
        case tq::kTransShape: {
            // The new kernel is built here, on the caller's thread; the audio thread takes
            // it over at its next block and clears the signal state there.
            const int step = tq::stepIndex(x, 3);
            if (step != transShapeStep_) {
                transShapeStep_ = step;
                engine_.transShape.store(step, memory_order_relaxed);
                rate_.setTransShape(step);
                path_->publishRateSettings(rate_);
            }
            break;
        }
        case tq::kLink:
            engine_.linkAmount.store(static_cast<double>(x), memory_order_relaxed);
            break;
        case tq::kOversample:
            engine_.oversample.store(tq::stepIndex(x, 2) == 1, memory_order_relaxed);
            break;
        case tq::kDetectorOrder:
            engine_.detectorOrder.store(tq::stepIndex(x, 2), memory_order_relaxed);
            break;
        case tq::kPower:
            engine_.powerGain.store(tq::stepIndex(x, 2) == 1 ? 1.0 : 0.0, memory_order_relaxed);
            break;
        case tq::kScale:
            engine_.scale.store(tq::stepIndex(x, 3), memory_order_relaxed);
            break;
        case tq::kBits:
            engine_.bits.store(tq::stepIndex(x, 3), memory_order_relaxed);
            break;
        case tq::kNoiseShape:
            noiseShapeStep_ = tq::stepIndex(x, 4);
            selectNoiseShapeSet();
            break;
        case tq::kCalibrate:
            engine_.calibrate.store(tq::stepIndex(x, 4), memory_order_relaxed);
            break;
        case tq::kLeveller:
            engine_.levellerGain.store(tq::levellerGainFor(x), memory_order_relaxed);
            engine_.levellerEngaged.store(x != 1.0f, memory_order_relaxed);
            break;
        case tq::kMeterOvs:
            engine_.meterOvs.store(tq::stepIndex(x, 2) == 1, memory_order_relaxed);
            break;
        case tq::kAutoOut:
            engine_.autoOut.store(tq::stepIndex(x, 2) == 1, memory_order_relaxed);
            break;
        case tq::kQuantize:
            engine_.quantize.store(tq::stepIndex(x, 2) == 1, memory_order_relaxed);
            break;
        case tq::kAutoblack:
            engine_.autoblack.store(tq::stepIndex(x, 2) == 1, memory_order_relaxed);
            break;
        case tq::kAttShow:
            engine_.attShow.store(tq::stepIndex(x, 8), memory_order_relaxed);
            engine_.attHoldResetSerial.fetch_add(1, memory_order_relaxed);
            break;
        case tq::kPostMeter:
            engine_.postMeter.store(tq::stepIndex(x, 2) == 1, memory_order_relaxed);
            break;
        case tq::kLayoutMarker:
            if (tq::stepIndex(x, 100) == 0) convertOldLayout();
            break;
        default:  // MeterType, AttZoom: read by the editor only; 22..24 unused
            break;
    }
}

// Programs stored before the Quantize, Autoblack, AttShow, AttZoom, PostMeter and
// MeterType parameters existed carry the word length in Bits (0 off, 1..3 = 8/16/24)
// and the meter choice in Scale (0 peak, 1..3 = K-12/K-14/K-20).
void Plugin::convertOldLayout() {
    const float oldBits = getParameter(tq::kBits);
    const float oldScale = getParameter(tq::kScale);
    setParameter(tq::kAutoblack, tq::stepCentre(0, 2));
    const int bits = tq::stepIndex(oldBits, 4);
    if (bits > 0) {
        setParameter(tq::kQuantize, tq::stepCentre(1, 2));
        setParameter(tq::kBits, tq::stepCentre(bits - 1, 3));
    } else {
        setParameter(tq::kQuantize, tq::stepCentre(0, 2));
        setParameter(tq::kBits, tq::stepCentre(1, 3));
    }
    setParameter(tq::kAttShow, tq::stepCentre(7, 8));
    setParameter(tq::kAttZoom, tq::stepCentre(0, 2));
    setParameter(tq::kPostMeter, tq::stepCentre(1, 2));
    const int scale = tq::stepIndex(oldScale, 4);
    if (scale == 0) {
        setParameter(tq::kMeterType, tq::stepCentre(0, 2));
        setParameter(tq::kScale, tq::stepCentre(1, 3));
    } else {
        setParameter(tq::kMeterType, tq::stepCentre(1, 2));
        setParameter(tq::kScale, tq::stepCentre(scale - 1, 3));
    }
}

float Plugin::getParameter(vst::int32 index) {
    if (index >= 0 && index < static_cast<vst::int32>(normalised_.size())) {
        return normalised_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
    }
    if (index == tq::kLayoutMarker) return tq::kCurrentLayoutMarker;
    return 0.0f;
}

// The three text calls always write a terminated string, the empty one when there is
// no text or no such parameter: hosts may hand over buffers they never cleared.

void Plugin::getParameterName(vst::int32 index, char* text) {
    const char* name = tq::parameterName(index);
    copyHostString(text, name != nullptr ? name : "", kNameLimit);
}

void Plugin::getParameterLabel(vst::int32 index, char* text) {
    const bool known = index >= 0 && index < tq::kNumParameters;
    copyHostString(text, known ? tq::parameterLabel(index) : "", kTextLimit);
}

void Plugin::getParameterDisplay(vst::int32 index, char* text) {
    if (index < 0 || index > tq::kPostMeter) {
        copyHostString(text, "", kTextLimit);
        return;
    }
    const std::string display = tq::parameterDisplay(index, getParameter(index));
    copyHostString(text, display.c_str(), kTextLimit);
}

bool Plugin::getEffectName(char* name) {
    copyHostString(name, "Tarvel Quolt", 63);
    return true;
}

bool Plugin::getVendorString(char* text) {
    copyHostString(text, "Tarvel Audio Lab", 63);
    return true;
}

bool Plugin::getProductString(char* text) {
    copyHostString(text, "Full band precision limiter", 63);
    return true;
}

bool Plugin::getParameterProperties(vst::int32 /*index*/,
                                    vst::VstParameterProperties* properties) {
    if (properties == nullptr) return false;
    properties->stepFloat = 0.0001f;
    properties->flags = vst::kVstParameterUsesFloatStep;
    return true;
}

vst::AEffect* createEffectInstance(vst::HostCallback host, const EditorFactory& editorFactory) {
    if (host == nullptr || host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) {
        return nullptr;
    }
    // The factory asks once more, as the effect's own construction would.
    if (host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    try {
        auto* plugin = new Plugin(host, std::nullopt, editorFactory);
        return plugin->getAeffect();
    } catch (const std::bad_alloc&) {
        return nullptr;  // out of memory: the host gets no effect rather than a crash
    }
}
