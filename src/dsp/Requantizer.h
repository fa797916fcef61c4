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

// The compiler's vector types: both channels of one frame, two frames side by side.
// Written with these rather than intrinsics, the same code builds for the baseline and,
// inlined into a loop built for AVX2, with AVX2.
using RequantizerHalf = double __attribute__((vector_size(16)));
using RequantizerQuad = double __attribute__((vector_size(32)));

// One block of requantized frames as the engine's hot loop runs them: pointers, the
// autoblack level and settings in locals the compiler keeps in registers, both channels
// as one pair. Every lane runs the same arithmetic (the 12-tap sum from the oldest error
// to the newest, truncation toward zero), so each lane's results are exactly those of a
// channel processed alone. Requantizer::frames() hands one out (after beginBlock),
// endBlock() stores the state back.
//
// The frames come in runs of up to kRun (the engine's chunks): prepareDither(), then
// frame() for frames 0, 1, .. of the run in order, then endRun(). Within a run the errors
// are a straight run too: the 12 before the run, then the run's own, so the feedback reads
// them without wrapping. A frame's error depends on the one before only through the
// newest tap, so the older eleven taps of a frame and of the next one are summed side by
// side, one unaligned load fetching a tap of both, each sum still running from the oldest
// error to the newest; the next frame takes its half from there.
class RequantizerFrames {
  public:
    // Below this magnitude on both channels the programme counts as silent.
    static constexpr double kSilenceThreshold = 1e-8;
    // Frames per run at most.
    static constexpr int kRun = 64;

    // The run's dither, converted before the frames that need it. Frame i's generator
    // words u1, u2, u3, u4 are words[16 (i mod 16) + 4 j + i / 16] for j = 0 .. 3 (the
    // order in which a NoiseRun's rows leave them); `words` holds 16 min(count, 16) words,
    // the unused ones set to anything. A group of 16 words holds the four words of frames
    // b, b + 16, b + 32 and b + 48, one row of four per word; each frame's (left, right)
    // dither goes to its own pair, in frame order.
    [[gnu::always_inline]] void prepareDither(const std::uint32_t* words, int count) {
        const int groups = count < 16 ? count : 16;
        for (int b = 0; b < groups; ++b) {
            RequantizerQuad u1, u2, u3, u4;
            uniforms(u1, words + 16 * b);
            uniforms(u2, words + 16 * b + 4);
            uniforms(u3, words + 16 * b + 8);
            uniforms(u4, words + 16 * b + 12);
            const RequantizerQuad left = 0.5 * (u1 + u2);
            const RequantizerQuad right = 0.5 * (u3 + u4);
            const RequantizerQuad low = __builtin_shufflevector(left, right, 0, 4, 1, 5);
            const RequantizerQuad high = __builtin_shufflevector(left, right, 2, 6, 3, 7);
            const auto* lowPairs = reinterpret_cast<const char*>(&low);
            const auto* highPairs = reinterpret_cast<const char*>(&high);
            __builtin_memcpy(dither_ + 2 * b, lowPairs, 2 * sizeof(double));
            __builtin_memcpy(dither_ + 2 * (b + 16), lowPairs + 2 * sizeof(double),
                             2 * sizeof(double));
            __builtin_memcpy(dither_ + 2 * (b + 32), highPairs, 2 * sizeof(double));
            __builtin_memcpy(dither_ + 2 * (b + 48), highPairs + 2 * sizeof(double),
                             2 * sizeof(double));
        }
    }

    // Engine outputs in, final clipped output samples out, for frame i of the run.
    // kWide: only inside code built for AVX2. kAutoblackOff: only where "Autoblack" is
    // known to be off for the block (the fade level then stays exactly 1).
    template <bool kWide, bool kAutoblackOff = false>
    [[gnu::always_inline]] DoublePair frame(DoublePair outPair, int i) {
        Half older;
        if (nextFrame_ == i) {
            older = withSecondTap(nextOlder_);
        } else {
            older = olderTaps(i, nextOlder_);
            nextFrame_ = i + 1;
        }
        return toPair(step<kWide, kAutoblackOff>(toHalf(outPair), older, i));
    }

    // frame() for frames i and i + 1 of the run, the second one's older taps taken
    // straight from the sum of the first's.
    template <bool kWide, bool kAutoblackOff>
    [[gnu::always_inline]] void framePair(DoublePair out0, DoublePair out1, int i, DoublePair& y0,
                                          DoublePair& y1) {
        Half nextOlder;
        const Half older0 = olderTaps(i, nextOlder);
        y0 = toPair(step<kWide, kAutoblackOff>(toHalf(out0), older0, i));
        const Half older1 = withSecondTap(nextOlder);
        y1 = toPair(step<kWide, kAutoblackOff>(toHalf(out1), older1, i + 1));
    }

