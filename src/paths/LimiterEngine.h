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
// no virtual calls.
#pragma once

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
#include "paths/MaxTreePair.h"

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
    static constexpr double kDetectorFloor = 1e-5;
    static constexpr double kOversampleMargin = 1.001;
    // 1 - 2^-40: the downward bias of the convolved envelope (see step 11).
    static constexpr double kConvolutionBias = 1.0 - 0x1p-40;

    explicit LimiterEngine(EngineParameters& parameters)
        : parameters_(parameters),
          dry_(kDryCapacity),
          alignment_(kAlignmentDelay + 1),
          lookAhead_(kMaxLookAhead),
          stage1_(kStages),
          stage2_(kStages),
          peak_(kMaxLookAhead),
          window_(kMaxSmoothingLength) {}

    // [lock held] New lengths and coefficients; the trees restart cleared, the block
    // convolver restarts at position 0; positions beyond the new lengths restart at 0.
    bool configure(const RateSettings& rates, const double* kernelSpectrum) {
        if (!convolver_.configure(rates.smoothingLength, rates.transientRingLength,
                                  kernelSpectrum)) {
            return false;
        }
        rates_ = rates;
        peak_.setLeafCount(rates.lookAhead);
        window_.setLeafCount(rates.smoothingLength);
        if (dryIndex_ >= rates.lookAhead + kAlignmentDelay) dryIndex_ = 0;
        lookAheadIndex_ &= rates.lookAhead - 1;
        peakPosition_ &= rates.lookAhead - 1;
        windowPosition_ &= rates.smoothingLength - 1;
        return true;
    }

    // [lock held] Suspend: positions to 0, smoothed gains to their targets, leveller
    // envelope to its floor, smoothers to 0, then clear().
    void reset() {
        dryIndex_ = 0;
        alignmentIndex_ = 0;
        lookAheadIndex_ = 0;
        peakPosition_ = 0;
        windowPosition_ = 0;
        smoothedDrive_ = parameters_.driveGain.load(std::memory_order_relaxed);
        smoothedOutput_ = parameters_.outputGain.load(std::memory_order_relaxed);
        leveller_ = kDetectorFloor;
        stage1_.clear();
        stage2_.clear();
        interpolator_.reset();
        convolver_.reset();
        clear();
    }

    // [lock held] Buffer clear: delays, histories, trees (with their sentinel) and
    // block buffers zeroed; positions kept.
    void clear() {
        dry_.clear();
        alignment_.clear();
        lookAhead_.clear();
        interpolator_.clear();
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

    static DoublePair asPair(PlainPair v) { return DoublePair(v.l, v.r); }
    static DoublePair asPair(DoublePair v) { return v; }

    static void pushFrame(HalfbandInterpolator& h, PlainPair v) { h.push(v.l, v.r); }
    static void pushFrame(PairedHalfbandInterpolator& h, DoublePair v) { h.push(v); }
    static void estimateFrame(const HalfbandInterpolator& h, PlainPair& mid, PlainPair& centre) {
        const HalfbandEstimate e = h.estimate();
        mid = PlainPair(e.midLeft, e.midRight);
        centre = PlainPair(e.centreLeft, e.centreRight);
    }
    static void estimateFrame(const PairedHalfbandInterpolator& h, DoublePair& mid,
                              DoublePair& centre) {
        const PairedHalfbandEstimate e = h.estimate();
        mid = e.mid;
        centre = e.centre;
    }

    EngineParameters& parameters_;
    RateSettings rates_;

    typename Layout::Array dry_;
    typename Layout::Array alignment_;
    typename Layout::Array lookAhead_;
    typename Layout::Array stage1_;
    typename Layout::Array stage2_;
    MaxTreePair<Layout> peak_;
    MaxTreePair<Layout> window_;
    BlockConvolver<Layout> convolver_;
    std::conditional_t<Layout::kFlavour == Flavour::Paired, PairedHalfbandInterpolator,
                       HalfbandInterpolator>
        interpolator_;

    double smoothedDrive_ = 1.0;
    double smoothedOutput_ = 1.0;
    double leveller_ = kDetectorFloor;
    int dryIndex_ = 0;
    int alignmentIndex_ = 0;
    int lookAheadIndex_ = 0;
    int peakPosition_ = 0;
    int windowPosition_ = 0;
};

