// The per-frame limiter engine, written once over the flavour's buffer layout.
//
// Per frame: smoothed drive and output gains; dry delay (L + 31); drive; leveller;
// alignment delay (31) and half-band history; detector value; look-ahead delay (L);
// peak window over L frames; stereo link; eight attack/release smoothers; transient
// envelope (window maximum over N frames, block-convolved with the smoothing kernel);
// gain; output gain or the Power bypass; requantization or the final clip.
//
// Engine values (gains, leveller threshold, switches, smoother coefficients) are read
// once, at the start of each block, and held for all its frames. Setters write them
// without the processing lock, so a value could otherwise change in the middle of a
// block; read once, a change lands at the first frame of the next block, exactly as a
// frame-by-frame read of it from that frame on would give, and the frame loops run on
// constants: nothing reloaded per frame, no per-frame tests of switches.
//
// All buffers are allocated by the constructor at their worst-case sizes. The hot loop
// copies state into locals, runs, and writes it back; it allocates nothing and makes
// no virtual calls. Indices and buffer pointers must live in locals, not members: every
// store of a pair goes through a type that may alias anything, so the compiler would
// reload each member after each store.
//
// The alignment delay (31) is the half-band history itself: the history's centre sample
// is the sample pushed 31 frames earlier, which is exactly what the delay would give,
// including the zeros after a buffer clear. The history is a straight run: the last 63
// samples of the chunks before, then the current chunk; after each chunk its last 63
// samples move to the front. The look-ahead delay and the peak window
// share one position, as both advance by one modulo L and restart together. The peak
// window and the transient window are SlidingMaximumPairs: the same maxima as the
// SlidingMaxTree walks, in constant time per frame.
//
// The frames of a block run in chunks of 64, in passes: steps 1 to 5 for the whole chunk,
// with the input meters (they read only the delayed input), then step 6 (the detector
// values), then steps 7 to 10 (the limiter's chains), steps 11 and 12 (the transient
// envelope, which reads only detector values, and the gain's division), and steps 13 and
// 14 with the output meters. Each value is still computed by the same operations in the
// same order as frame by frame; but the half-band sums no longer stand in line with the
// limiter's loop-carried chains, the sums of several frames run side by side
// (HalfbandKernels.h), each in the order of the single-frame filter, and a pass short
// enough for the processor to work on several of its frames at once overlaps their chains
// instead of waiting for each in turn.
#pragma once

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "dsp/EngineSettings.h"
#include "dsp/HalfbandInterpolator.h"
#include "dsp/HalfbandKernels.h"
#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"
#include "dsp/SlidingMaxTree.h"
#include "paths/BlockConvolver.h"
#include "paths/ChannelLayout.h"
#include "paths/InputChunk.h"
#include "paths/QuadSmootherBank.h"
#include "paths/SlidingMaximumPair.h"
#include "paths/WideBuild.h"

namespace tq {

template <typename Layout>
class LimiterEngine {
  public:
    using Value = typename Layout::Value;
    static constexpr int kStages = 8;
    static constexpr int kDryCapacity = kMaxLookAhead + kAlignmentDelay + 1;
    // Frames per chunk: each pass runs over a whole chunk before the next one starts.
    static constexpr int kChunk = 64;
    static_assert(kChunk == NoiseRun::kStretch, "a whole chunk's dither is one NoiseRun");
    static_assert(kChunk == RequantizerFrames::kRun, "a chunk is one run of the requantizer");
    static_assert(kChunk <= BlockConvolver<Layout>::kMaxRun, "a chunk is one run of the convolver");
    static_assert(kChunk <= MeterFrames::kRun, "a chunk fits in one run of the output meters");
    // Half-band window: the newest 64 samples; the history keeps the 63 before a chunk.
    static constexpr int kHalfbandWindow = 2 * HalfbandCoefficients::kCount;
    static constexpr int kHistoryTail = kHalfbandWindow - 1;
    // Frames whose half-band sums run side by side.
    static constexpr int kSideBySide = 4;
    static constexpr double kDetectorFloor = 1e-5;
    static constexpr double kOversampleMargin = 1.001;
    // 1 - 2^-40: the downward bias of the convolved envelope (see step 11).
    static constexpr double kConvolutionBias = 1.0 - 0x1p-40;

