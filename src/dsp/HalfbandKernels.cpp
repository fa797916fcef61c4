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

// Where a kernel's mid values go: stored one by one, or only their largest magnitude
// per lane kept (what the output meters need of a run).
struct StoreMids {
    double* mids;
    void take(int f, DoublePair mid) const { mid.store(mids + 2 * f); }
};
struct KeepPeak {
    DoublePair peak = DoublePair::both(0.0);
    void take(int, DoublePair mid) { peak = max(peak, abs(mid)); }
};
// The window's centre: pair f + 32 of the history for frame f.
constexpr int kCentre = kTaps;
struct StoreDetector {
    const double* history;
    HalfbandDetectorLimits limits;
    double* detector;
    void take(int f, DoublePair mid) const {
        const DoublePair centre = DoublePair::load(history + 2 * (f + kCentre));
        const DoublePair larger = max(abs(mid), abs(centre)) * DoublePair::both(limits.margin);
        min(max(larger, DoublePair::both(limits.floor)), DoublePair::both(limits.largest))
            .store(detector + 2 * f);
    }
};

template <int Frames, typename Sink>
[[gnu::always_inline]] inline void baselineMids(const double* history, const double* c, int first,
                                                Sink& sink) {
    DoublePair sums[Frames];
    for (int f = 0; f < Frames; ++f) sums[f] = DoublePair::both(0.0);
#pragma GCC unroll 32
    for (int k = 0; k < kTaps; ++k) {
        const DoublePair coefficient = DoublePair::load(c + 2 * k);
#pragma GCC unroll 4
        for (int f = 0; f < Frames; ++f) {
            const DoublePair pairSum = DoublePair::load(history + 2 * (first + f + kNewest - k)) +
                                       DoublePair::load(history + 2 * (first + f + k));
            sums[f] = sums[f] + pairSum * coefficient;
        }
    }
    for (int f = 0; f < Frames; ++f) sink.take(first + f, sums[f]);
}

template <typename Sink>
void baselineRun(const double* history, const double* coefficients, int frames, Sink& sink) {
    int f = 0;
    for (; f + kBaselineWidth <= frames; f += kBaselineWidth) {
        baselineMids<kBaselineWidth>(history, coefficients, f, sink);
    }
    for (; f < frames; ++f) baselineMids<1>(history, coefficients, f, sink);
}

// The run's last 63 pairs to the front of the history.
void moveTail(double* history, int frames) {
    for (int j = 0; j < kNewest; ++j) {
        DoublePair::load(history + 2 * (frames + j)).store(history + 2 * j);
    }
}

#if TQ_HAVE_SSE2
// Two frames per register: lanes (left, right) of frame f, then of frame f + 1. Frames
// f and f + 1 read neighbouring pairs, so one unaligned load fetches both; and as frame
// f + 2 at tap k - 2 reads what frame f reads at tap k, most loads serve two registers.
// The asm statement keeps the coefficients' address in one register: otherwise the
// compiler hoists the 32 coefficient addresses out of the loop and, short of registers
// for them, reloads them from the stack. (Broadcasts stay: a table of coefficients four
// times over, read as operands of the products, makes the compiler spill far more.)
// Peaks: the largest mid magnitude per lane instead of the mids themselves; detector:
// the detector values (StoreDetector).
enum class AvxOut { kMids, kPeak, kDetector };
template <AvxOut kOut>
[[gnu::target("avx")]] void avxRun(const double* history, const double* coefficients, int frames,
                                   const HalfbandDetectorLimits* limits, double* out) {
    constexpr bool kPeak = kOut == AvxOut::kPeak;
    constexpr int kRegisters = 4;  // eight frames, four independent chains of additions
    const __m256d signBits = _mm256_set1_pd(-0.0);
    __m256d peaks = _mm256_setzero_pd();
    int f = 0;
    for (; f + 2 * kRegisters <= frames; f += 2 * kRegisters) {
        const double* base = history + 2 * f;
        const double* c = coefficients;
        asm("" : "+r"(c));
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
        for (int r = 0; r < kRegisters; ++r) {
            if constexpr (kPeak) {
                peaks = _mm256_max_pd(peaks, _mm256_andnot_pd(signBits, sums[r]));
            } else if constexpr (kOut == AvxOut::kDetector) {
                const __m256d centre = _mm256_loadu_pd(base + 2 * (kCentre + 2 * r));
                const __m256d larger =
                    _mm256_mul_pd(_mm256_max_pd(_mm256_andnot_pd(signBits, sums[r]),
                                                _mm256_andnot_pd(signBits, centre)),
                                  _mm256_broadcast_sd(&limits->margin));
                _mm256_storeu_pd(
                    out + 2 * f + 4 * r,
                    _mm256_min_pd(_mm256_max_pd(larger, _mm256_broadcast_sd(&limits->floor)),
                                  _mm256_broadcast_sd(&limits->largest)));
            } else {
                _mm256_storeu_pd(out + 2 * f + 4 * r, sums[r]);
            }
        }
    }
    __m128d peak = _mm_max_pd(_mm256_castpd256_pd128(peaks), _mm256_extractf128_pd(peaks, 1));
    for (; f < frames; ++f) {
        const double* base = history + 2 * f;
        __m128d sum = _mm_setzero_pd();
#pragma GCC unroll 32
        for (int k = 0; k < kTaps; ++k) {
            const __m128d pair =
                _mm_add_pd(_mm_loadu_pd(base + 2 * (kNewest - k)), _mm_loadu_pd(base + 2 * k));
            sum = _mm_add_pd(sum, _mm_mul_pd(pair, _mm_load_pd(coefficients + 2 * k)));
        }
        if constexpr (kPeak) {
            peak = _mm_max_pd(peak, _mm_andnot_pd(_mm256_castpd256_pd128(signBits), sum));
        } else if constexpr (kOut == AvxOut::kDetector) {
            StoreDetector{history, *limits, out}.take(f, DoublePair(sum));
        } else {
            _mm_store_pd(out + 2 * f, sum);
        }
    }
    if constexpr (kPeak) _mm_store_pd(out, peak);
    // Upper register halves back to clean before SSE code runs again.
    _mm256_zeroupper();
}

