// The gain-smoothing kernel: one lobe of sin(x)/x with N taps and unit sum, prepared as
// the scaled spectrum of a 2N-point real transform for the block convolver.
//
// Both layouts are available: the scalar flavour's spectrum is M = 2N doubles, the
// paired flavour's M (left, right) pairs with both lanes equal. The buffers are
// allocated once for N = 256; build() never allocates.
#pragma once

#include "dsp/AlignedBuffer.h"
#include "dsp/EngineSettings.h"

namespace tq {

class SmoothingKernel {
  public:
    static constexpr int kMaxLength = kMaxSmoothingLength;
    static constexpr int kMinLength = 4;

    SmoothingKernel();

    // [lock held] Builds the taps and the spectrum for `length` taps (4 .. 256, a power of
    // two) in the given layout. Returns false, leaving the kernel as it was, for any
    // length the transform table does not cover.
    bool build(int length, Flavour flavour);

    int length() const { return length_; }
    Flavour flavour() const { return flavour_; }
    // The N unit-sum taps h[0 .. N-1].
    const double* taps() const { return taps_.data(); }
    // The prepared spectrum: 2N doubles (scalar) or 2N pairs (paired).
    const double* spectrum() const { return spectrum_.data(); }

    // Fills `taps` with the N unit-sum taps (accumulated abscissa from -pi to +pi).
    static void computeTaps(int length, double* taps);

  private:
    AlignedBuffer taps_;
    AlignedBuffer spectrum_;
    int length_ = 0;
    Flavour flavour_ = Flavour::Scalar;
};

}  // namespace tq