    explicit LimiterEngine(EngineParameters& parameters)
        : parameters_(parameters),
          dry_(kDryCapacity),
          chunk_(kChunkValues),
          halfbandCoefficients_(HalfbandCoefficients::kCount),
          lookAhead_(kMaxLookAhead),
          stage1_(kStages),
          stage2_(kStages),
          peak_(kMaxLookAhead),
          window_(kMaxSmoothingLength) {
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
        chunk_.clear();
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
                 MeterMeasurement& meters) {
#if TQ_WIDE_BUILD
        if (wide_) {
            processWide(inLeft, inRight, outLeft, outRight, frames, requantizer, generator, meters);
            return;
        }
#endif
        processBaseline(inLeft, inRight, outLeft, outRight, frames, requantizer, generator, meters);
    }

  private:
    // The frame loop, built for the baseline and for AVX2 (WideBuild.h).
    template <typename Sample>
    [[gnu::flatten]] void processBaseline(const Sample* inLeft, const Sample* inRight,
                                          Sample* outLeft, Sample* outRight, int frames,
                                          Requantizer& requantizer, NoiseGenerator& generator,
                                          MeterMeasurement& meters) {
        run<false>(inLeft, inRight, outLeft, outRight, frames, requantizer, generator, meters);
    }
#if TQ_WIDE_BUILD
    template <typename Sample>
    [[gnu::flatten, gnu::target("avx2")]] void processWide(
        const Sample* inLeft, const Sample* inRight, Sample* outLeft, Sample* outRight, int frames,
        Requantizer& requantizer, NoiseGenerator& generator, MeterMeasurement& meters) {
        run<true>(inLeft, inRight, outLeft, outRight, frames, requantizer, generator, meters);
    }
    const bool wide_ = Layout::kFlavour == Flavour::Paired && wideBuildAvailable();
#endif

    // Wide: the body of processWide, where the paired flavour keeps its smoother bank in
    // 256-bit registers (QuadSmootherBank.h).
    template <bool Wide, typename Sample>
    [[gnu::always_inline]] inline void run(const Sample* inLeft, const Sample* inRight,
                                           Sample* outLeft, Sample* outRight, int frames,
                                           Requantizer& requantizer, NoiseGenerator& generator,
                                           MeterMeasurement& meters);

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
        if (Layout::bothWithin(abs(x), kSmallestInput, kLargestInput)) [[likely]] {
            return x;
        }
        return Value(sanitizeInput(x.left()), sanitizeInput(x.right()));
    }

    // E, the largest of the eight stages, reduced pairwise (the bank gain takes max(1, E)).
    static Value bankEnvelope(const Value* s) {
        return max(max(max(s[0], s[1]), max(s[2], s[3])), max(max(s[4], s[5]), max(s[6], s[7])));
    }

    // A frame's detector value from its (aligned or oversampled) sample: the magnitude,
    // at least the floor. The upper clamp keeps every value within what a SlidingMaxTree
    // takes whatever the gains are.
    static Value detectorValue(Value sample) {
        return min(max(abs(sample), Value::both(kDetectorFloor)),
                   Value::both(SlidingMaxTree::kLargestValue));
    }

    // The smoother bank's share T + (1 - T) / max(1, E) of the limiter gain, for the
    // meters.
    static Value bankShare(double transient, Value bankEnvelope) {
        return Value::both(transient) +
               Value::both(1.0 - transient) / max(bankEnvelope, Value::both(1.0));
    }

