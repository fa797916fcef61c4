// The per-frame limiter engine, written once over the flavour's buffer layout.
//
// Per frame: smoothed drive and output gains; dry delay (L + 31); drive; leveller;
// alignment delay (31) and half-band history; detector value; look-ahead delay (L);
// peak window over L frames; stereo link; eight attack/release smoothers; transient
// envelope (window maximum over N frames, block-convolved with the smoothing kernel);
// gain; output gain or the Power bypass; requantization or the final clip.
//
// All buffers are allocated by the constructor at their worst-case sizes. The hot loop
// copies state into locals, runs, and writes it back; it allocates nothing and makes
// no virtual calls. Indices and buffer pointers must live in locals, not members: every
// store of a pair goes through a type that may alias anything, so the compiler would
// reload each member after each store.
//
// The alignment delay (31) is the half-band history itself: the history's centre sample
// is the sample pushed 31 frames earlier, which is exactly what the delay would give,
// including the zeros after a buffer clear. The look-ahead delay and the peak window
// share one position, as both advance by one modulo L and restart together. The peak
// window and the transient window are SlidingMaximumPairs: the same maxima as the
// SlidingMaxTree walks, in constant time per frame.
//
// The frames of a block run in chunks of 64, in passes: steps 1 to 6 (input to detector
// value) for the whole chunk, then steps 7 to 14; with requantization or the oversampled
// output meters on, the measurements and step 14 get a third pass. Each frame still runs
// every step in order and reads each engine value once; but long chains (the half-band
// sums, the noise shaper's feedback loop) no longer stand in line with the limiter's own
// loop-carried chains, so the processor overlaps them from frame to frame.
#pragma once

#include <array>
#include <cfloat>
#include <cmath>
#include <type_traits>

#include "dsp/EngineSettings.h"
#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"
#include "dsp/SlidingMaxTree.h"
#include "paths/BlockConvolver.h"
#include "paths/ChannelLayout.h"
#include "paths/HalfbandInterpolator.h"
#include "paths/SlidingMaximumPair.h"

namespace tq {

// Input samples as the engine accepts them: anything not finite becomes 0, magnitudes
// below the smallest normal float become 0 (so both flavours see the same value whether
// or not the control register flushes denormals), and magnitudes are limited to 1e6,
// which keeps every detector value far below the peak window's sentinel.
inline double sanitizeInput(double x) {
    constexpr double kSmallest = 1.1754943508222875e-38;  // FLT_MIN
    constexpr double kLargest = 1e6;
    const double magnitude = std::fabs(x);
    if (magnitude >= kSmallest && magnitude <= kLargest) return x;
    if (magnitude > kLargest && magnitude <= DBL_MAX) return std::copysign(kLargest, x);
    return 0.0;  // zero, tiny, NaN or infinite
}

template <typename Layout>
class LimiterEngine {
  public:
    using Value = typename Layout::Value;
    static constexpr int kStages = 8;
    static constexpr int kDryCapacity = kMaxLookAhead + kAlignmentDelay + 1;
    static constexpr int kHistory = 64;  // half-band history, kept twice over
    // Frames per chunk: steps 1 to 6 run over a chunk, then steps 7 to 14.
    static constexpr int kChunk = 64;
    static constexpr double kDetectorFloor = 1e-5;
    static constexpr double kOversampleMargin = 1.001;
    // 1 - 2^-40: the downward bias of the convolved envelope (see step 11).
    static constexpr double kConvolutionBias = 1.0 - 0x1p-40;

    explicit LimiterEngine(EngineParameters& parameters)
        : parameters_(parameters),
          dry_(kDryCapacity),
          history_(2 * kHistory),
          halfbandCoefficients_(HalfbandCoefficients::kCount),
          lookAhead_(kMaxLookAhead),
          stage1_(kStages),
          stage2_(kStages),
          peak_(kMaxLookAhead),
          window_(kMaxSmoothingLength),
          detectorValues_(kChunk),
          alignedValues_(kChunk),
          dryValues_(kChunk),
          outputGains_(kChunk),
          levellerGains_(kChunk),
          outValues_(kChunk),
          gainValues_(kChunk),
          shareValues_(kChunk) {
        const auto& table = HalfbandCoefficients::table();
        for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
            halfbandCoefficients_.view().set(k, Value::both(table[static_cast<std::size_t>(k)]));
        }
    }

