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

#include "dsp/EngineSettings.h"
#include "dsp/NoiseGenerator.h"

namespace tq {

class Requantizer {
  public:
    static constexpr int kTaps = 12;
    using CoefficientSet = std::array<double, kTaps>;

    // Below this magnitude on both channels the programme counts as silent.
    static constexpr double kSilenceThreshold = 1e-8;
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
        double level = autoblackLevel_;
        if (!autoblackOn_ || std::fabs(outL) > kSilenceThreshold ||
            std::fabs(outR) > kSilenceThreshold) {
            level = 1.0;
        } else {
            level = level - autoblackCoefficient_ * level;
        }
        level = (level + 1e-30) - 1e-30;  // keeps the fade out of the denormal range
        autoblackLevel_ = level;

        const int readEnd = position_ + kTaps;  // most recent error, doubled copy
        const double shapedL = outL + feedback(historyL_.data(), readEnd);
        const double shapedR = outR + feedback(historyR_.data(), readEnd);

        int position = position_ + 1;
        if (position == kTaps) position = 0;
        position_ = position;

        const double quantizedL = quantize(shapedL, generator);
        const double quantizedR = quantize(shapedR, generator);
        store(historyL_.data(), position, quantizedL - shapedL);
        store(historyR_.data(), position, quantizedR - shapedR);

        yL = clipToFullScale(quantizedL * level);
        yR = clipToFullScale(quantizedR * level);
    }

    // Inspection for tests and the effect.
    const CoefficientSet& coefficientSet(int index) const;
    int selectedSet() const { return selectedSet_; }
    int position() const { return position_; }
    double autoblackLevel() const { return autoblackLevel_; }
    double stepScale() const { return scale_; }

    // 0.5 (|x + 1| - |x - 1|): exact for quantized samples (multiples of 2^-23 at most),
    // and it rounds a faded sample below 2^-53 to exact zero, which is what autoblack is
    // for. Unquantized samples take a plain min/max instead, which keeps every bit.
    static double clipToFullScale(double x) {
        return 0.5 * (std::fabs(x + 1.0) - std::fabs(x - 1.0));
    }
    // Scale S = 2^(bits - 1) for the "Bits" step 0, 1, 2 (8, 16, 24 bits); other steps count as 16
    // bits.
    static double scaleForBitsStep(int step);

  private:
    // Each history holds 12 errors twice (entries j and j + 12 are equal), so the
    // 12 taps read one contiguous run backwards from the most recent error.
    using History = std::array<double, 2 * kTaps>;

    double feedback(const double* history, int readEnd) const {
        const double* c = coefficients_;
        double sum = 0.0;
        for (int k = 0; k < kTaps; ++k) sum += c[k] * history[readEnd - k];
        return sum;
    }

    static void store(double* history, int position, double error) {
        history[position] = error;
        history[position + kTaps] = error;
    }

    double quantize(double shaped, NoiseGenerator& generator) const {
        const double u1 = generator.nextUniform();
        const double u2 = generator.nextUniform();
        const double dither = 0.5 * (u1 + u2);
        // std::trunc keeps the truncation defined however far the sample lies outside full scale.
        const double steps = std::trunc(shaped * scale_ + scale_ + dither);
        return (steps - scale_) * inverseScale_;
    }

    alignas(16) std::array<CoefficientSet, kNoiseShapeSetCount> sets_{};
    alignas(16) History historyL_{};
    alignas(16) History historyR_{};
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
