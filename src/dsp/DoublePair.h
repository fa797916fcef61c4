// A (left, right) pair of doubles processed as one two-lane value.
//
// On x86-64 the pair is an SSE2 register; elsewhere a plain struct with the same
// operations (the scalar twin), so the paired-channel code compiles everywhere and
// tests can compare the two lane by lane.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TQ_HAVE_SSE2 1
#else
#define TQ_HAVE_SSE2 0
#endif

namespace tq {

#if TQ_HAVE_SSE2
struct DoublePair {
    __m128d v;

    DoublePair() : v(_mm_setzero_pd()) {}
    explicit DoublePair(__m128d value) : v(value) {}
    DoublePair(double left, double right) : v(_mm_set_pd(right, left)) {}
    static DoublePair both(double value) { return DoublePair(_mm_set1_pd(value)); }
    // `p` must be 16-byte aligned.
    static DoublePair load(const double* p) { return DoublePair(_mm_load_pd(p)); }
    void store(double* p) const { _mm_store_pd(p, v); }

    double left() const { return _mm_cvtsd_f64(v); }
    double right() const { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
    // both(right()) in one step (the compiler does not see that a broadcast of a lane
    // it has just extracted needs nothing more).
    DoublePair rightInBoth() const { return DoublePair(_mm_unpackhi_pd(v, v)); }

    friend DoublePair operator+(DoublePair a, DoublePair b) {
        return DoublePair(_mm_add_pd(a.v, b.v));
    }
    friend DoublePair operator-(DoublePair a, DoublePair b) {
        return DoublePair(_mm_sub_pd(a.v, b.v));
    }
    friend DoublePair operator*(DoublePair a, DoublePair b) {
        return DoublePair(_mm_mul_pd(a.v, b.v));
    }
    friend DoublePair operator/(DoublePair a, DoublePair b) {
        return DoublePair(_mm_div_pd(a.v, b.v));
    }
    friend DoublePair max(DoublePair a, DoublePair b) { return DoublePair(_mm_max_pd(a.v, b.v)); }
    friend DoublePair min(DoublePair a, DoublePair b) { return DoublePair(_mm_min_pd(a.v, b.v)); }
    friend DoublePair abs(DoublePair a) {
        // x & ~sign rather than ~sign & x: the mask is then the operand that may come
        // straight from memory, so a loop short of registers needs no load for it.
        const __m128d magnitudeBits = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
        return DoublePair(_mm_and_pd(a.v, magnitudeBits));
    }
    // Lane-wise a >= b ? x : y. The selection is y ^ (mask & (x ^ y)), bit for bit x or y:
    // one operation and one register copy fewer than (mask & x) | (~mask & y), as the
    // mask is used once.
    friend DoublePair selectGreaterEqual(DoublePair a, DoublePair b, DoublePair x, DoublePair y) {
        const __m128d mask = _mm_cmpge_pd(a.v, b.v);
        return DoublePair(_mm_xor_pd(y.v, _mm_and_pd(mask, _mm_xor_pd(x.v, y.v))));
    }
    // Lane-wise a > b ? x : y.
    friend DoublePair selectGreater(DoublePair a, DoublePair b, DoublePair x, DoublePair y) {
        const __m128d mask = _mm_cmpgt_pd(a.v, b.v);
        return DoublePair(_mm_xor_pd(y.v, _mm_and_pd(mask, _mm_xor_pd(x.v, y.v))));
    }
};
#else
struct DoublePair {
    double l = 0.0;
    double r = 0.0;

    DoublePair() = default;
    DoublePair(double left, double right) : l(left), r(right) {}
    static DoublePair both(double value) { return {value, value}; }
    static DoublePair load(const double* p) { return {p[0], p[1]}; }
    void store(double* p) const {
        p[0] = l;
        p[1] = r;
    }
    double left() const { return l; }
    double right() const { return r; }
    DoublePair rightInBoth() const { return {r, r}; }

    friend DoublePair operator+(DoublePair a, DoublePair b) { return {a.l + b.l, a.r + b.r}; }
    friend DoublePair operator-(DoublePair a, DoublePair b) { return {a.l - b.l, a.r - b.r}; }
    friend DoublePair operator*(DoublePair a, DoublePair b) { return {a.l * b.l, a.r * b.r}; }
    friend DoublePair operator/(DoublePair a, DoublePair b) { return {a.l / b.l, a.r / b.r}; }
    // Same lane rule as maxpd/minpd: the second operand when the comparison fails.
    friend DoublePair max(DoublePair a, DoublePair b) {
        return {a.l > b.l ? a.l : b.l, a.r > b.r ? a.r : b.r};
    }
    friend DoublePair min(DoublePair a, DoublePair b) {
        return {a.l < b.l ? a.l : b.l, a.r < b.r ? a.r : b.r};
    }
    friend DoublePair abs(DoublePair a) {
        return {a.l < 0.0 ? -a.l : (a.l == 0.0 ? 0.0 : a.l),
                a.r < 0.0 ? -a.r : (a.r == 0.0 ? 0.0 : a.r)};
    }
    friend DoublePair selectGreaterEqual(DoublePair a, DoublePair b, DoublePair x, DoublePair y) {
        return {a.l >= b.l ? x.l : y.l, a.r >= b.r ? x.r : y.r};
    }
    friend DoublePair selectGreater(DoublePair a, DoublePair b, DoublePair x, DoublePair y) {
        return {a.l > b.l ? x.l : y.l, a.r > b.r ? x.r : y.r};
    }
};
#endif

}  // namespace tq
