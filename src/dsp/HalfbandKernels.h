// The half-band mid values of a run of consecutive frames, both channels at once.
//
// The history is a straight run of (left, right) pairs: frame f's 64-sample window is
// pairs f .. f + 63, oldest first, so its mid value is
//   sum over k = 0 .. 31 of (x[f + 63 - k] + x[f + k]) * c[k],
// added up from the outermost pair inwards into one running sum per lane, exactly as
// the single-frame filter does. Several frames run side by side: a frame's 32-term sum
// is a long chain of additions, and the processor's adders are the limit, so the wider
// kernel (two frames per AVX register where the processor has AVX) does the same
// additions in half the instructions. Every kernel gives the same bits.
#pragma once

namespace tq {

// `history`: 2 * (frames + 63) doubles; `coefficients`: the 32 coefficients each
// twice (64 doubles, 16-byte aligned); `mids`: 2 * frames doubles, 16-byte aligned.
using PairedHalfbandKernel = void (*)(const double* history, const double* coefficients, int frames,
                                      double* mids);

// The same filter for the output meters, which need only the largest magnitude of a run's
// mid values: `peak` (2 doubles, 16-byte aligned) receives it per lane, and the run's last
// 63 pairs then move to the front of `history`, as the history before the next run.
using PairedHalfbandPeakKernel = void (*)(double* history, const double* coefficients, int frames,
                                          double* peak);

// The same filter as the limiter's oversampled detector takes it: per frame f and lane
//   min(max(max(|mid|, |x[f + 32]|) * margin, floor), largest),
// the larger magnitude of the mid value and of the sample at the window's centre, with a
// margin, clamped. (That is the magnitude of whichever of the two is larger, times the
// margin: the same bits, as a product's magnitude does not depend on the sign.)
// `detector`: 2 * frames doubles, 16-byte aligned.
struct HalfbandDetectorLimits {
    double margin;
    double floor;
    double largest;
};
using PairedHalfbandDetectorKernel = void (*)(const double* history, const double* coefficients,
                                              int frames, const HalfbandDetectorLimits& limits,
                                              double* detector);

// The kernels for this processor: AVX where the processor and the system support it,
// else SSE2 (or plain code off x86).
PairedHalfbandDetectorKernel pairedHalfbandDetectorKernel();
PairedHalfbandPeakKernel pairedHalfbandPeakKernel();

// The kernels by name, so tests can compare them (the mid values themselves only there).
void pairedHalfbandMidsBaseline(const double* history, const double* coefficients, int frames,
                                double* mids);
void pairedHalfbandDetectorBaseline(const double* history, const double* coefficients, int frames,
                                    const HalfbandDetectorLimits& limits, double* detector);
void pairedHalfbandPeakBaseline(double* history, const double* coefficients, int frames,
                                double* peak);
bool pairedHalfbandAvxAvailable();
// Only where pairedHalfbandAvxAvailable().
void pairedHalfbandMidsAvx(const double* history, const double* coefficients, int frames,
                           double* mids);
void pairedHalfbandDetectorAvx(const double* history, const double* coefficients, int frames,
                               const HalfbandDetectorLimits& limits, double* detector);
void pairedHalfbandPeakAvx(double* history, const double* coefficients, int frames, double* peak);

}  // namespace tq