    bool autoblackOn() const { return autoblackOn_; }

    // After the run's `count` frames: its last 12 errors become the ones before the next.
    [[gnu::always_inline]] void endRun(int count) {
        for (int j = 0; j < 2 * kShaperTaps; j += 2) {
            const Half error = load(errors_ + 2 * count + j);
            __builtin_memcpy(errors_ + j, &error, sizeof error);
        }
        position_ = (position_ + count) % kShaperTaps;
        nextFrame_ = -1;
    }

  private:
    friend class Requantizer;
    using Half = RequantizerHalf;
    using Quad = RequantizerQuad;

    // Taps 12 .. 2 of frame i, from the oldest error to the newest. Taps 12 .. 3 of
    // frames i and i + 1 run side by side (one unaligned load fetches a tap of both);
    // their tap 2 is added by withSecondTap, as each frame comes. `nextOlder` receives
    // frame i + 1's taps 12 .. 3.
    [[gnu::always_inline]] Half olderTaps(int i, Half& nextOlder) const {
        Quad sum = Quad{0.0, 0.0, 0.0, 0.0};
#pragma GCC unroll 10
        for (int k = kShaperTaps - 1; k >= 2; --k) {
            Quad coefficient, error;
            __builtin_memcpy(&coefficient, coefficients_ + 4 * k, sizeof coefficient);
            __builtin_memcpy(&error, errors_ + 2 * (kShaperTaps - 1 + i - k), sizeof error);
            sum = sum + coefficient * error;
        }
        nextOlder = __builtin_shufflevector(sum, sum, 2, 3);
        return withSecondTap(__builtin_shufflevector(sum, sum, 0, 1));
    }

    // A frame's taps 12 .. 3 plus its tap 2: the error two frames before it, which a
    // register holds (previousError_), so a pair's second frame needs no load of the
    // error its first frame has just stored.
    [[gnu::always_inline]] Half withSecondTap(Half olderTaps) const {
        return olderTaps + load(coefficients_ + 4) * previousError_;
    }

    // Frame i from its older taps on: autoblack level, feedback, quantization, error.
    template <bool kWide, bool kAutoblackOff>
    [[gnu::always_inline]] Half step(Half out, Half older, int i) {
        if constexpr (kAutoblackOff) {
            level_ = 1.0;
        } else {
            const Half magnitude = abs(out);
            if (!autoblackOn_ || magnitude[0] > kSilenceThreshold ||
                magnitude[1] > kSilenceThreshold) {
                level_ = 1.0;
            } else {
                level_ = level_ - autoblackCoefficient_ * level_;
            }
            level_ = (level_ + 1e-30) - 1e-30;  // keeps the fade out of the denormal range
        }

        // The loop runs in units of the quantization step: the errors, the feedback and
        // the shaped sample are all kept multiplied by S. S is a power of two, so scaling
        // commutes exactly with every product, sum and rounding here, and every value is
        // bit for bit S times the unscaled one; but the chain from one frame's error to
        // the next loses a multiplication at each end.
        //
        // Feedback: the older taps, then the most recent error, which comes from a
        // register: each frame's error depends on the one before, and this way that chain
        // runs through one product and one sum of the feedback.
        const Half feedback = older + load(coefficients_) * lastError_;
        const Half shaped = out * scale_ + feedback;  // x S

        const Half dither = load(dither_ + 2 * i);
        const Half levels = truncate<kWide>(shaped + scale_ + dither) - scale_;  // q - S
        const Half quantized = levels * inverseScale_;

        previousError_ = lastError_;
        lastError_ = levels - shaped;  // e S
        __builtin_memcpy(errors_ + 2 * (kShaperTaps + i), &lastError_, sizeof lastError_);

        // 0.5 (|y + 1| - |y - 1|): exact for quantized samples (multiples of 2^-23 at
        // most), and it rounds a faded sample below 2^-53 to exact zero, which is what
        // autoblack is for. Unquantized samples take a plain min/max instead
        // (Requantizer::frame), which keeps every bit. With autoblack off the level is
        // exactly 1, and so is the product; y is then the quantized sample itself, on
        // which the formula is the plain clip: inside full scale y + 1 and y - 1 are exact
        // and the result is 2y / 2, outside it is 2 / 2 with y's sign, and y is never -0
        // (the levels are a difference of two integers, +0 where they are equal). So it
        // takes the min/max there, two operations instead of six.
        if constexpr (kAutoblackOff) {
            const Half below = quantized < 1.0 ? quantized : Half{1.0, 1.0};
            return below > -1.0 ? below : Half{-1.0, -1.0};
        } else {
            const Half y = quantized * level_;
            return 0.5 * (abs(y + 1.0) - abs(y - 1.0));
        }
    }

