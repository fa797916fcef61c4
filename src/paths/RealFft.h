// Fixed-size, in-place, double-precision FFT of real data, used to convolve the gain
// envelope with the smoothing kernel block by block.
//
// The real transform of size M splits into a real transform of size M/2 (even bins) and a
// complex split-radix transform of size M/4 (odd bins), down to an unrolled 8-point base.
// Every size has its own straight-line entry points; the rotation factors are compile-time
// constants (paths/FftTwiddles.h). Nothing allocates, nothing is planned at run time.
//
// Time domain ("interleaved-halves order"): a real sequence x[0..M-1] is stored as M/2 slot
// pairs, pair k holding x[k] then x[k + M/2].
// Spectrum: pair 0 holds the real DC and Nyquist terms; every further pair is one complex bin
// (real, imaginary), one representative of a conjugate-symmetric pair, with the sign
// convention X[k] = sum x[n] e^(+2 pi i n k / M). The bins stay in the order the in-place
// passes leave them in; the product and the inverse read that same order, so nothing is
// ever reordered.
//
// Flavours: the scalar flavour works on M doubles (one channel); the paired flavour on M
// (left, right) pairs of doubles (L at even, R at odd index) and transforms both lanes with
// the same operations in the same order, so each lane is bit-identical to the scalar result.
#pragma once

namespace tq {

// Entry points of one transform size M. Buffers are 16-byte aligned, in place. [any thread]
// Scalar flavour: M doubles. Paired flavour: M (left, right) pairs = 2*M doubles, each
// value stored twice side by side (L at even, R at odd index), both lanes transformed at once.
struct RealFftSize {
    int size;                         // M
    void (*forward)(double* buffer);  // time (interleaved-halves order) -> spectrum
    void (*inverse)(double* buffer);  // spectrum -> time, no scaling; null for M = 8
    void (*multiplySpectrum)(double* buffer, const double* kernelSpectrum);
    void (*scaleKernelSpectrum)(double* spectrum);  // first two values * 1/M, others * 2/M
    // forward, multiplySpectrum, inverse in one call (the same operations in the same
    // order); small sizes run it as one straight-line body. Null for M = 8.
    void (*convolve)(double* buffer, const double* kernelSpectrum);
    // convolve built for AVX2 (WideBuild.h), the same bits; null where there is none. Only
    // where wideBuildAvailable().
    void (*convolveWide)(double* buffer, const double* kernelSpectrum);
    // One block of overlap-add convolution, the same operations as convolve: `input` holds
    // the block's M/2 values (doubles or pairs), which are zero-padded to M in
    // interleaved-halves order and convolved; then output[k] = result[k] + tail[k] and
    // tail[k] = result[k + M/2] for k < M/2. `work` is M values of scratch (small sizes
    // keep their own). The four buffers must not overlap. Null for M = 8.
    void (*overlapAdd)(const double* input, const double* kernelSpectrum, double* tail,
                       double* output, double* work);
    // overlapAdd built for AVX2, as convolveWide; the same bits. Where prepareWideKernel
    // is not null, it takes the kernel spectrum as that function lays it out (at most
    // kMaxWideKernelDoubles) instead of the spectrum itself.
    void (*overlapAddWide)(const double* input, const double* kernelSpectrum, double* tail,
                           double* output, double* work);
    void (*prepareWideKernel)(const double* kernelSpectrum, double* prepared);
};

inline constexpr int kMaxWideKernelDoubles = 128;

// Table lookup by kernel length N (M = 2N): N in {4, 8, 16, 32, 64, 128, 256}; null for any
// other N. Forward, scale, inverse is the identity; inverse(multiply(forward(x),
// scale(forward(h)))) is the circular convolution of x and h of length M.
const RealFftSize* scalarFftForKernel(int kernelLength);
const RealFftSize* pairedFftForKernel(int kernelLength);

}  // namespace tq