// moveTail, four doubles at a time (the last pair alone).
[[gnu::target("avx")]] void avxMoveTail(double* history, int frames) {
    int j = 0;
    for (; j + 2 <= kNewest; j += 2) {
        _mm256_storeu_pd(history + 2 * j, _mm256_loadu_pd(history + 2 * (frames + j)));
    }
    _mm_storeu_pd(history + 2 * j, _mm_loadu_pd(history + 2 * (frames + j)));
    _mm256_zeroupper();
}

#endif

}  // namespace

void pairedHalfbandMidsBaseline(const double* history, const double* coefficients, int frames,
                                double* mids) {
    StoreMids sink{mids};
    baselineRun(history, coefficients, frames, sink);
}

void pairedHalfbandDetectorBaseline(const double* history, const double* coefficients, int frames,
                                    const HalfbandDetectorLimits& limits, double* detector) {
    StoreDetector sink{history, limits, detector};
    baselineRun(history, coefficients, frames, sink);
}

void pairedHalfbandPeakBaseline(double* history, const double* coefficients, int frames,
                                double* peak) {
    KeepPeak sink;
    baselineRun(history, coefficients, frames, sink);
    sink.peak.store(peak);
    moveTail(history, frames);
}

#if TQ_HAVE_SSE2
bool pairedHalfbandAvxAvailable() {
    __builtin_cpu_init();  // idempotent; needed when called from a constructor
    return __builtin_cpu_supports("avx");
}

void pairedHalfbandMidsAvx(const double* history, const double* coefficients, int frames,
                           double* mids) {
    avxRun<AvxOut::kMids>(history, coefficients, frames, nullptr, mids);
}

void pairedHalfbandDetectorAvx(const double* history, const double* coefficients, int frames,
                               const HalfbandDetectorLimits& limits, double* detector) {
    avxRun<AvxOut::kDetector>(history, coefficients, frames, &limits, detector);
}

void pairedHalfbandPeakAvx(double* history, const double* coefficients, int frames, double* peak) {
    avxRun<AvxOut::kPeak>(history, coefficients, frames, nullptr, peak);
    avxMoveTail(history, frames);
}
#else
bool pairedHalfbandAvxAvailable() { return false; }

void pairedHalfbandMidsAvx(const double* history, const double* coefficients, int frames,
                           double* mids) {
    pairedHalfbandMidsBaseline(history, coefficients, frames, mids);
}

void pairedHalfbandDetectorAvx(const double* history, const double* coefficients, int frames,
                               const HalfbandDetectorLimits& limits, double* detector) {
    pairedHalfbandDetectorBaseline(history, coefficients, frames, limits, detector);
}

void pairedHalfbandPeakAvx(double* history, const double* coefficients, int frames, double* peak) {
    pairedHalfbandPeakBaseline(history, coefficients, frames, peak);
}
#endif

PairedHalfbandDetectorKernel pairedHalfbandDetectorKernel() {
    return pairedHalfbandAvxAvailable() ? &pairedHalfbandDetectorAvx
                                        : &pairedHalfbandDetectorBaseline;
}

PairedHalfbandPeakKernel pairedHalfbandPeakKernel() {
    return pairedHalfbandAvxAvailable() ? &pairedHalfbandPeakAvx : &pairedHalfbandPeakBaseline;
}

}  // namespace tq