    // Half-band mid values of `Frames` consecutive frames, the first being frame `first`
    // of the chunk: per frame the 32 pair sums from the outermost (newest and oldest)
    // inwards, one running sum per frame and lane.
    template <int Frames>
    [[gnu::always_inline]] static void halfbandMids(typename Layout::View history,
                                                    typename Layout::View coefficients, int first,
                                                    Value* mids) {
        Value sums[Frames];
        for (int f = 0; f < Frames; ++f) sums[f] = Value::both(0.0);
#pragma GCC unroll 32
        for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
            const Value c = coefficients.get(k);
#pragma GCC unroll 4
            for (int f = 0; f < Frames; ++f) {
                const int oldest = first + f;
                sums[f] =
                    sums[f] +
                    (history.get(oldest + kHalfbandWindow - 1 - k) + history.get(oldest + k)) * c;
            }
        }
        for (int f = 0; f < Frames; ++f) mids[f] = sums[f];
    }

    // 1 / a and 1 / b, stored as values 0 and 1 of `to`. Paired, as one four-lane
    // division and one store: the divider takes a 256-bit division in the time of a
    // 128-bit one, each lane is the same IEEE quotient, and the reader loads the two
    // halves apart, so no cross-lane step stands between the division and its use.
    [[gnu::always_inline]] static void storeReciprocals(Value a, Value b,
                                                        typename Layout::View to) {
        if constexpr (std::is_same_v<Value, DoublePair>) {
            using Quad = double __attribute__((vector_size(32)));
            const Quad d = Quad{a.v[0], a.v[1], b.v[0], b.v[1]};
            const Quad r = 1.0 / d;
            std::memcpy(to.pairs, &r, sizeof r);
        } else {
            to.set(0, Value::both(1.0) / a);
            to.set(1, Value::both(1.0) / b);
        }
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

    EngineParameters& parameters_;
    RateSettings rates_;

    typename Layout::Array dry_;
    // The half-band history and the chunk's hand-over values between passes, in one
    // array at fixed offsets: the frame loops reach all of them from one base register.
    // The history is the alignment delay too: the 63 samples before the chunk, then the
    // chunk's own.
    static constexpr Index kHistoryAt = 0;
    // The paired flavour's chunk of sanitised input (InputChunk.h).
    static constexpr Index kInputAt = kHistoryAt + kHistoryTail + kChunk;
    // Hand-over from the first passes over a chunk (steps 1 to 6) to the next (7 to 14):
    // detector values, the dry input, and per frame the smoothed output gain (left lane)
    // and the leveller gain (right lane). Between the limiter's passes (steps 7 to 10,
    // then 11 and 12): the bank envelope E and the detector value each delayed sample was
    // released with. To the last pass (12, finished, to 14): the gain's two reciprocals
    // and the delayed sample.
    static constexpr Index kDetectorAt = kInputAt + kChunk;
    static constexpr Index kDryAt = kDetectorAt + kChunk;
    static constexpr Index kGainsAt = kDryAt + kChunk;
    static constexpr Index kBankAt = kGainsAt + kChunk;
    static constexpr Index kGainReciprocalsAt = kBankAt + 2 * kChunk;
    static constexpr Index kDelayedAt = kGainReciprocalsAt + 2 * kChunk;
    static constexpr Index kReleasedAt = kDelayedAt + kChunk;
    static constexpr int kChunkValues = static_cast<int>(kReleasedAt) + kChunk;
    typename Layout::Array chunk_;
    typename Layout::Array halfbandCoefficients_;  // both lanes equal
    typename Layout::Array lookAhead_;
    typename Layout::Array stage1_;
    typename Layout::Array stage2_;
    SlidingMaximumPair<Layout> peak_;
    SlidingMaximumPair<Layout> window_;
    BlockConvolver<Layout> convolver_;
    const PairedHalfbandDetectorKernel halfbandDetectorKernel_ = pairedHalfbandDetectorKernel();
    static constexpr HalfbandDetectorLimits kDetectorLimits{kOversampleMargin, kDetectorFloor,
                                                            SlidingMaxTree::kLargestValue};
    alignas(16) std::array<std::uint32_t, NoiseRun::kWords> ditherWords_{};

    double smoothedDrive_ = 1.0;
    double smoothedOutput_ = 1.0;
    double leveller_ = kDetectorFloor;
    int dryIndex_ = 0;
    int lookAheadIndex_ = 0;  // also the peak window's leaf position
    int windowPosition_ = 0;
};