    RequantizerFrames() = default;

    static Half load(const double* p) {
        Half v;
        __builtin_memcpy(&v, p, sizeof v);
        return v;
    }
    static Half abs(Half x) {
        using Bits = std::uint64_t __attribute__((vector_size(16)));
        return reinterpret_cast<Half>(reinterpret_cast<Bits>(x) & ~(std::uint64_t{1} << 63));
    }
#if TQ_HAVE_SSE2
    static Half toHalf(DoublePair v) { return v.v; }
    static DoublePair toPair(Half v) { return DoublePair(v); }
#else
    static Half toHalf(DoublePair v) { return Half{v.left(), v.right()}; }
    static DoublePair toPair(Half v) { return DoublePair(v[0], v[1]); }
#endif

    // NoiseGenerator::nextUniform of four words at once; the words become doubles through
    // the signed conversion and an exact addition of 2^31. (Four-lane values go by
    // reference: as arguments or results they would take another calling convention in
    // the baseline.)
    [[gnu::always_inline]] static void uniforms(Quad& u, const std::uint32_t* p) {
        using Words = std::uint32_t __attribute__((vector_size(16)));
        using Signed = std::int32_t __attribute__((vector_size(16)));
        Words w;
        __builtin_memcpy(&w, p, sizeof w);
        const Signed shifted = reinterpret_cast<Signed>(w ^ 0x80000000u);
        const Quad words = __builtin_convertvector(shifted, Quad) + 2147483648.0;
        u = 2.0 * words * NoiseGenerator::kWordScale - 1.0;
    }

    // std::trunc of both lanes. Code built for AVX2 rounds toward zero in one instruction
    // (an asm statement, as this header is also built for the baseline). Otherwise, below
    // 2^31 in magnitude the 32-bit conversion truncates exactly (it can turn -0 into +0,
    // which the following subtraction of the scale makes irrelevant), and anything larger
    // takes std::trunc, so no sample is too far out.
    template <bool kWide>
    [[gnu::always_inline]] static Half truncate(Half x) {
#if defined(__x86_64__) && defined(__GNUC__)
        if constexpr (kWide) {
            Half t;
            asm("vroundpd $11, %1, %0" : "=x"(t) : "x"(x));
            return t;
        }
#endif
        const Half m = abs(x);
        if (m[0] < 2147483647.0 && m[1] < 2147483647.0) [[likely]] {
            using Integers = std::int32_t __attribute__((vector_size(8)));
            return __builtin_convertvector(__builtin_convertvector(x, Integers), Half);
        }
        return Half{std::trunc(x[0]), std::trunc(x[1])};
    }

    const double* coefficients_ = nullptr;  // 12 taps, each coefficient four times
    double* errors_ = nullptr;              // (left, right) pairs times S: 12, then the run
    double* dither_ = nullptr;              // the run's dither pairs, as prepareDither says
    int position_ = 0;
    int nextFrame_ = -1;  // the frame whose older taps are in nextOlder_
    Half nextOlder_ = Half{0.0, 0.0};
    Half lastError_ = Half{0.0, 0.0};      // times S
    Half previousError_ = Half{0.0, 0.0};  // the error before lastError_, times S
    Half scale_ = Half{0.0, 0.0};
    Half inverseScale_ = Half{0.0, 0.0};
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
        alignas(16) std::array<std::uint32_t, 16> words{};
        for (std::size_t j = 0; j < 4; ++j) words[4 * j] = generator.nextWord();
        RequantizerFrames block = frames();
        block.prepareDither(words.data(), 1);
        const DoublePair y = block.frame<false>(DoublePair(outL, outR), 0);
        block.endRun(1);
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
    static constexpr int kRun = RequantizerFrames::kRun;

    // Position 0, the errors turned into the order the ring gives from there.
    void restartPosition();

    // Both channels' errors as (left, right) pairs, oldest first: the 12 before a run
    // (the newest at 11), then room for the run's own. They are kept multiplied by the
    // scale S (RequantizerFrames::frame); a change of word length rescales them, exactly,
    // as S is a power of two. position_ is where the newest of them would sit in a
    // 12-entry ring read backwards; it only matters when it restarts at 0, which turns
    // the ring's reading order.
    using Errors = std::array<double, 2 * (kShaperTaps + kRun)>;

    alignas(16) std::array<CoefficientSet, kNoiseShapeSetCount> sets_{};
    alignas(32) Errors errors_{};
    alignas(32) std::array<double, 2 * kRun> dither_{};
    // The selected set, each coefficient four times.
    alignas(32) std::array<double, 4 * kShaperTaps> quadCoefficients_{};
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