    // [lock held] New lengths and coefficients; the windows restart cleared, the block
    // convolver restarts at position 0; positions beyond the new lengths restart at 0.
    bool configure(const RateSettings& rates, const double* kernelSpectrum) {
        if (!convolver_.configure(rates.smoothingLength, rates.transientRingLength,
                                  kernelSpectrum)) {
            return false;
        }
        rates_ = rates;
        peak_.setLength(rates.lookAhead);
        window_.setLength(rates.smoothingLength);
        if (dryIndex_ >= rates.lookAhead + kAlignmentDelay) dryIndex_ = 0;
        lookAheadIndex_ &= rates.lookAhead - 1;
        windowPosition_ &= rates.smoothingLength - 1;
        return true;
    }

    // [lock held] Suspend: positions to 0, smoothed gains to their targets, leveller
    // envelope to its floor, smoothers to 0, then clear().
    void reset() {
        dryIndex_ = 0;
        historyIndex_ = 0;
        lookAheadIndex_ = 0;
        windowPosition_ = 0;
        smoothedDrive_ = parameters_.driveGain.load(std::memory_order_relaxed);
        smoothedOutput_ = parameters_.outputGain.load(std::memory_order_relaxed);
        leveller_ = kDetectorFloor;
        stage1_.clear();
        stage2_.clear();
        convolver_.reset();
        clear();
    }

    // [lock held] Buffer clear: delays, histories, windows and
    // block buffers zeroed; positions kept.
    void clear() {
        dry_.clear();
        history_.clear();
        lookAhead_.clear();
        peak_.clear();
        window_.clear();
        convolver_.clear();
    }

    double smoothedDrive() const { return smoothedDrive_; }

    // [audio-thread, lock held]
    template <typename Sample>
    void process(const Sample* inLeft, const Sample* inRight, Sample* outLeft, Sample* outRight,
                 int frames, Requantizer& requantizer, NoiseGenerator& generator,
                 MeterMeasurement& meters);

  private:
    static Value guard(Value v) {
        if constexpr (Layout::kDenormalGuard) {
            return (v + Value::both(1e-30)) - Value::both(1e-30);
        } else {
            return v;
        }
    }
    static double guard(double v) {
        if constexpr (Layout::kDenormalGuard) {
            return (v + 1e-30) - 1e-30;
        } else {
            return v;
        }
    }

    // Both samples of a frame as sanitizeInput leaves them; one test for the usual case.
    static Value sanitizeInputs(Value x) {
        if (Layout::bothWithin(abs(x), 1.1754943508222875e-38, 1e6)) [[likely]] {
            return x;
        }
        return Value(sanitizeInput(x.left()), sanitizeInput(x.right()));
    }

    // max(1, E) over the eight stages, reduced pairwise.
    static Value bankEnvelope(const Value* s) {
        return max(
            max(max(max(s[0], s[1]), max(s[2], s[3])), max(max(s[4], s[5]), max(s[6], s[7]))),
            Value::both(1.0));
    }

    // The smoother bank's share T + (1 - T) / E of the limiter gain, for the meters.
    static Value bankShare(double transient, Value bank) {
        return Value::both(transient) + Value::both(1.0 - transient) / bank;
    }

    static DoublePair asPair(PlainPair v) { return DoublePair(v.l, v.r); }
    static DoublePair asPair(DoublePair v) { return v; }
    static Value fromPair(DoublePair v) {
        if constexpr (std::is_same_v<Value, DoublePair>) {
            return v;
        } else {
            return Value(v.left(), v.right());
        }
    }

    // The same pointer, but the compiler may no longer assume it: called once per frame,
    // it keeps the frame's parameter reads as single loads relative to one register.
    // (Otherwise the addresses of all 25 parameters are hoisted out of the loop, spilled,
    // and every read becomes two loads.)
    static const EngineParameters* opaque(const EngineParameters* p) {
        asm("" : "+r"(p));
        return p;
    }

    EngineParameters& parameters_;
    RateSettings rates_;

    typename Layout::Array dry_;
    // Alignment delay and half-band history in one: the newest 64 samples, each stored
    // at i and i + 64 so the filter reads them contiguously.
    typename Layout::Array history_;
    typename Layout::Array halfbandCoefficients_;  // both lanes equal
    typename Layout::Array lookAhead_;
    typename Layout::Array stage1_;
    typename Layout::Array stage2_;
    SlidingMaximumPair<Layout> peak_;
    SlidingMaximumPair<Layout> window_;
    BlockConvolver<Layout> convolver_;
    // Hand-over from the first pass over a chunk (steps 1 to 6) to the second (7 to 14).
    typename Layout::Array detectorValues_;
    typename Layout::Array alignedValues_;
    typename Layout::Array dryValues_;
    AlignedBuffer outputGains_;
    AlignedBuffer levellerGains_;
    // Hand-over from the second pass (to step 13) to the third (meters, step 14).
    typename Layout::Array outValues_;
    typename Layout::Array gainValues_;
    typename Layout::Array shareValues_;
    std::array<bool, kChunk> powerStates_{};

