// Final stage when "Quantize" is on: reduces each output sample to 8, 16 or 24 bits
// with triangular dither inside an error-feedback noise-shaping loop, and fades the
// output to exact silence while the programme is silent ("Autoblack").
//
// All 19 coefficient sets live inside the object (built once by the constructor);
// reset() and clear() only overwrite state, beginBlock() only reads settings, so
// nothing here allocates after construction. Every method except the constructor
// is [audio-thread, lock held].
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "dsp/DoublePair.h"
#include "dsp/EngineSettings.h"
#include "dsp/NoiseGenerator.h"

namespace tq {

class Requantizer;

// Length of the noise shaper's error feedback: errors kept, coefficients per set.
inline constexpr int kShaperTaps = 12;

// One block of requantized frames as the engine's hot loop runs them: history pointer,
// position, autoblack level and settings in locals the compiler keeps in registers, both
// channels as one pair. Every lane runs the same arithmetic (the 12-tap sum from the
// oldest error to the newest, truncation toward zero), so each lane's results are exactly
// those of a channel processed alone. Requantizer::frames() hands one out (after
// beginBlock), endBlock() stores the state back.
class RequantizerFrames {
  public:
    // Below this magnitude on both channels the programme counts as silent.
    static constexpr double kSilenceThreshold = 1e-8;

    // Engine outputs in, final clipped output samples out; the generator advances four
    // times: left u1, u2, right u3, u4. Only for blocks with "Quantize" on.
    [[gnu::always_inline]] DoublePair frame(DoublePair out, NoiseGenerator& generator) {
        const std::uint32_t u1 = generator.nextWord();
        const std::uint32_t u2 = generator.nextWord();
        const std::uint32_t u3 = generator.nextWord();
        const std::uint32_t u4 = generator.nextWord();
        return frame(out, u1, u2, u3, u4);
    }

    // The same with the frame's four generator words drawn by the caller, in that order.
    [[gnu::always_inline]] DoublePair frame(DoublePair out, std::uint32_t u1, std::uint32_t u2,
                                            std::uint32_t u3, std::uint32_t u4) {
        const DoublePair magnitude = abs(out);
        if (!autoblackOn_ || magnitude.left() > kSilenceThreshold ||
            magnitude.right() > kSilenceThreshold) {
            level_ = 1.0;
        } else {
            level_ = level_ - autoblackCoefficient_ * level_;
        }
        level_ = (level_ + 1e-30) - 1e-30;  // keeps the fade out of the denormal range

        // The loop runs in units of the quantization step: the errors, the feedback and
        // the shaped sample are all kept multiplied by S. S is a power of two, so scaling
        // commutes exactly with every product, sum and rounding here, and every value is
        // bit for bit S times the unscaled one; but the chain from one frame's error to
        // the next loses a multiplication at each end.
        //
        // Feedback: the 12 taps from the oldest error to the most recent one. The most
        // recent error comes last and from a register: each frame's error depends on the
        // one before, and this way that chain runs through one product and one sum of
        // the feedback instead of all twelve (the older terms are ready in advance).
        const double* history = history_ + 2 * (position_ + kShaperTaps);
        DoublePair feedback = DoublePair::both(0.0);
#pragma GCC unroll 12
        for (int k = kShaperTaps - 1; k >= 1; --k) {
            feedback = feedback +
                       DoublePair::load(coefficients_ + 2 * k) * DoublePair::load(history - 2 * k);
        }
        feedback = feedback + DoublePair::load(coefficients_) * lastError_;
        const DoublePair shaped = out * scale_ + feedback;  // x S

        if (++position_ == kShaperTaps) position_ = 0;

        const DoublePair dither = DoublePair::both(0.5) * (uniform(u1, u3) + uniform(u2, u4));
        const DoublePair levels = truncate(shaped + scale_ + dither) - scale_;  // q - S
        const DoublePair quantized = levels * inverseScale_;

        lastError_ = levels - shaped;  // e S
        lastError_.store(history_ + 2 * position_);
        lastError_.store(history_ + 2 * (position_ + kShaperTaps));

        // 0.5 (|y + 1| - |y - 1|): exact for quantized samples (multiples of 2^-23 at
        // most), and it rounds a faded sample below 2^-53 to exact zero, which is what
        // autoblack is for. Unquantized samples take a plain min/max instead
        // (Requantizer::frame), which keeps every bit.
        const DoublePair y = quantized * DoublePair::both(level_);
        const DoublePair one = DoublePair::both(1.0);
        return DoublePair::both(0.5) * (abs(y + one) - abs(y - one));
    }

  private:
    friend class Requantizer;
    RequantizerFrames() = default;