template <typename Layout>
template <bool Wide, typename Sample>
void LimiterEngine<Layout>::run(const Sample* inLeft, const Sample* inRight, Sample* outLeft,
                                Sample* outRight, int frames, Requantizer& requantizer,
                                NoiseGenerator& generator, MeterMeasurement& meters) {
    constexpr auto relaxed = std::memory_order_relaxed;

    // Every engine value is read once, here: a setter's change lands at the first frame of
    // the next block, exactly as if the value had been there from that frame on, and the
    // frame loops run on constants (no per-frame loads, fewer live values, no tests of
    // settings that cannot change within the block).
    const EngineParameters& p = parameters_;
    const double driveTarget = p.driveGain.load(relaxed);
    const double outputTarget =
        p.autoOut.load(relaxed) ? 1.0 / driveTarget : p.outputGain.load(relaxed);
    // Disengaged, the leveller's gain is 1 whatever its envelope; an infinite threshold
    // gives exactly that through the engaged rule (the envelope is always finite).
    const double threshold = p.levellerEngaged.load(relaxed)
                                 ? p.levellerGain.load(relaxed)
                                 : std::numeric_limits<double>::infinity();
    const bool oversample = p.oversample.load(relaxed);
    const bool secondOrder = p.detectorOrder.load(relaxed) != 0;
    const double transient = p.transientShare.load(relaxed);
    const double link = p.linkAmount.load(relaxed);
    const Value linkedShare = Value::both(link);
    const Value ownShare = Value::both(1.0 - link);
    const bool powerOn = p.powerGain.load(relaxed) >= 0.5;

    // Block-constant settings of the path itself.
    const bool quantize = requantizer.enabled();
    const double gainCoefficient = rates_.gainSmoothing;
    const double levellerCoefficient = rates_.levellerCoefficient;
    const Index lookAheadMask = rates_.lookAhead - 1;
    const Index dryLength = rates_.lookAhead + kAlignmentDelay;
    const Index windowMask = rates_.smoothingLength - 1;
    // A missing right input repeats the left one. A missing right output is the left
    // one: the right channel is written first, so the left channel remains.
    if (inRight == nullptr) inRight = inLeft;
    if (outRight == nullptr) outRight = outLeft;

    // State into locals.
    const auto dry = dry_.view();
    const auto chunk = chunk_.view();
    const auto history = chunk.shifted(kHistoryAt);
    const auto coefficients = halfbandCoefficients_.view();
    const auto lookAhead = lookAhead_.view();
    auto peak = peak_.cursor();
    auto window = window_.cursor();
    auto convolver = convolver_.cursor();
    const auto inputValues = chunk.shifted(kInputAt);
    const auto detectorValues = chunk.shifted(kDetectorAt);
    const auto dryValues = chunk.shifted(kDryAt);
    const auto gains = chunk.shifted(kGainsAt);
    // Frame i's bank envelope E is the larger of its two values 2i and 2i + 1.
    const auto bankValues = chunk.shifted(kBankAt);
    const auto storedBankEnvelope = [bankValues](Index i) __attribute__((always_inline)) {
        return max(bankValues.get(2 * i), bankValues.get(2 * i + 1));
    };
    // Frame i's bank gain 1 / max(1, E, envelope) and transient gain 1 / max(1, envelope)
    // are its values 2i and 2i + 1.
    const auto gainReciprocals = chunk.shifted(kGainReciprocalsAt);
    const auto delayedValues = chunk.shifted(kDelayedAt);
    const auto releasedValues = chunk.shifted(kReleasedAt);
    std::uint32_t* const ditherWords = ditherWords_.data();
    MeterFrames meterFrames = meters.frames();
    const bool needsBankShare = meterFrames.needsBankShare();
    // The usual block (Power on, the meters' usual route, an output to write) runs loop
    // bodies built for it, without the per-frame tests of those settings.
    const bool usualBlock = powerOn && meterFrames.takesUsualRoute() && outLeft != nullptr;
    const bool oversampledMeters = meterFrames.oversampled();
    RequantizerFrames requantizerFrames = requantizer.frames();
    const bool autoblack = requantizerFrames.autoblackOn();
    NoiseGenerator dither = generator;  // a local copy keeps the three words in registers
#if TQ_WIDE_BUILD
    constexpr bool kQuadBank = Wide && Layout::kFlavour == Flavour::Paired;
    QuadSmootherBank quadBank;
    if constexpr (kQuadBank) {
        quadBank.load(stage1_.view().pairs, stage2_.view().pairs);
        quadBank.setCoefficients(p.attack, p.release);
    }
#else
    constexpr bool kQuadBank = false;
#endif
    Value stage1[kStages];
    Value stage2[kStages];
    Value attacks[kStages];
    Value releases[kStages];
    if constexpr (!kQuadBank) {
        for (int i = 0; i < kStages; ++i) {
            stage1[i] = stage1_.view().get(i);
            stage2[i] = stage2_.view().get(i);
            attacks[i] = Value::both(p.attack[static_cast<std::size_t>(i)].load(relaxed));
            releases[i] = Value::both(p.release[static_cast<std::size_t>(i)].load(relaxed));
        }
    }
    double drive = smoothedDrive_;
    double output = smoothedOutput_;
    double leveller = leveller_;
    // The dry delay's slot for the next frame, moved along with the frames left before
    // it wraps: a pointer step and a count per frame instead of index arithmetic.
    auto dryAt = dry.shifted(dryIndex_);
    Index dryLeft = dryLength - dryIndex_;
    Index lookAheadIndex = lookAheadIndex_;
    Index windowPosition = windowPosition_;

    for (Index start = 0; start < frames; start += kChunk) {
        const Index count = frames - start < kChunk ? frames - start : kChunk;

        // The chunk's dither: four generator words per frame, 4 count in all, made before
        // the frames that use them (they do not depend on the audio). Word t of the chunk
        // is kept at 4 (t mod 64) + t / 64. A whole chunk's 256 words are one NoiseRun,
        // which step 11's window maxima (a light loop) step along, one row of four words
        // per frame; a shorter chunk draws them one by one.
        const bool wholeRun = quantize && count == NoiseRun::kStretch;
        NoiseRun noiseRun;
        if (wholeRun) {
            noiseRun = NoiseRun::startingAt(dither);
        } else if (quantize) {
            for (int t = 0; t < 4 * count; ++t)
                ditherWords[4 * (t & 63) + (t >> 6)] = dither.nextWord();
        }

        // Input: the whole chunk is read before any of it is written (hosts may process
        // in place). The paired flavour converts and sanitises it here, a chunk at a time.
        if constexpr (Layout::kFlavour == Flavour::Paired) {
            if (inLeft == nullptr) {
                for (Index i = 0; i < count; ++i) inputValues.set(i, Value::both(0.0));
            } else if constexpr (Wide) {
                sanitizedPairsWide(inLeft + start, inRight + start, static_cast<int>(count),
                                   inputValues.pairs);
            } else {
                sanitizedPairs(inLeft + start, inRight + start, static_cast<int>(count),
                               inputValues.pairs);
            }
        }

        // Steps 1 to 5 for the whole chunk: input to half-band history. A loop for each
        // combination of the chunk's constants, so no frame tests them.
        const auto prepare = [&](auto oversampled) __attribute__((always_inline)) {
            constexpr bool kOversampled = decltype(oversampled)::value;
            MeterFrames::InputRun inputRun = meterFrames.inputRun();
            for (Index i = 0; i < count; ++i) {
                const Index n = start + i;

                Value x = Value::both(0.0);
                if constexpr (Layout::kFlavour == Flavour::Paired) {
                    x = inputValues.get(i);
                } else if (inLeft != nullptr) {
                    x = sanitizeInputs(
                        Value(static_cast<double>(inLeft[n]), static_cast<double>(inRight[n])));
                }

                // 1. Gain smoothing.
                drive = guard(drive + (driveTarget - drive) * gainCoefficient);
                output = guard(output + (outputTarget - output) * gainCoefficient);

                // 2. Dry delay (L + 31); the input meters read the delayed input.
                const Value dryOut = dryAt.get(0);
                dryValues.set(i, dryOut);
                meterFrames.inputFrame(inputRun, asPair(dryOut));
                dryAt.set(0, x);
                dryAt = dryAt.shifted(1);
                if (--dryLeft == 0) [[unlikely]] {
                    dryAt = dry;
                    dryLeft = dryLength;
                }

                // 3. Drive.
                const Value driven = x * Value::both(drive);

                // 4. Leveller.
                double peakLevel = Layout::maxAcross(abs(driven)).left();
                peakLevel = peakLevel > kDetectorFloor ? peakLevel : kDetectorFloor;
                leveller = guard(leveller + (peakLevel - leveller) * levellerCoefficient);
                const double levellerGain = leveller <= threshold ? 1.0 : threshold / leveller;
                gains.set(i, Value(output, levellerGain));
                const Value levelled = driven * Value::both(levellerGain);

                // 5. Half-band history, which is also the alignment delay (31).
                history.set(kHistoryTail + i, levelled);

                // 6. Detector, Oversample off: the aligned sample itself (see below).
                if constexpr (!kOversampled) {
                    detectorValues.set(
                        i, detectorValue(history.get(i + kHistoryTail - kAlignmentDelay)));
                }
            }
            meterFrames.endInputRun(inputRun);
        };
        if (oversample) {
            prepare(std::true_type{});
        } else {
            prepare(std::false_type{});
        }

        // 6. Detector, Oversample on: the larger of the aligned sample (31 frames old, its
        // window's centre) and the mid value between it and its successor, with a margin.
        const auto oversampledDetector = [&](int i, Value mid) __attribute__((always_inline)) {
            const Value aligned = history.get(i + kHistoryTail - kAlignmentDelay);
            detectorValues.set(
                i, detectorValue(selectGreaterEqual(abs(mid), abs(aligned), mid, aligned) *
                                 Value::both(kOversampleMargin)));
        };
        if (oversample) {
            if constexpr (Layout::kFlavour == Flavour::Paired) {
                // The same values, the kernel taking the larger magnitude and the clamps
                // where its sums are still in registers.
                halfbandDetectorKernel_(history.pairs, coefficients.pairs, static_cast<int>(count),
                                        kDetectorLimits, detectorValues.pairs);
            } else {
                int i = 0;
                for (; i + kSideBySide <= count; i += kSideBySide) {
                    Value mids[kSideBySide];
                    halfbandMids<kSideBySide>(history, coefficients, i, mids);
                    for (int f = 0; f < kSideBySide; ++f) oversampledDetector(i + f, mids[f]);
                }
                for (; i < count; ++i) {
                    Value mid[1];
                    halfbandMids<1>(history, coefficients, i, mid);
                    oversampledDetector(i, mid[0]);
                }
            }
        }

        // Steps 7 to 10 for the chunk: the limiter's chains. Each detector order has a loop
        // of its own, so neither keeps the other's smoother values in registers. Nothing
        // here calls out, so the smoother bank stays in registers for the whole chunk.
        const auto limit = [&](auto order) __attribute__((always_inline)) {
            constexpr bool kSecondOrder = decltype(order)::value;
            for (Index i = 0; i < count; ++i) {
                const Value delta = detectorValues.get(i);
                // 8. Peak window over L frames. The leaf replaced holds the detector value of
                // the frame whose audio is delayed in step 7. (Taken before step 7, which
                // touches nothing of it: the rarely taken branch inside then comes before the
                // shared slot address is formed, which so need not be kept around it.)
                releasedValues.set(i, peak.replace(lookAheadIndex, delta));
                const Value peaks = peak.maximum();

                // 7. Look-ahead delay (L).
                delayedValues.set(i, lookAhead.get(lookAheadIndex));
                lookAhead.set(lookAheadIndex, history.get(i + kHistoryTail - kAlignmentDelay));
                lookAheadIndex = (lookAheadIndex + 1) & lookAheadMask;

                // 9. Stereo link.
                const Value level = linkedShare * Layout::maxAcross(peaks) + ownShare * peaks;

                // 10. Smoother bank. The bank envelope is reduced pairwise (max is exact, so the
                // order does not matter).
#if TQ_WIDE_BUILD
                if constexpr (kQuadBank) {
                    quadBank.step<kSecondOrder>(level);
                    quadBank.storeEnvelopeHalves<kSecondOrder>(bankValues.pairs + 4 * i);
                }
#endif
                if constexpr (!kQuadBank) {
#pragma GCC unroll 8
                    for (int k = 0; k < kStages; ++k) {
                        const Value rate1 =
                            selectGreaterEqual(level, stage1[k], attacks[k], releases[k]);
                        stage1[k] = guard(stage1[k] + rate1 * (level - stage1[k]));
                        if constexpr (kSecondOrder) {
                            const Value rate2 =
                                selectGreater(stage1[k], stage2[k], attacks[k], releases[k]);
                            stage2[k] = guard(stage2[k] + rate2 * (stage1[k] - stage2[k]));
                        }
                    }
                    const Value bank = bankEnvelope(kSecondOrder ? stage2 : stage1);
                    bankValues.set(2 * i, bank);
                    bankValues.set(2 * i + 1, bank);
                }
            }
        };
        // 11. Transient envelope: window maximum over N frames, block-convolved with the
        // kernel. It reads only the detector values, so it has a pass of its own, where
        // the block transforms' calls interrupt no chain held in registers: the chunk's
        // window maxima, then the transforms of the blocks they complete, back to back
        // (BlockConvolver.h), then the convolved values. The gain's division (step 12) is
        // taken with those: its long latency would otherwise keep the last pass's frames
        // waiting in the scheduler.
        const auto transientPass = [&](auto stepsNoise) __attribute__((always_inline)) {
            const auto windowMaxima = convolver.inputs();
            for (Index i = 0; i < count; ++i) {
                if constexpr (decltype(stepsNoise)::value) noiseRun.step(ditherWords + 4 * i);
                window.replace(windowPosition, detectorValues.get(i));
                windowPosition = (windowPosition + 1) & windowMask;
                windowMaxima.set(i, window.maximum());
            }
            convolver.transformRun(count);
            for (Index i = 0; i < count; ++i) {
                // Mathematically the convolved envelope is at least the detector value of
                // the frame whose audio is released now (every windowed maximum in the sum
                // covers that frame), but the transform rounds either way. So the
                // convolution is pulled down by a hair (far more than its rounding, far
                // less than anything audible) and floored at that detector value exactly:
                // a plateau of value P then gives exactly P, and the released sample can
                // never exceed full scale.
                const Value envelope =
                    max(convolver.output() * Value::both(kConvolutionBias), releasedValues.get(i));
                // 12. The bank gain g1 = 1 / max(1, E, envelope) and the transient gain
                // g2 = 1 / max(1, envelope). max(E, 1, envelope) is max(max(1, E), envelope):
                // maxima are exact in any order, so the bank envelope's floor at 1 is taken
                // here, once.
                const Value flooredEnvelope = max(envelope, Value::both(1.0));
                storeReciprocals(max(storedBankEnvelope(i), flooredEnvelope), flooredEnvelope,
                                 gainReciprocals.shifted(2 * i));
            }
        };
        // Steps 12 (finished), 13 and 14 and the output measurements. The usual block
        // (Power on, the meters' usual route, an output to write) has a loop for each
        // combination of requantization, a known-off autoblack and oversampled output
        // meters; a requantized one runs frames in pairs, which share the noise shaper's
        // older taps.
        const auto finish = [&](auto usual, auto requantized, auto autoblackOff,
                                auto oversampledMeters) __attribute__((always_inline)) {
            constexpr bool kUsual = decltype(usual)::value;
            constexpr bool kRequantized = decltype(requantized)::value;
            constexpr bool kAutoblackOff = decltype(autoblackOff)::value;
            [[maybe_unused]] constexpr bool kOversampledMeters = decltype(oversampledMeters)::value;
            MeterFrames::UsualOutputRun usualRun = meterFrames.usualOutputRun();
            // Steps 12 and 13 for frame i, and its output measurements.
            const auto output = [&](Index i) __attribute__((always_inline)) {
                // 12, finished. Gain: (1 - T) g1 + T g2, written as g1 + T (g2 - g1) so that
                // it is exactly g1 when both agree and never exceeds g2 (g1 <= g2 because
                // E >= 1).
                const Value bankGain = gainReciprocals.get(2 * i);
                const Value transientGain = gainReciprocals.get(2 * i + 1);
                const Value gain = bankGain + Value::both(transient) * (transientGain - bankGain);

                // 13. Output gain, or the bypass.
                const Value frameGains = gains.get(i);
                const Value out = kUsual || powerOn
                                      ? gain * delayedValues.get(i) * Value::both(frameGains.left())
                                      : dryValues.get(i);
                if constexpr (kUsual) {
                    meterFrames.template usualOutputFrame<kOversampledMeters>(
                        usualRun, asPair(gain), asPair(frameGains).rightInBoth(), asPair(out));
                } else {
                    meterFrames.outputFrame(
                        asPair(gain),
                        asPair(needsBankShare ? bankShare(transient, storedBankEnvelope(i))
                                              : Value::both(1.0)),
                        frameGains.right(), asPair(out), powerOn);
                }
                return out;
            };
            // 14. The final clip, a plain min/max: the textbook 0.5 (|o + 1| - |o - 1|)
            // rounds away the last bit of full-precision doubles, so a sample well inside
            // full scale would not pass unchanged. Requantized samples are clipped by the
            // requantizer.
            const auto clip = [](Value out) __attribute__((always_inline)) {
                return min(max(out, Value::both(-1.0)), Value::both(1.0));
            };
            if constexpr (kUsual) {
                Index i = 0;
                if constexpr (kRequantized) {
                    for (; i + 2 <= count; i += 2) {
                        const Value out0 = output(i);
                        const Value out1 = output(i + 1);
                        DoublePair y0;
                        DoublePair y1;
                        requantizerFrames.template framePair<Wide, kAutoblackOff>(
                            asPair(out0), asPair(out1), static_cast<int>(i), y0, y1);
                        Layout::storeFrame(outLeft, outRight, start + i, fromPair(y0));
                        Layout::storeFrame(outLeft, outRight, start + i + 1, fromPair(y1));
                    }
                }
                for (; i < count; ++i) {
                    const Value out = output(i);
                    Value y;
                    if constexpr (kRequantized) {
                        y = fromPair(requantizerFrames.template frame<Wide, kAutoblackOff>(
                            asPair(out), static_cast<int>(i)));
                    } else {
                        y = clip(out);
                    }
                    Layout::storeFrame(outLeft, outRight, start + i, y);
                }
                if constexpr (kOversampledMeters) meterFrames.endChunk(usualRun);
                meterFrames.endUsualOutputRun(usualRun);
            } else {
                for (Index i = 0; i < count; ++i) {
                    const Value out = output(i);
                    const Value y = quantize ? fromPair(requantizerFrames.template frame<Wide>(
                                                   asPair(out), static_cast<int>(i)))
                                             : clip(out);
                    if (outLeft != nullptr) Layout::storeFrame(outLeft, outRight, start + i, y);
                }
            }
        };
        if (secondOrder) {
            limit(std::true_type{});
        } else {
            limit(std::false_type{});
        }
        if (wholeRun) {
            transientPass(std::true_type{});
            noiseRun.finish(dither);
        } else {
            transientPass(std::false_type{});
        }
        if (quantize) requantizerFrames.prepareDither(ditherWords, static_cast<int>(count));
        if (!usualBlock) {
            finish(std::false_type{}, std::false_type{}, std::false_type{}, std::false_type{});
        } else if (!quantize) {
            if (oversampledMeters) {
                finish(std::true_type{}, std::false_type{}, std::false_type{}, std::true_type{});
            } else {
                finish(std::true_type{}, std::false_type{}, std::false_type{}, std::false_type{});
            }
        } else if (!autoblack) {
            if (oversampledMeters) {
                finish(std::true_type{}, std::true_type{}, std::true_type{}, std::true_type{});
            } else {
                finish(std::true_type{}, std::true_type{}, std::true_type{}, std::false_type{});
            }
        } else if (oversampledMeters) {
            finish(std::true_type{}, std::true_type{}, std::false_type{}, std::true_type{});
        } else {
            finish(std::true_type{}, std::true_type{}, std::false_type{}, std::false_type{});
        }

        if (quantize) {
            requantizerFrames.endRun(static_cast<int>(count));
        }

        // The chunk's last 63 samples become the history before the next one.
#pragma GCC unroll 8
        for (Index j = 0; j < kHistoryTail; ++j) history.set(j, history.get(count + j));
    }

    // Locals back into state. The requantizer's record is handed on as a copy: an
    // object whose address reaches another function could be changed by any call, so
    // the loops would keep it in memory around the calls they make (the block transform).
    meters.endBlock(meterFrames);
    const RequantizerFrames requantizerResult = requantizerFrames;
    requantizer.endBlock(requantizerResult);
    generator = dither;
    convolver_.commit(convolver);
    peak_.commit(peak);
    window_.commit(window);
    // A first-order block leaves stage 2 equal to stage 1: copied once, here, rather
    // than every frame. A block of the second order then starts from exactly the stage 2
    // that frame-by-frame copying would have left.
#if TQ_WIDE_BUILD
    if constexpr (kQuadBank) {
        if (!secondOrder) quadBank.copyStage1ToStage2();
        quadBank.store(stage1_.view().pairs, stage2_.view().pairs);
    }
#endif
    if constexpr (!kQuadBank) {
        if (!secondOrder) {
            for (int i = 0; i < kStages; ++i) stage2[i] = stage1[i];
        }
        for (int i = 0; i < kStages; ++i) {
            stage1_.view().set(i, stage1[i]);
            stage2_.view().set(i, stage2[i]);
        }
    }
    smoothedDrive_ = drive;
    smoothedOutput_ = output;
    leveller_ = leveller;
    dryIndex_ = static_cast<int>(dryLength - dryLeft);
    lookAheadIndex_ = static_cast<int>(lookAheadIndex);
    windowPosition_ = static_cast<int>(windowPosition);
}

}  // namespace tq