    double smoothedDrive_ = 1.0;
    double smoothedOutput_ = 1.0;
    double leveller_ = kDetectorFloor;
    int dryIndex_ = 0;
    int historyIndex_ = 0;
    int lookAheadIndex_ = 0;  // also the peak window's leaf position
    int windowPosition_ = 0;
};

template <typename Layout>
template <typename Sample>
void LimiterEngine<Layout>::process(const Sample* inLeft, const Sample* inRight, Sample* outLeft,
                                    Sample* outRight, int frames, Requantizer& requantizer,
                                    NoiseGenerator& generator, MeterMeasurement& meters) {
    constexpr auto relaxed = std::memory_order_relaxed;
    const EngineParameters* const parameters = &parameters_;

    // Block-constant settings.
    const bool autoOut = parameters->autoOut.load(relaxed);
    const bool quantize = requantizer.enabled();
    const double gainCoefficient = rates_.gainSmoothing;
    const double levellerCoefficient = rates_.levellerCoefficient;
    const int lookAheadMask = rates_.lookAhead - 1;
    const int dryLength = rates_.lookAhead + kAlignmentDelay;
    const int windowMask = rates_.smoothingLength - 1;
    // A missing right input repeats the left one. A missing right output is the left
    // one: the right channel is written first, so the left channel remains.
    if (inRight == nullptr) inRight = inLeft;
    if (outRight == nullptr) outRight = outLeft;

    // State into locals.
    const auto dry = dry_.view();
    const auto history = history_.view();
    const auto coefficients = halfbandCoefficients_.view();
    const auto lookAhead = lookAhead_.view();
    auto peak = peak_.cursor();
    auto window = window_.cursor();
    auto convolver = convolver_.cursor();
    const auto detectorValues = detectorValues_.view();
    const auto alignedValues = alignedValues_.view();
    const auto dryValues = dryValues_.view();
    double* const outputGains = outputGains_.data();
    double* const levellerGains = levellerGains_.data();
    const auto outValues = outValues_.view();
    const auto gainValues = gainValues_.view();
    const auto shareValues = shareValues_.view();
    bool* const powerStates = powerStates_.data();
    MeterFrames meterFrames = meters.frames();
    const bool needsBankShare = meterFrames.needsBankShare();
    RequantizerFrames requantizerFrames = requantizer.frames();
    NoiseGenerator dither = generator;  // a local copy keeps the three words in registers
    Value stage1[kStages];
    Value stage2[kStages];
    for (int i = 0; i < kStages; ++i) {
        stage1[i] = stage1_.view().get(i);
        stage2[i] = stage2_.view().get(i);
    }
    // First-order frames leave stage 2 equal to stage 1; rather than copying the eight
    // values every frame, the copy is made when a second-order frame or the block end
    // needs it.
    bool stage2FollowsStage1 = false;
    double drive = smoothedDrive_;
    double output = smoothedOutput_;
    double leveller = leveller_;
    int dryIndex = dryIndex_;
    int historyIndex = historyIndex_;
    int lookAheadIndex = lookAheadIndex_;
    int windowPosition = windowPosition_;

    // Measurements (the dry input aligned with the output, the limiter gain and the bank's
    // share of it, the leveller gain, the output) and step 14 for one frame.
    const auto finishFrame = [&](int n, Value dryOut, Value gain, Value share, double levellerGain,
                                 Value out, bool powerOn) __attribute__((always_inline)) {
        meterFrames.frame(asPair(dryOut), asPair(gain), asPair(share), levellerGain, asPair(out),
                          powerOn);
        // 14. Requantization or the final clip. The clip is a plain min/max: the textbook
        // 0.5 (|o + 1| - |o - 1|) rounds away the last bit of full-precision doubles, so a
        // sample well inside full scale would not pass unchanged.
        Value y;
        if (quantize) {
            y = fromPair(requantizerFrames.frame(asPair(out), dither));
        } else {
            y = min(max(out, Value::both(-1.0)), Value::both(1.0));
        }
        if (outLeft != nullptr) Layout::storeFrame(outLeft, outRight, n, y);
    };
    const bool thirdPass = quantize || meterFrames.oversampled();

    for (int start = 0; start < frames; start += kChunk) {
        const int count = frames - start < kChunk ? frames - start : kChunk;

        // Steps 1 to 6 for the whole chunk: input to detector value.
        for (int i = 0; i < count; ++i) {
            const int n = start + i;
            // Engine values, read once per frame.
            const EngineParameters& p = *opaque(parameters);
            const double driveTarget = p.driveGain.load(relaxed);
            const double outputTarget = autoOut ? 1.0 / driveTarget : p.outputGain.load(relaxed);
            const double threshold = p.levellerGain.load(relaxed);
            const bool levellerEngaged = p.levellerEngaged.load(relaxed);
            const bool oversample = p.oversample.load(relaxed);

            // Input: the whole chunk is read before any of it is written (hosts may
            // process in place).
            Value x = Value::both(0.0);
            if (inLeft != nullptr) {
                x = sanitizeInputs(
                    Value(static_cast<double>(inLeft[n]), static_cast<double>(inRight[n])));
            }

            // 1. Gain smoothing.
            drive = guard(drive + (driveTarget - drive) * gainCoefficient);
            output = guard(output + (outputTarget - output) * gainCoefficient);
            outputGains[i] = output;

            // 2. Dry delay (L + 31).
            dryValues.set(i, dry.get(dryIndex));
            dry.set(dryIndex, x);
            if (++dryIndex == dryLength) dryIndex = 0;

            // 3. Drive.
            const Value driven = x * Value::both(drive);

            // 4. Leveller.
            double peakLevel = Layout::maxAcross(abs(driven)).left();
            peakLevel = peakLevel > kDetectorFloor ? peakLevel : kDetectorFloor;
            leveller = guard(leveller + (peakLevel - leveller) * levellerCoefficient);
            const double levellerGain =
                (!levellerEngaged || leveller <= threshold) ? 1.0 : threshold / leveller;
            levellerGains[i] = levellerGain;
            const Value levelled = driven * Value::both(levellerGain);

            // 5. Half-band history, which is also the alignment delay (31).
            history.set(historyIndex, levelled);
            history.set(historyIndex + kHistory, levelled);
            historyIndex = (historyIndex + 1) & (kHistory - 1);
            const Value aligned = history.get(historyIndex + kHistory - 1 - kAlignmentDelay);
            alignedValues.set(i, aligned);

            // 6. Detector.
            Value detector = aligned;
            if (oversample) {
                // The 32 pair sums from the outermost (newest and oldest) inwards, one
                // running sum per lane.
                Value mid = Value::both(0.0);
#pragma GCC unroll 32
                for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
                    mid = mid + (history.get(historyIndex + kHistory - 1 - k) +
                                 history.get(historyIndex + k)) *
                                    coefficients.get(k);
                }
                detector = selectGreaterEqual(abs(mid), abs(aligned), mid, aligned) *
                           Value::both(kOversampleMargin);
            }
            // The upper clamp keeps every detector value within what a SlidingMaxTree takes
            // whatever the gains are.
            detectorValues.set(i, min(max(abs(detector), Value::both(kDetectorFloor)),
                                      Value::both(SlidingMaxTree::kLargestValue)));
        }

        // Steps 7 to 13 for the chunk; the measurements and step 14 either in the same
        // pass or, when requantization or the oversampled meters make them long, in a
        // third pass of their own, where their chains overlap from frame to frame.
        const auto secondPass = [&](auto finishLater) __attribute__((always_inline)) {
            constexpr bool kThirdPass = decltype(finishLater)::value;
            for (int i = 0; i < count; ++i) {
                const int n = start + i;
                const EngineParameters& p = *opaque(parameters);
                const double transient = p.transientShare.load(relaxed);
                const double link = p.linkAmount.load(relaxed);
                const bool secondOrder = p.detectorOrder.load(relaxed) != 0;
                const bool powerOn = p.powerGain.load(relaxed) >= 0.5;
                const Value delta = detectorValues.get(i);

                // 7. Look-ahead delay (L).
                const Value delayed = lookAhead.get(lookAheadIndex);
                lookAhead.set(lookAheadIndex, alignedValues.get(i));

                // 8. Peak window over L frames. The leaf replaced holds the detector value of
                // the frame whose audio `delayed` is.
                const Value released = peak.replace(lookAheadIndex, delta);
                const Value peaks = peak.maximum();
                lookAheadIndex = (lookAheadIndex + 1) & lookAheadMask;

                // 9. Stereo link.
                const Value level =
                    Value::both(link) * Layout::maxAcross(peaks) + Value::both(1.0 - link) * peaks;

                // 10. Smoother bank. The order switch is tested once, outside the stage loops,
                // so both loops unroll. The bank envelope is reduced pairwise (max is exact,
                // so the order does not matter) to keep the chain from the stages to the gain
                // short.
                Value bank;
                if (secondOrder) {
                    if (stage2FollowsStage1) {
                        for (int k = 0; k < kStages; ++k) stage2[k] = stage1[k];
                        stage2FollowsStage1 = false;
                    }
#pragma GCC unroll 8
                    for (int k = 0; k < kStages; ++k) {
                        const Value attack = Value::both(p.attack[k].load(relaxed));
                        const Value release = Value::both(p.release[k].load(relaxed));
                        const Value rate1 = selectGreaterEqual(level, stage1[k], attack, release);
                        stage1[k] = guard(stage1[k] + rate1 * (level - stage1[k]));
                        const Value rate2 = selectGreater(stage1[k], stage2[k], attack, release);
                        stage2[k] = guard(stage2[k] + rate2 * (stage1[k] - stage2[k]));
                    }
                    bank = bankEnvelope(stage2);
                } else {
#pragma GCC unroll 8
                    for (int k = 0; k < kStages; ++k) {
                        const Value attack = Value::both(p.attack[k].load(relaxed));
                        const Value release = Value::both(p.release[k].load(relaxed));
                        const Value rate1 = selectGreaterEqual(level, stage1[k], attack, release);
                        stage1[k] = guard(stage1[k] + rate1 * (level - stage1[k]));
                    }
                    stage2FollowsStage1 = true;
                    bank = bankEnvelope(stage1);
                }

                // 11. Transient envelope: window maximum over N frames, block-convolved with
                // the kernel. Mathematically it is at least the detector value of the frame
                // whose audio is released now (every windowed maximum in the sum covers that
                // frame), but the transform rounds either way. So the convolution is pulled
                // down by a hair (far more than its rounding, far less than anything audible)
                // and floored at that detector value exactly: a plateau of value P then gives
                // exactly P, and the released sample can never exceed full scale.
                window.replace(windowPosition, delta);
                windowPosition = (windowPosition + 1) & windowMask;
                const Value convolved = convolver.step(window.maximum());
                const Value envelope = max(convolved * Value::both(kConvolutionBias), released);

                // 12. Gain: (1 - T) g1 + T g2, written as g1 + T (g2 - g1) so that it is
                // exactly g1 when both agree and never exceeds g2 (g1 <= g2 because E >= 1).
                const Value one = Value::both(1.0);
                const Value bankGain = one / max(bank, envelope);
                const Value transientGain = one / max(envelope, one);
                const Value gain = bankGain + Value::both(transient) * (transientGain - bankGain);

                // 13. Output gain, or the bypass.
                const Value dryOut = dryValues.get(i);
                const Value out = powerOn ? gain * delayed * Value::both(outputGains[i]) : dryOut;

                if constexpr (kThirdPass) {
                    outValues.set(i, out);
                    gainValues.set(i, gain);
                    if (needsBankShare) shareValues.set(i, bankShare(transient, bank));
                    powerStates[i] = powerOn;
                } else {
                    finishFrame(n, dryOut, gain, needsBankShare ? bankShare(transient, bank) : one,
                                levellerGains[i], out, powerOn);
                }
            }
            if constexpr (kThirdPass) {
                for (int i = 0; i < count; ++i) {
                    finishFrame(start + i, dryValues.get(i), gainValues.get(i),
                                needsBankShare ? shareValues.get(i) : Value::both(1.0),
                                levellerGains[i], outValues.get(i), powerStates[i]);
                }
            }
        };
        if (thirdPass) {
            secondPass(std::true_type{});
        } else {
            secondPass(std::false_type{});
        }
    }

    // Locals back into state.
    meters.endBlock(meterFrames);
    requantizer.endBlock(requantizerFrames);
    generator = dither;
    convolver_.commit(convolver);
    peak_.commit(peak);
    window_.commit(window);
    if (stage2FollowsStage1) {
        for (int i = 0; i < kStages; ++i) stage2[i] = stage1[i];
    }
    for (int i = 0; i < kStages; ++i) {
        stage1_.view().set(i, stage1[i]);
        stage2_.view().set(i, stage2[i]);
    }
    smoothedDrive_ = drive;
    smoothedOutput_ = output;
    leveller_ = leveller;
    dryIndex_ = dryIndex;
    historyIndex_ = historyIndex;
    lookAheadIndex_ = lookAheadIndex;
    windowPosition_ = windowPosition;
}

}  // namespace tq
