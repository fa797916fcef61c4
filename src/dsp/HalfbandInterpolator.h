// Fixed half-band estimator of the signal halfway between two host samples.
//
// A 64-tap symmetric pair-sum filter: after each pushed frame it gives, per channel,
// the value halfway between the samples 31 and 32 frames old (the mid value) and the
// sample 31 frames old (the centre sample). Its delay is therefore 31 frames, which
// the engine's alignment delay matches.
//
// Each channel keeps its 64-sample history twice over (a 128-entry ring written at i
// and i + 64), so the newest 64 samples always lie contiguously and the filter loop
// needs no index wrapping. The history is allocated with the object; reset() clears
// it (clear() keeps the write index); nothing allocates afterwards. This one-frame form
// is the reference for the run kernels the engine and the meters use
// (HalfbandKernels.h).
#pragma once

#include <array>

#include "dsp/EngineSettings.h"

namespace tq {

class HalfbandCoefficients {
  public:
    static constexpr int kCount = 32;
    // c[0] weights the outermost pair (newest and oldest sample), c[31] the innermost.
    static const std::array<double, kCount>& table();
};
static_assert(kAlignmentDelay == HalfbandCoefficients::kCount - 1,
              "the alignment delay is the centre of the 2 * kCount taps");

struct HalfbandEstimate {
    double midLeft = 0.0;
    double midRight = 0.0;
    double centreLeft = 0.0;
    double centreRight = 0.0;
};

// Scalar flavour: separate left and right histories.
class HalfbandInterpolator {
  public:
    static constexpr int kHistory = 64;
    static constexpr int kCentreDelay = kAlignmentDelay;

    HalfbandInterpolator();
    // Zeroes the history and the write index.
    void reset();
    // Zeroes the history only (the buffer clear keeps positions).
    void clear();

    void push(double left, double right) {
        left_[write_] = left;
        left_[write_ + kHistory] = left;
        right_[write_] = right;
        right_[write_ + kHistory] = right;
        write_ = (write_ + 1) & (kHistory - 1);
    }

    // Mid values and centre samples for the most recently pushed frame.
    HalfbandEstimate estimate() const {
        HalfbandEstimate e;
        e.midLeft = midValue(&left_[write_]);
        e.midRight = midValue(&right_[write_]);
        e.centreLeft = left_[write_ + kHistory - 1 - kCentreDelay];
        e.centreRight = right_[write_ + kHistory - 1 - kCentreDelay];
        return e;
    }

  private:
    // `oldest` points at the oldest of the 64 contiguous history samples.
    double midValue(const double* oldest) const {
        double sum = 0.0;
        for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
            sum += (oldest[kHistory - 1 - k] + oldest[k]) * c_[k];
        }
        return sum;
    }

    std::array<double, HalfbandCoefficients::kCount> c_;
    std::array<double, 2 * kHistory> left_{};
    std::array<double, 2 * kHistory> right_{};
    int write_ = 0;
};

}  // namespace tq