template <typename Layout>
template <typename Sample>
void LimiterEngine<Layout>::process(const Sample* inLeft, const Sample* inRight, Sample* outLeft,
                                    Sample* outRight, int frames, Requantizer& requantizer,
                                    NoiseGenerator& generator, MeterMeasurement& meters) {
    constexpr auto relaxed = std::memory_order_relaxed;
    EngineParameters& p = parameters_;

    // Block-constant settings.
    const bool autoOut = p.autoOut.load(relaxed);
    const bool quantize = requantizer.enabled();
    const double gainCoefficient = rates_.gainSmoothing;
    const double levellerCoefficient = rates_.levellerCoefficient;
    const int lookAheadMask = rates_.lookAhead - 1;
    const int dryLength = rates_.lookAhead + kAlignmentDelay;
    const int windowMask = rates_.smoothingLength - 1;

    // State into locals.
    const auto dry = dry_.view();
    const auto alignment = alignment_.view();
    const auto lookAhead = lookAhead_.view();
    Value stage1[kStages];
    Value stage2[kStages];
    for (int i = 0; i < kStages; ++i) {
        stage1[i] = stage1_.view().get(i);
        stage2[i] = stage2_.view().get(i);
    }
    double drive = smoothedDrive_;
    double output = smoothedOutput_;
    double leveller = leveller_;
    int dryIndex = dryIndex_;
    int alignmentIndex = alignmentIndex_;
    int lookAheadIndex = lookAheadIndex_;
    int peakPosition = peakPosition_;
    int windowPosition = windowPosition_;
    MeterFrames meterFrames = meters.frames();
    const bool needsBankShare = meterFrames.needsBankShare();

    for (int n = 0; n < frames; ++n) {
        // Engine values, read once per frame.
        const double driveTarget = p.driveGain.load(relaxed);
        const double outputTarget = autoOut ? 1.0 / driveTarget : p.outputGain.load(relaxed);
        const double transient = p.transientShare.load(relaxed);
        const double threshold = p.levellerGain.load(relaxed);
        const bool levellerEngaged = p.levellerEngaged.load(relaxed);
        const double link = p.linkAmount.load(relaxed);
        const bool oversample = p.oversample.load(relaxed);
        const bool secondOrder = p.detectorOrder.load(relaxed) != 0;
        const bool powerOn = p.powerGain.load(relaxed) >= 0.5;

        // Input, read before anything is written (hosts may process in place).
        double xl = 0.0;
        double xr = 0.0;
        if (inLeft != nullptr) {
            xl = sanitizeInput(static_cast<double>(inLeft[n]));
            xr = inRight != nullptr ? sanitizeInput(static_cast<double>(inRight[n])) : xl;
        }
        const Value x(xl, xr);

        // 1. Gain smoothing.
        drive = guard(drive + (driveTarget - drive) * gainCoefficient);
        output = guard(output + (outputTarget - output) * gainCoefficient);

        // 2. Dry delay (L + 31).
        const Value dryOut = dry.get(dryIndex);
        dry.set(dryIndex, x);
        if (++dryIndex == dryLength) dryIndex = 0;

        // 3. Drive.
        const Value driven = x * Value::both(drive);

        // 4. Leveller.
        const Value drivenMagnitude = abs(driven);
        double peak = drivenMagnitude.left() > drivenMagnitude.right() ? drivenMagnitude.left()
                                                                       : drivenMagnitude.right();
        peak = peak > kDetectorFloor ? peak : kDetectorFloor;
        leveller = guard(leveller + (peak - leveller) * levellerCoefficient);
        const double levellerGain =
            (!levellerEngaged || leveller <= threshold) ? 1.0 : threshold / leveller;
        const Value levelled = driven * Value::both(levellerGain);

        // 5. Alignment delay (31) and the half-band history.
        const Value aligned = alignment.get(alignmentIndex);
        alignment.set(alignmentIndex, levelled);
        if (++alignmentIndex == kAlignmentDelay) alignmentIndex = 0;
        pushFrame(interpolator_, levelled);

        // 6. Detector.
        Value detector = aligned;
        if (oversample) {
            Value mid;
            Value centre;
            estimateFrame(interpolator_, mid, centre);
            detector = selectGreaterEqual(abs(mid), abs(centre), mid, centre) *
                       Value::both(kOversampleMargin);
        }
        // The upper clamp keeps every detector value below the trees' sentinel whatever
        // the gains are.
        const Value delta = min(max(abs(detector), Value::both(kDetectorFloor)),
                                Value::both(SlidingMaxTree::kLargestValue));

        // 7. Look-ahead delay (L).
        const Value delayed = lookAhead.get(lookAheadIndex);
        lookAhead.set(lookAheadIndex, aligned);
        lookAheadIndex = (lookAheadIndex + 1) & lookAheadMask;

        // 8. Peak window over L frames. The leaf replaced holds the detector value of
        // the frame whose audio `delayed` is.
        const Value released = peak_.replace(peakPosition, delta);
        const Value peaks = peak_.maximum();
        const double peakLeft = peaks.left();
        const double peakRight = peaks.right();
        peakPosition = (peakPosition + 1) & lookAheadMask;

        // 9. Stereo link.
        const double linked = peakLeft > peakRight ? peakLeft : peakRight;
        const Value level =
            Value::both(link) * Value::both(linked) + Value::both(1.0 - link) * peaks;

        // 10. Smoother bank. The order switch is tested once, outside the stage loops, so
        // both loops unroll and keep the sixteen stage values in registers. The bank
        // envelope is reduced pairwise (max is exact, so the order does not matter) to
        // keep the chain from the stages to the gain short.
        if (secondOrder) {
#pragma GCC unroll 8
            for (int i = 0; i < kStages; ++i) {
                const Value attack = Value::both(p.attack[i].load(relaxed));
                const Value release = Value::both(p.release[i].load(relaxed));
                const Value rate1 = selectGreaterEqual(level, stage1[i], attack, release);
                stage1[i] = guard(stage1[i] + rate1 * (level - stage1[i]));
                const Value rate2 = selectGreater(stage1[i], stage2[i], attack, release);
                stage2[i] = guard(stage2[i] + rate2 * (stage1[i] - stage2[i]));
            }
        } else {
#pragma GCC unroll 8
            for (int i = 0; i < kStages; ++i) {
                const Value attack = Value::both(p.attack[i].load(relaxed));
                const Value release = Value::both(p.release[i].load(relaxed));
                const Value rate1 = selectGreaterEqual(level, stage1[i], attack, release);
                stage1[i] = guard(stage1[i] + rate1 * (level - stage1[i]));
                stage2[i] = stage1[i];
            }
        }
        const Value bank = max(max(max(max(stage2[0], stage2[1]), max(stage2[2], stage2[3])),
                                   max(max(stage2[4], stage2[5]), max(stage2[6], stage2[7]))),
                               Value::both(1.0));

        // 11. Transient envelope: window maximum over N frames, block-convolved with
        // the kernel. Mathematically it is at least the detector value of the frame whose
        // audio is released now (every windowed maximum in the sum covers that frame),
        // but the transform rounds either way. So the convolution is pulled down by a
        // hair (far more than its rounding, far less than anything audible) and floored
        // at that detector value exactly: a plateau of value P then gives exactly P, and
        // the released sample can never exceed full scale.
        window_.replace(windowPosition, delta);
        windowPosition = (windowPosition + 1) & windowMask;
        const Value convolved = convolver_.step(window_.maximum());
        const Value envelope = max(convolved * Value::both(kConvolutionBias), released);

        // 12. Gain: (1 - T) g1 + T g2, written as g1 + T (g2 - g1) so that it is exactly
        // g1 when both agree and never exceeds g2 (g1 <= g2 because E >= 1).
        const Value one = Value::both(1.0);
        const Value bankGain = one / max(bank, envelope);
        const Value transientGain = one / max(envelope, one);
        const Value gain = bankGain + Value::both(transient) * (transientGain - bankGain);

        // 13. Output gain, or the bypass.
        const Value out = powerOn ? gain * delayed * Value::both(output) : dryOut;

        // Measurements: the dry input aligned with the output, the limiter gain and
        // the bank's share T + (1 - T) / E of it, the leveller gain, the output.
        const Value bankShare =
            needsBankShare ? Value::both(transient) + Value::both(1.0 - transient) / bank : one;
        meterFrames.frame(asPair(dryOut), asPair(gain), asPair(bankShare), levellerGain,
                          asPair(out), powerOn);

        // 14. Requantization or the final clip. The clip is a plain min/max: the
        // textbook 0.5 (|o + 1| - |o - 1|) rounds away the last bit of full-precision
        // doubles, so a sample well inside full scale would not pass unchanged.
        double yl;
        double yr;
        if (quantize) {
            requantizer.frame(out.left(), out.right(), yl, yr, generator);
        } else {
            const Value clipped = min(max(out, Value::both(-1.0)), one);
            yl = clipped.left();
            yr = clipped.right();
        }
        if (outLeft != nullptr) {
            if (outRight != nullptr) outRight[n] = static_cast<Sample>(yr);
            outLeft[n] = static_cast<Sample>(yl);
        }
    }

    // Locals back into state.
    meters.endBlock(meterFrames);
    for (int i = 0; i < kStages; ++i) {
        stage1_.view().set(i, stage1[i]);
        stage2_.view().set(i, stage2[i]);
    }
    smoothedDrive_ = drive;
    smoothedOutput_ = output;
    leveller_ = leveller;
    dryIndex_ = dryIndex;
    alignmentIndex_ = alignmentIndex;
    lookAheadIndex_ = lookAheadIndex;
    peakPosition_ = peakPosition;
    windowPosition_ = windowPosition;
}

}  // namespace tq