    // NoiseGenerator::nextUniform of two words, one per lane.
    static DoublePair uniform(std::uint32_t left, std::uint32_t right) {
        const DoublePair words(static_cast<double>(left), static_cast<double>(right));
        return DoublePair::both(2.0) * words * DoublePair::both(NoiseGenerator::kWordScale) -
               DoublePair::both(1.0);
    }

    // std::trunc of both lanes. Below 2^31 in magnitude the 32-bit conversion truncates
    // exactly (it can turn -0 into +0, which the following subtraction of the scale
    // makes irrelevant); anything larger takes std::trunc, so no sample is too far out.
    static DoublePair truncate(DoublePair x) {
#if TQ_HAVE_SSE2
        const __m128d magnitude = abs(x).v;
        if (_mm_movemask_pd(_mm_cmplt_pd(magnitude, _mm_set1_pd(2147483647.0))) == 3) [[likely]] {
            return DoublePair(_mm_cvtepi32_pd(_mm_cvttpd_epi32(x.v)));
        }
#endif
        return DoublePair(std::trunc(x.left()), std::trunc(x.right()));
    }

    const double* coefficients_ = nullptr;  // 12 pairs, each coefficient twice
    double* history_ = nullptr;             // 24 (left, right) error pairs times S, doubled
    int position_ = 0;
    DoublePair lastError_;  // times S
    DoublePair scale_;
    DoublePair inverseScale_;
    double level_ = 0.0;
    double autoblackCoefficient_ = 0.0;
    bool autoblackOn_ = false;
};

class Requantizer {
  public:
    using CoefficientSet = std::array<double, kShaperTaps>;

    // The autoblack level after a suspend: practically silent until the first
    // sample above the threshold (or at once when "Autoblack" is off).
    static constexpr double kAutoblackStart = 1e-20;

    // Builds the 19 coefficient sets (index 0 = all zero) and selects set 0.
    Requantizer();

    // Suspend: history position 0, autoblack level back to its start value.
    void reset();
    // Zeroes both error histories (the position is left where it is).
    void clear();

    // Once per block: reads quantize, bits, noiseShapeSet, autoblack and
    // shaperResetSerial. A serial that differs from the last one seen puts the
    // history position back to 0. A set index outside 0..18 selects the zero set.
    void beginBlock(const EngineParameters& parameters, const RateSettings& rates);

    // "Quantize" on for this block.
    bool enabled() const { return enabled_; }

    // Engine outputs in, final clipped output samples out. With "Quantize" off this
    // only clips (every bit of a sample inside full scale kept) and leaves the generator, the
    // autoblack level and the histories untouched. With it on the generator advances four times:
    // left u1, u2, right u3, u4.
    void frame(double outL, double outR, double& yL, double& yR, NoiseGenerator& generator) {
        if (!enabled_) {
            yL = std::min(std::max(outL, -1.0), 1.0);
            yR = std::min(std::max(outR, -1.0), 1.0);
            return;
        }
        RequantizerFrames block = frames();
        const DoublePair y = block.frame(DoublePair(outL, outR), generator);
        endBlock(block);
        yL = y.left();
        yR = y.right();
    }

    // [audio-thread, lock held] After beginBlock: the state for a block of frames.
    RequantizerFrames frames();
    // [audio-thread, lock held] Stores the state of the block's frames back.
    void endBlock(const RequantizerFrames& block);

    // Inspection for tests and the effect.
    const CoefficientSet& coefficientSet(int index) const;
    int selectedSet() const { return selectedSet_; }
    int position() const { return position_; }
    double autoblackLevel() const { return autoblackLevel_; }
    double stepScale() const { return scale_; }

    // Scale S = 2^(bits - 1) for the "Bits" step 0, 1, 2 (8, 16, 24 bits); other steps count as 16
    // bits.
    static double scaleForBitsStep(int step);

  private:
    // Both channels' errors as (left, right) pairs, 12 of them twice over (entries j and
    // j + 12 are equal), so the 12 taps read one contiguous run backwards from the most
    // recent error. They are kept multiplied by the scale S (RequantizerFrames::frame);
    // a change of word length rescales them, exactly, as S is a power of two.
    using History = std::array<double, 2 * 2 * kShaperTaps>;

    alignas(16) std::array<CoefficientSet, kNoiseShapeSetCount> sets_{};
    alignas(16) History history_{};
    // The selected set, each coefficient twice.
    alignas(16) std::array<double, 2 * kShaperTaps> pairedCoefficients_{};
    const double* coefficients_ = nullptr;
    int selectedSet_ = kNoiseShapeOff;
    int position_ = 0;
    double autoblackLevel_ = kAutoblackStart;
    double autoblackCoefficient_ = 0.0;
    double scale_ = 32768.0;
    double inverseScale_ = 1.0 / 32768.0;
    bool enabled_ = false;
    bool autoblackOn_ = false;
    std::uint32_t lastResetSerial_ = 0;
};

}  // namespace tq
