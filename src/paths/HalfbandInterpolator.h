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
// it (clear() keeps the write index); nothing allocates afterwards.
#pragma once

#include <array>

#include "paths/DoublePair.h"

namespace tq {

class HalfbandCoefficients {
  public:
    static constexpr int kCount = 32;
    // c[0] weights the outermost pair (newest and oldest sample), c[31] the innermost.
    static const std::array<double, kCount>& table();
};

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
    static constexpr int kCentreDelay = 31;

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

struct PairedHalfbandEstimate {
    DoublePair mid;
    DoublePair centre;
};

// The history of a PairedHalfbandInterpolator as a hot loop holds it: the ring pointer
// and the write index live in registers. (Through the interpolator's members the index
// would be reloaded after every store of a pair, which the compiler must assume aliases
// it.) Take one with cursor(), use it for a block, hand it back with commit().
class PairedHalfbandCursor {
  public:
    static constexpr int kHistory = 64;
    static constexpr int kCentreDelay = 31;

    PairedHalfbandCursor(double* history, const double* coefficients, int write)
        : history_(history), c_(coefficients), write_(write) {}

    void push(DoublePair frame) {
        frame.store(history_ + 2 * write_);
        frame.store(history_ + 2 * (write_ + kHistory));
        write_ = (write_ + 1) & (kHistory - 1);
    }

    // The sample 31 frames older than the last one pushed.
    DoublePair centre() const {
        return DoublePair::load(history_ + 2 * (write_ + kHistory - 1 - kCentreDelay));
    }

    // The value halfway between the samples 31 and 32 frames old: the 32 pair sums
    // weighted from the outermost pair inwards, one running sum per lane.
    DoublePair mid() const {
        const double* oldest = history_ + 2 * write_;
        DoublePair sum = DoublePair::both(0.0);
#pragma GCC unroll 32
        for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
            const DoublePair pairSum = DoublePair::load(oldest + 2 * (kHistory - 1 - k)) +
                                       DoublePair::load(oldest + 2 * k);
            sum = sum + pairSum * DoublePair::load(c_ + 2 * k);
        }
        return sum;
    }

    int writeIndex() const { return write_; }

  private:
    double* history_;
    const double* c_;
    int write_;
};

// Paired-channel flavour: one history of (left, right) pairs, both lanes at once with
// the same arithmetic as the scalar flavour.
class PairedHalfbandInterpolator {
  public:
    static constexpr int kHistory = PairedHalfbandCursor::kHistory;
    static constexpr int kCentreDelay = PairedHalfbandCursor::kCentreDelay;

    PairedHalfbandInterpolator();
    void reset();
    void clear();

    void push(DoublePair frame) {
        PairedHalfbandCursor c = cursor();
        c.push(frame);
        commit(c);
    }

    PairedHalfbandEstimate estimate() const {
        // The cursor only reads here.
        const PairedHalfbandCursor c(const_cast<double*>(history_.data()), c_.data(), write_);
        return {c.mid(), c.centre()};
    }

    // [audio-thread] The history for a block of pushes; commit() stores the position back.
    PairedHalfbandCursor cursor() { return {history_.data(), c_.data(), write_}; }
    void commit(const PairedHalfbandCursor& c) { write_ = c.writeIndex(); }

  private:
    alignas(16) std::array<double, 2 * HalfbandCoefficients::kCount> c_;  // each value twice
    alignas(16) std::array<double, 4 * kHistory> history_{};
    int write_ = 0;
};

}  // namespace tq
