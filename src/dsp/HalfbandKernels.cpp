#include "dsp/HalfbandKernels.h"

#include "dsp/DoublePair.h"
#include "dsp/HalfbandInterpolator.h"

#if TQ_HAVE_SSE2
#include <immintrin.h>
#endif

namespace tq {

namespace {

constexpr int kTaps = HalfbandCoefficients::kCount;
constexpr int kNewest = 2 * kTaps - 1;

// Frames side by side in the baseline kernel.
constexpr int kBaselineWidth = 4;

template <int Frames>
[[gnu::always_inline]] inline void baselineMids(const double* history, const double* c,
                                                double* mids) {
    DoublePair sums[Frames];
    for (int f = 0; f < Frames; ++f) sums[f] = DoublePair::both(0.0);
#pragma GCC unroll 32
    for (int k = 0; k < kTaps; ++k) {
        const DoublePair coefficient = DoublePair::load(c + 2 * k);
#pragma GCC unroll 4
        for (int f = 0; f < Frames; ++f) {
            const DoublePair pairSum = DoublePair::load(history + 2 * (f + kNewest - k)) +
                                       DoublePair::load(history + 2 * (f + k));
            sums[f] = sums[f] + pairSum * coefficient;
        }
    }
    for (int f = 0; f < Frames; ++f) sums[f].store(mids + 2 * f);
}

#if TQ_HAVE_SSE2
// Two frames per register: lanes (left, right) of frame f, then of frame f + 1. Frames
// f and f + 1 read neighbouring pairs, so one unaligned load fetches both.
[[gnu::target("avx")]] void avxMids(const double* history, const double* c, int frames,
                                    double* mids) {
    constexpr int kRegisters = 4;  // eight frames, four independent chains of additions
    int f = 0;
    for (; f + 2 * kRegisters <= frames; f += 2 * kRegisters) {
        const double* base = history + 2 * f;
        __m256d sums[kRegisters];
        for (int r = 0; r < kRegisters; ++r) sums[r] = _mm256_setzero_pd();
#pragma GCC unroll 32
        for (int k = 0; k < kTaps; ++k) {
            const __m256d coefficient = _mm256_broadcast_sd(c + 2 * k);
#pragma GCC unroll 4
            for (int r = 0; r < kRegisters; ++r) {
                const __m256d pairSum =
                    _mm256_add_pd(_mm256_loadu_pd(base + 2 * (kNewest - k + 2 * r)),
                                  _mm256_loadu_pd(base + 2 * (k + 2 * r)));
                sums[r] = _mm256_add_pd(sums[r], _mm256_mul_pd(pairSum, coefficient));
            }
        }
        for (int r = 0; r < kRegisters; ++r) _mm256_storeu_pd(mids + 2 * f + 4 * r, sums[r]);
    }
    for (; f < frames; ++f) {
        const double* base = history + 2 * f;
        __m128d sum = _mm_setzero_pd();
#pragma GCC unroll 32
        for (int k = 0; k < kTaps; ++k) {
            const __m128d pair =
                _mm_add_pd(_mm_loadu_pd(base + 2 * (kNewest - k)), _mm_loadu_pd(base + 2 * k));
            sum = _mm_add_pd(sum, _mm_mul_pd(pair, _mm_load_pd(c + 2 * k)));
        }
        _mm_store_pd(mids + 2 * f, sum);
    }
    // Upper register halves back to clean before SSE code runs again.
    _mm256_zeroupper();
}

#endif

}  // namespace

void pairedHalfbandMidsBaseline(const double* history, const double* coefficients, int frames,
                                double* mids) {
    int f = 0;
    for (; f + kBaselineWidth <= frames; f += kBaselineWidth) {
        baselineMids<kBaselineWidth>(history + 2 * f, coefficients, mids + 2 * f);
    }
    for (; f < frames; ++f) baselineMids<1>(history + 2 * f, coefficients, mids + 2 * f);
}

#if TQ_HAVE_SSE2
bool pairedHalfbandAvxAvailable() {
    __builtin_cpu_init();  // idempotent; needed when called from a constructor
    return __builtin_cpu_supports("avx");
}

void pairedHalfbandMidsAvx(const double* history, const double* coefficients, int frames,
                           double* mids) {
    avxMids(history, coefficients, frames, mids);
}
#else
bool pairedHalfbandAvxAvailable() { return false; }

void pairedHalfbandMidsAvx(const double* history, const double* coefficients, int frames,
                           double* mids) {
    pairedHalfbandMidsBaseline(history, coefficients, frames, mids);
}
#endif

PairedHalfbandKernel pairedHalfbandKernel() {
    return pairedHalfbandAvxAvailable() ? &pairedHalfbandMidsAvx : &pairedHalfbandMidsBaseline;
}

}  // namespace tq
