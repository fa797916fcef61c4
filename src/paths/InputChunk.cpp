#include "paths/InputChunk.h"

#include "dsp/DoublePair.h"
#include "paths/WideBuild.h"

#if TQ_HAVE_SSE2
#include <immintrin.h>
#endif

namespace tq {
namespace {

#if TQ_HAVE_SSE2

// sanitizeInput of both lanes: x where kSmallestInput <= |x| <= kLargestInput,
// kLargestInput with x's sign where kLargestInput < |x| <= DBL_MAX, else +0 (every
// comparison with NaN fails).
inline __m128d sanitize(__m128d x) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d magnitude = _mm_andnot_pd(sign, x);
    const __m128d keep = _mm_and_pd(_mm_cmpge_pd(magnitude, _mm_set1_pd(kSmallestInput)),
                                    _mm_cmple_pd(magnitude, _mm_set1_pd(kLargestInput)));
    const __m128d limit = _mm_and_pd(_mm_cmpgt_pd(magnitude, _mm_set1_pd(kLargestInput)),
                                     _mm_cmple_pd(magnitude, _mm_set1_pd(DBL_MAX)));
    const __m128d limited = _mm_or_pd(_mm_and_pd(x, sign), _mm_set1_pd(kLargestInput));
    return _mm_or_pd(_mm_and_pd(keep, x), _mm_and_pd(limit, limited));
}

// Two consecutive samples as doubles (the conversion from float is exact).
inline __m128d loadTwo(const float* p) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
inline __m128d loadTwo(const double* p) { return _mm_loadu_pd(p); }
inline __m128d loadOne(const float* p) { return _mm_set_sd(static_cast<double>(*p)); }
inline __m128d loadOne(const double* p) { return _mm_load_sd(p); }

template <typename Sample>
[[gnu::always_inline]] inline void pairsFrom(const Sample* left, const Sample* right, int first,
                                             int frames, double* pairs) {
    int i = first;
    for (; i + 2 <= frames; i += 2) {
        const __m128d l = sanitize(loadTwo(left + i));
        const __m128d r = sanitize(loadTwo(right + i));
        _mm_store_pd(pairs + 2 * i, _mm_unpacklo_pd(l, r));
        _mm_store_pd(pairs + 2 * i + 2, _mm_unpackhi_pd(l, r));
    }
    if (i < frames) {
        _mm_store_pd(pairs + 2 * i,
                     _mm_unpacklo_pd(sanitize(loadOne(left + i)), sanitize(loadOne(right + i))));
    }
}

#if TQ_WIDE_BUILD
[[gnu::target("avx2")]] inline __m256d sanitizeWide(__m256d x) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d magnitude = _mm256_andnot_pd(sign, x);
    const __m256d keep =
        _mm256_and_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(kSmallestInput), _CMP_GE_OQ),
                      _mm256_cmp_pd(magnitude, _mm256_set1_pd(kLargestInput), _CMP_LE_OQ));
    const __m256d limit =
        _mm256_and_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(kLargestInput), _CMP_GT_OQ),
                      _mm256_cmp_pd(magnitude, _mm256_set1_pd(DBL_MAX), _CMP_LE_OQ));
    const __m256d limited = _mm256_or_pd(_mm256_and_pd(x, sign), _mm256_set1_pd(kLargestInput));
    return _mm256_or_pd(_mm256_and_pd(keep, x), _mm256_and_pd(limit, limited));
}

[[gnu::target("avx2")]] inline __m256d loadFour(const float* p) {
    return _mm256_cvtps_pd(_mm_loadu_ps(p));
}
[[gnu::target("avx2")]] inline __m256d loadFour(const double* p) { return _mm256_loadu_pd(p); }

template <typename Sample>
[[gnu::target("avx2")]] void pairsFromWide(const Sample* left, const Sample* right, int frames,
                                           double* pairs) {
    int i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m256d l = sanitizeWide(loadFour(left + i));
        const __m256d r = sanitizeWide(loadFour(right + i));
        const __m256d low = _mm256_unpacklo_pd(l, r);    // frames i, i + 2
        const __m256d high = _mm256_unpackhi_pd(l, r);   // frames i + 1, i + 3
        _mm256_storeu_pd(pairs + 2 * i, _mm256_permute2f128_pd(low, high, 0x20));
        _mm256_storeu_pd(pairs + 2 * i + 4, _mm256_permute2f128_pd(low, high, 0x31));
    }
    pairsFrom(left, right, i, frames, pairs);
    _mm256_zeroupper();
}
#endif

#else

template <typename Sample>
void pairsFrom(const Sample* left, const Sample* right, int first, int frames, double* pairs) {
    for (int i = first; i < frames; ++i) {
        pairs[2 * i] = sanitizeInput(static_cast<double>(left[i]));
        pairs[2 * i + 1] = sanitizeInput(static_cast<double>(right[i]));
    }
}

#endif

}  // namespace

void sanitizedPairs(const float* left, const float* right, int frames, double* pairs) {
    pairsFrom(left, right, 0, frames, pairs);
}
void sanitizedPairs(const double* left, const double* right, int frames, double* pairs) {
    pairsFrom(left, right, 0, frames, pairs);
}

#if TQ_WIDE_BUILD
void sanitizedPairsWide(const float* left, const float* right, int frames, double* pairs) {
    pairsFromWide(left, right, frames, pairs);
}
void sanitizedPairsWide(const double* left, const double* right, int frames, double* pairs) {
    pairsFromWide(left, right, frames, pairs);
}
#else
void sanitizedPairsWide(const float* left, const float* right, int frames, double* pairs) {
    sanitizedPairs(left, right, frames, pairs);
}
void sanitizedPairsWide(const double* left, const double* right, int frames, double* pairs) {
    sanitizedPairs(left, right, frames, pairs);
}
#endif

}  // namespace tq
