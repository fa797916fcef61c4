#include "paths/RealFft.h"

#include "dsp/DoublePair.h"
#include "paths/FftTwiddles.h"
#include "paths/WideBuild.h"

#if TQ_WIDE_BUILD
#include <immintrin.h>
#endif

// The small helpers below must melt into the straight-line passes; a call per butterfly
// would cost more than the butterfly.
#define TQ_FFT_INLINE [[gnu::always_inline]] inline

namespace tq {
namespace {

// The arithmetic below is written once over a "lane set": one double per element (scalar
// flavour) or one DoublePair per element (paired flavour). Both run the same operations in
// the same order, which is what keeps the lanes bit-identical to the scalar transform.
struct ScalarLanes {
    using Value = double;
    static constexpr int kDoublesPerElement = 1;
    TQ_FFT_INLINE static Value load(const double* p, int element) { return p[element]; }
    TQ_FFT_INLINE static void store(double* p, int element, Value value) { p[element] = value; }
    TQ_FFT_INLINE static Value constant(double value) { return value; }
};

struct PairedLanes {
    using Value = DoublePair;
    static constexpr int kDoublesPerElement = 2;
    TQ_FFT_INLINE static Value load(const double* p, int element) {
        return DoublePair::load(p + 2 * element);
    }
    TQ_FFT_INLINE static void store(double* p, int element, Value value) {
        value.store(p + 2 * element);
    }
    TQ_FFT_INLINE static Value constant(double value) { return DoublePair::both(value); }
};

template <class Lanes>
TQ_FFT_INLINE double* elementAt(double* p, int element) {
    return p + element * Lanes::kDoublesPerElement;
}

template <class V>
struct Complex {
    V re;
    V im;
};

template <class V>
TQ_FFT_INLINE Complex<V> operator+(Complex<V> a, Complex<V> b) {
    return {a.re + b.re, a.im + b.im};
}

template <class V>
TQ_FFT_INLINE Complex<V> operator-(Complex<V> a, Complex<V> b) {
    return {a.re - b.re, a.im - b.im};
}

// u + i v and u - i v.
template <class V>
TQ_FFT_INLINE Complex<V> plusTimesI(Complex<V> u, Complex<V> v) {
    return {u.re - v.im, u.im + v.re};
}

template <class V>
TQ_FFT_INLINE Complex<V> minusTimesI(Complex<V> u, Complex<V> v) {
    return {u.re + v.im, u.im - v.re};
}

// -i (a - b), the transpose of the pair (u + i v, u - i v) with respect to v.
template <class V>
TQ_FFT_INLINE Complex<V> minusITimesDifference(Complex<V> a, Complex<V> b) {
    return {a.im - b.im, b.re - a.re};
}

// z * (c + i s) and z * (c - i s).
template <class V>
TQ_FFT_INLINE Complex<V> rotate(Complex<V> z, V c, V s) {
    return {z.re * c - z.im * s, z.re * s + z.im * c};
}

template <class V>
TQ_FFT_INLINE Complex<V> rotateBack(Complex<V> z, V c, V s) {
    return {z.re * c + z.im * s, z.im * c - z.re * s};
}

// z * sqrt(1/2) (1 + i) and z * sqrt(1/2) (1 - i): the eighth-turn rotations.
template <class V>
TQ_FFT_INLINE Complex<V> rotateEighth(Complex<V> z, V half) {
    return {(z.re - z.im) * half, (z.re + z.im) * half};
}

template <class V>
TQ_FFT_INLINE Complex<V> rotateEighthBack(Complex<V> z, V half) {
    return {(z.re + z.im) * half, (z.im - z.re) * half};
}

// Complex element j of a complex sequence sits at elements 2j (real) and 2j + 1 (imaginary).
template <class Lanes>
TQ_FFT_INLINE Complex<typename Lanes::Value> loadComplex(const double* z, int j) {
    return {Lanes::load(z, 2 * j), Lanes::load(z, 2 * j + 1)};
}

template <class Lanes>
TQ_FFT_INLINE void storeComplex(double* z, int j, Complex<typename Lanes::Value> value) {
    Lanes::store(z, 2 * j, value.re);
    Lanes::store(z, 2 * j + 1, value.im);
}

// Rotation factor W^k = e^(+2 pi i k / T) from the size-T table, 1 <= k < T/4.
template <class Lanes, int tableSize>
TQ_FFT_INLINE void loadTwiddle(int k, typename Lanes::Value& c, typename Lanes::Value& s) {
    const double* table = kFftTwiddles<tableSize, Lanes::kDoublesPerElement>.values;
    c = Lanes::load(table, 2 * (k - 1));
    s = Lanes::load(table, 2 * (k - 1) + 1);
}

// ---------------------------------------------------------------------------------------
// Complex transforms, decimation in frequency: natural-order input, output in the order the
// passes leave it. One pass of size L (conjugate-pair split radix), for k < L/4:
//   k        <- z[k] + z[k + L/2]
//   k + L/4  <- z[k + L/4] + z[k + 3L/4]
//   k + L/2  <- (u + i v) W^k,   u = z[k] - z[k + L/2], v = z[k + L/4] - z[k + 3L/4]
//   k + 3L/4 <- (u - i v) W^-k
// then a size-L/2 transform on the lower half and size-L/4 transforms on both upper quarters.
// The inverse is the exact transpose: sub-transforms first, then the transposed pass.

template <class Lanes, int L>
TQ_FFT_INLINE void passStep(double* z, int k, typename Lanes::Value c, typename Lanes::Value s) {
    const auto z0 = loadComplex<Lanes>(z, k);
    const auto z1 = loadComplex<Lanes>(z, k + L / 4);
    const auto z2 = loadComplex<Lanes>(z, k + L / 2);
    const auto z3 = loadComplex<Lanes>(z, k + 3 * L / 4);
    const auto u = z0 - z2;
    const auto v = z1 - z3;
    storeComplex<Lanes>(z, k, z0 + z2);
    storeComplex<Lanes>(z, k + L / 4, z1 + z3);
    storeComplex<Lanes>(z, k + L / 2, rotate(plusTimesI(u, v), c, s));
    storeComplex<Lanes>(z, k + 3 * L / 4, rotateBack(minusTimesI(u, v), c, s));
}

template <class Lanes, int L>
TQ_FFT_INLINE void passStepUnrotated(double* z) {
    const auto z0 = loadComplex<Lanes>(z, 0);
    const auto z1 = loadComplex<Lanes>(z, L / 4);
    const auto z2 = loadComplex<Lanes>(z, L / 2);
    const auto z3 = loadComplex<Lanes>(z, 3 * L / 4);
    const auto u = z0 - z2;
    const auto v = z1 - z3;
    storeComplex<Lanes>(z, 0, z0 + z2);
    storeComplex<Lanes>(z, L / 4, z1 + z3);
    storeComplex<Lanes>(z, L / 2, plusTimesI(u, v));
    storeComplex<Lanes>(z, 3 * L / 4, minusTimesI(u, v));
}

template <class Lanes, int L>
TQ_FFT_INLINE void passStepEighth(double* z, int k) {
    const auto half = Lanes::constant(kFftSqrtHalf);
    const auto z0 = loadComplex<Lanes>(z, k);
    const auto z1 = loadComplex<Lanes>(z, k + L / 4);
    const auto z2 = loadComplex<Lanes>(z, k + L / 2);
    const auto z3 = loadComplex<Lanes>(z, k + 3 * L / 4);
    const auto u = z0 - z2;
    const auto v = z1 - z3;
    storeComplex<Lanes>(z, k, z0 + z2);
    storeComplex<Lanes>(z, k + L / 4, z1 + z3);
    storeComplex<Lanes>(z, k + L / 2, rotateEighth(plusTimesI(u, v), half));
    storeComplex<Lanes>(z, k + 3 * L / 4, rotateEighthBack(minusTimesI(u, v), half));
}

template <class Lanes, int L>
TQ_FFT_INLINE void inversePassStep(double* z, int k, typename Lanes::Value c,
                                   typename Lanes::Value s) {
    const auto a = loadComplex<Lanes>(z, k);
    const auto b = loadComplex<Lanes>(z, k + L / 4);
    const auto p = rotateBack(loadComplex<Lanes>(z, k + L / 2), c, s);
    const auto q = rotate(loadComplex<Lanes>(z, k + 3 * L / 4), c, s);
    const auto u = p + q;
    const auto v = minusITimesDifference(p, q);
    storeComplex<Lanes>(z, k, a + u);
    storeComplex<Lanes>(z, k + L / 2, a - u);
    storeComplex<Lanes>(z, k + L / 4, b + v);
    storeComplex<Lanes>(z, k + 3 * L / 4, b - v);
}

template <class Lanes, int L>
TQ_FFT_INLINE void inversePassStepUnrotated(double* z) {
    const auto a = loadComplex<Lanes>(z, 0);
    const auto b = loadComplex<Lanes>(z, L / 4);
    const auto p = loadComplex<Lanes>(z, L / 2);
    const auto q = loadComplex<Lanes>(z, 3 * L / 4);
    const auto u = p + q;
    const auto v = minusITimesDifference(p, q);
    storeComplex<Lanes>(z, 0, a + u);
    storeComplex<Lanes>(z, L / 2, a - u);
    storeComplex<Lanes>(z, L / 4, b + v);
    storeComplex<Lanes>(z, 3 * L / 4, b - v);
}

template <class Lanes, int L>
TQ_FFT_INLINE void inversePassStepEighth(double* z, int k) {
    const auto half = Lanes::constant(kFftSqrtHalf);
    const auto a = loadComplex<Lanes>(z, k);
    const auto b = loadComplex<Lanes>(z, k + L / 4);
    const auto p = rotateEighthBack(loadComplex<Lanes>(z, k + L / 2), half);
    const auto q = rotateEighth(loadComplex<Lanes>(z, k + 3 * L / 4), half);
    const auto u = p + q;
    const auto v = minusITimesDifference(p, q);
    storeComplex<Lanes>(z, k, a + u);
    storeComplex<Lanes>(z, k + L / 2, a - u);
    storeComplex<Lanes>(z, k + L / 4, b + v);
    storeComplex<Lanes>(z, k + 3 * L / 4, b - v);
}

// 2 points: (a + b, a - b); its own transpose.
template <class Lanes>
TQ_FFT_INLINE void complex2(double* z) {
    const auto a = loadComplex<Lanes>(z, 0);
    const auto b = loadComplex<Lanes>(z, 1);
    storeComplex<Lanes>(z, 0, a + b);
    storeComplex<Lanes>(z, 1, a - b);
}

// 4 points, output order Z0, Z2, Z1, Z3.
template <class Lanes>
void forwardComplex4(double* z) {
    passStepUnrotated<Lanes, 4>(z);
    complex2<Lanes>(z);
}

template <class Lanes>
void inverseComplex4(double* z) {
    complex2<Lanes>(z);
    inversePassStepUnrotated<Lanes, 4>(z);
}

template <class Lanes>
void forwardComplex8(double* z) {
    passStepUnrotated<Lanes, 8>(z);
    passStepEighth<Lanes, 8>(z, 1);
    forwardComplex4<Lanes>(z);
    complex2<Lanes>(elementAt<Lanes>(z, 8));
    complex2<Lanes>(elementAt<Lanes>(z, 12));
}

template <class Lanes>
void inverseComplex8(double* z) {
    inverseComplex4<Lanes>(z);
    complex2<Lanes>(elementAt<Lanes>(z, 8));
    complex2<Lanes>(elementAt<Lanes>(z, 12));
    inversePassStepUnrotated<Lanes, 8>(z);
    inversePassStepEighth<Lanes, 8>(z, 1);
}

template <class Lanes>
void forwardComplex16(double* z) {
    const auto cosPi8 = Lanes::constant(kFftCosPi8);
    const auto sinPi8 = Lanes::constant(kFftSinPi8);
    passStepUnrotated<Lanes, 16>(z);
    passStep<Lanes, 16>(z, 1, cosPi8, sinPi8);
    passStepEighth<Lanes, 16>(z, 2);
    passStep<Lanes, 16>(z, 3, sinPi8, cosPi8);
    forwardComplex8<Lanes>(z);
    forwardComplex4<Lanes>(elementAt<Lanes>(z, 16));
    forwardComplex4<Lanes>(elementAt<Lanes>(z, 24));
}

template <class Lanes>
void inverseComplex16(double* z) {
    const auto cosPi8 = Lanes::constant(kFftCosPi8);
    const auto sinPi8 = Lanes::constant(kFftSinPi8);
    inverseComplex8<Lanes>(z);
    inverseComplex4<Lanes>(elementAt<Lanes>(z, 16));
    inverseComplex4<Lanes>(elementAt<Lanes>(z, 24));
    inversePassStepUnrotated<Lanes, 16>(z);
    inversePassStep<Lanes, 16>(z, 1, cosPi8, sinPi8);
    inversePassStepEighth<Lanes, 16>(z, 2);
    inversePassStep<Lanes, 16>(z, 3, sinPi8, cosPi8);
}

template <class Lanes, int L>
void forwardComplex(double* z) {
    if constexpr (L == 4) {
        forwardComplex4<Lanes>(z);
    } else if constexpr (L == 8) {
        forwardComplex8<Lanes>(z);
    } else if constexpr (L == 16) {
        forwardComplex16<Lanes>(z);
    } else {
        static_assert(L >= 32 && L <= 128);
        passStepUnrotated<Lanes, L>(z);
        for (int k = 1; k < L / 4; ++k) {
            typename Lanes::Value c, s;
            loadTwiddle<Lanes, L>(k, c, s);
            passStep<Lanes, L>(z, k, c, s);
        }
        forwardComplex<Lanes, L / 2>(z);
        forwardComplex<Lanes, L / 4>(elementAt<Lanes>(z, L));
        forwardComplex<Lanes, L / 4>(elementAt<Lanes>(z, 3 * L / 2));
    }
}

template <class Lanes, int L>
void inverseComplex(double* z) {
    if constexpr (L == 4) {
        inverseComplex4<Lanes>(z);
    } else if constexpr (L == 8) {
        inverseComplex8<Lanes>(z);
    } else if constexpr (L == 16) {
        inverseComplex16<Lanes>(z);
    } else {
        static_assert(L >= 32 && L <= 128);
        inverseComplex<Lanes, L / 2>(z);
        inverseComplex<Lanes, L / 4>(elementAt<Lanes>(z, L));
        inverseComplex<Lanes, L / 4>(elementAt<Lanes>(z, 3 * L / 2));
        inversePassStepUnrotated<Lanes, L>(z);
        for (int k = 1; k < L / 4; ++k) {
            typename Lanes::Value c, s;
            loadTwiddle<Lanes, L>(k, c, s);
            inversePassStep<Lanes, L>(z, k, c, s);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Real transforms on M/2 slot pairs in interleaved-halves order.

// 8 points: pairs (x0,x4), (x1,x5), (x2,x6), (x3,x7) -> DC, Nyquist, X2, X1, conj(X3).
template <class Lanes>
void forwardReal8(double* b) {
    const auto half = Lanes::constant(kFftSqrtHalf);
    const auto x0 = Lanes::load(b, 0);
    const auto x4 = Lanes::load(b, 1);
    const auto x1 = Lanes::load(b, 2);
    const auto x5 = Lanes::load(b, 3);
    const auto x2 = Lanes::load(b, 4);
    const auto x6 = Lanes::load(b, 5);
    const auto x3 = Lanes::load(b, 6);
    const auto x7 = Lanes::load(b, 7);
    const auto l = x0 + x4;
    const auto m = x2 + x6;
    const auto o = x1 + x5;
    const auto r = x3 + x7;
    const auto lm = l + m;
    const auto orSum = o + r;
    const auto diff = x0 - x4;
    const auto t = x1 - x5;
    const auto diff2 = x3 - x7;
    const auto diff3 = x2 - x6;
    const auto u = (t - diff2) * half;
    const auto v = (t + diff2) * half;
    Lanes::store(b, 0, lm + orSum);
    Lanes::store(b, 1, lm - orSum);
    Lanes::store(b, 2, l - m);
    Lanes::store(b, 3, o - r);
    Lanes::store(b, 4, diff + u);
    Lanes::store(b, 5, diff3 + v);
    Lanes::store(b, 6, diff - u);
    Lanes::store(b, 7, diff3 - v);
}

// The exact transpose of forwardReal8.
template <class Lanes>
void inverseReal8(double* b) {
    const auto half = Lanes::constant(kFftSqrtHalf);
    const auto in0 = Lanes::load(b, 0);
    const auto in1 = Lanes::load(b, 1);
    const auto in2 = Lanes::load(b, 2);
    const auto in3 = Lanes::load(b, 3);
    const auto in4 = Lanes::load(b, 4);
    const auto in5 = Lanes::load(b, 5);
    const auto in6 = Lanes::load(b, 6);
    const auto in7 = Lanes::load(b, 7);
    const auto e = in4 + in6;
    const auto f = in0 + in1;
    const auto m = in5 + in7;
    const auto diff = in0 - in1;
    const auto diff2 = in4 - in6;
    const auto r = in5 - in7;
    const auto t = (diff2 + r) * half;
    const auto rr = (r - diff2) * half;
    const auto fPlusG = f + in2;
    const auto fMinusG = f - in2;
    const auto diffPlusO = diff + in3;
    const auto diffMinusO = diff - in3;
    Lanes::store(b, 0, fPlusG + e);       // x0
    Lanes::store(b, 1, fPlusG - e);       // x4
    Lanes::store(b, 2, diffPlusO + t);    // x1
    Lanes::store(b, 3, diffPlusO - t);    // x5
    Lanes::store(b, 4, fMinusG + m);      // x2
    Lanes::store(b, 5, fMinusG - m);      // x6
    Lanes::store(b, 6, diffMinusO + rr);  // x3
    Lanes::store(b, 7, diffMinusO - rr);  // x7
}

// Rotation factor e^(+2 pi i k / M) of the real split stage, 1 <= k < M/4.
template <class Lanes, int M>
TQ_FFT_INLINE void splitTwiddle(int k, typename Lanes::Value& c, typename Lanes::Value& s) {
    if constexpr (M == 16) {
        constexpr double cosines[4] = {1.0, kFftCosPi8, kFftSqrtHalf, kFftSinPi8};
        c = Lanes::constant(cosines[k]);
        s = Lanes::constant(cosines[4 - k]);
    } else {
        loadTwiddle<Lanes, M>(k, c, s);
    }
}

// Pair k holds (x[k], x[k+H]), pair k+Q holds (x[k+Q], x[k+Q+H]). Sums a go back to pair k as
// the half-size sequence in interleaved-halves order; the differences d become the complex
// value (d[k] + i d[k+Q]) e^(+2 pi i k / M) in pair k+Q.
template <class Lanes, int M>
void forwardSplit(double* b) {
    constexpr int Q = M / 4;
    for (int k = 0; k < Q; ++k) {
        const auto x0 = Lanes::load(b, 2 * k);
        const auto x1 = Lanes::load(b, 2 * k + 1);
        const auto y0 = Lanes::load(b, 2 * (k + Q));
        const auto y1 = Lanes::load(b, 2 * (k + Q) + 1);
        Lanes::store(b, 2 * k, x0 + x1);
        Lanes::store(b, 2 * k + 1, y0 + y1);
        const Complex<typename Lanes::Value> d{x0 - x1, y0 - y1};
        if (k == 0) {
            storeComplex<Lanes>(b, Q, d);
        } else {
            typename Lanes::Value c, s;
            splitTwiddle<Lanes, M>(k, c, s);
            storeComplex<Lanes>(b, Q + k, rotate(d, c, s));
        }
    }
}

template <class Lanes, int M>
void inverseSplit(double* b) {
    constexpr int Q = M / 4;
    for (int k = 0; k < Q; ++k) {
        Complex<typename Lanes::Value> d = loadComplex<Lanes>(b, Q + k);
        if (k != 0) {
            typename Lanes::Value c, s;
            splitTwiddle<Lanes, M>(k, c, s);
            d = rotateBack(d, c, s);
        }
        const auto a0 = Lanes::load(b, 2 * k);
        const auto a1 = Lanes::load(b, 2 * k + 1);
        Lanes::store(b, 2 * k, a0 + d.re);
        Lanes::store(b, 2 * k + 1, a0 - d.re);
        Lanes::store(b, 2 * (k + Q), a1 + d.im);
        Lanes::store(b, 2 * (k + Q) + 1, a1 - d.im);
    }
}

template <class Lanes, int M>
void forwardReal(double* b) {
    if constexpr (M == 8) {
        forwardReal8<Lanes>(b);
    } else {
        forwardSplit<Lanes, M>(b);
        forwardReal<Lanes, M / 2>(b);
        forwardComplex<Lanes, M / 4>(elementAt<Lanes>(b, M / 2));
    }
}

template <class Lanes, int M>
void inverseReal(double* b) {
    if constexpr (M == 8) {
        inverseReal8<Lanes>(b);
    } else {
        inverseComplex<Lanes, M / 4>(elementAt<Lanes>(b, M / 2));
        inverseReal<Lanes, M / 2>(b);
        inverseSplit<Lanes, M>(b);
    }
}

// DC and Nyquist are real; every further pair is a complex product.
template <class Lanes, int M>
void multiplySpectrum(double* b, const double* kernel) {
    Lanes::store(b, 0, Lanes::load(b, 0) * Lanes::load(kernel, 0));
    Lanes::store(b, 1, Lanes::load(b, 1) * Lanes::load(kernel, 1));
    for (int j = 1; j < M / 2; ++j) {
        const auto x = loadComplex<Lanes>(b, j);
        const auto h = loadComplex<Lanes>(kernel, j);
        storeComplex<Lanes>(b, j, {x.re * h.re - x.im * h.im, x.re * h.im + x.im * h.re});
    }
}

// DC and Nyquist appear once in the inverse sum, every complex bin stands for two
// conjugate bins: hence 1/M and 2/M (both exact powers of two).
template <class Lanes, int M>
void scaleKernelSpectrum(double* spectrum) {
    const auto once = Lanes::constant(1.0 / M);
    const auto twice = Lanes::constant(2.0 / M);
    Lanes::store(spectrum, 0, Lanes::load(spectrum, 0) * once);
    Lanes::store(spectrum, 1, Lanes::load(spectrum, 1) * once);
    for (int j = 2; j < M; ++j) {
        Lanes::store(spectrum, j, Lanes::load(spectrum, j) * twice);
    }
}

// One block of the convolution. Up to M = 32 the three steps melt into one body, so the
// block stays in registers from one step to the next and the calls are gone; larger sizes
// would only bloat the code.
template <class Lanes, int M>
void convolveBlock(double* b, const double* kernel) {
    forwardReal<Lanes, M>(b);
    multiplySpectrum<Lanes, M>(b, kernel);
    inverseReal<Lanes, M>(b);
}

template <class Lanes, int M>
[[gnu::flatten]] void convolveSmallBlock(double* b, const double* kernel) {
    convolveBlock<Lanes, M>(b, kernel);
}

// One overlap-add block: the N = M/2 inputs zero-padded in interleaved-halves order, the
// convolution, then the result's first half plus the carried tail out, its second half the
// new tail. The padding is added as stored zeros, so every value takes the same operations
// as in convolve.
template <class Lanes, int M>
TQ_FFT_INLINE void overlapAddBlock(const double* __restrict input, const double* __restrict kernel,
                                   double* __restrict tail, double* __restrict output,
                                   double* __restrict work) {
    const auto zero = Lanes::constant(0.0);
    for (int k = 0; k < M / 2; ++k) {
        Lanes::store(work, 2 * k, Lanes::load(input, k));
        Lanes::store(work, 2 * k + 1, zero);
    }
    convolveBlock<Lanes, M>(work, kernel);
    for (int k = 0; k < M / 2; ++k) {
        Lanes::store(output, k, Lanes::load(work, 2 * k) + Lanes::load(tail, k));
        Lanes::store(tail, k, Lanes::load(work, 2 * k + 1));
    }
}

template <class Lanes, int M>
void overlapAdd(const double* input, const double* kernel, double* tail, double* output,
                double* work) {
    overlapAddBlock<Lanes, M>(input, kernel, tail, output, work);
}

// Small sizes work in a local block, which the compiler keeps in registers.
template <class Lanes, int M>
[[gnu::flatten]] void overlapAddSmall(const double* input, const double* kernel, double* tail,
                                      double* output, double*) {
    alignas(16) double work[M * Lanes::kDoublesPerElement];
    overlapAddBlock<Lanes, M>(input, kernel, tail, output, work);
}

#if TQ_WIDE_BUILD
template <class Lanes, int M>
[[gnu::flatten, gnu::target("avx2")]] void convolveSmallBlockWide(double* b, const double* kernel) {
    convolveBlock<Lanes, M>(b, kernel);
}

// M = 64 and 128 in the AVX2 build: flattened as well, on the caller's scratch (about a
// fifth and a tenth fewer instructions). Larger sizes gain less than their code would weigh.
template <class Lanes, int M>
[[gnu::flatten, gnu::target("avx2")]] void overlapAddWide(const double* input, const double* kernel,
                                                          double* tail, double* output,
                                                          double* work) {
    overlapAddBlock<Lanes, M>(input, kernel, tail, output, work);
}

template <class Lanes, int M>
[[gnu::flatten, gnu::target("avx2")]] void overlapAddSmallWide(const double* input,
                                                               const double* kernel, double* tail,
                                                               double* output, double*) {
    alignas(16) double work[M * Lanes::kDoublesPerElement];
    overlapAddBlock<Lanes, M>(input, kernel, tail, output, work);
}
#endif

#if TQ_WIDE_BUILD
// ---------------------------------------------------------------------------------------
// The paired M = 16 overlap-add (N = 8, the default shape at 44.1 and 48 kHz) with two
// elements per 256-bit register, written out by hand: [a | b] below is a register holding
// element a (one (left, right) pair) in its low half and element b in its high half; e_i
// is element i of the block in interleaved-halves order, in_i the input of frame i.
//
// Every value takes the operations of the plain build in the same order; the only
// rewrites are exact in IEEE arithmetic (so the bits stay the same): x - y as x + (-y),
// x + (-y) as x - y, x * (-y) as -(x * y), a + b as b + a, and x - 0 as x where the
// plain build subtracts the zero padding.

using Wide = __m256d;

// [a.lo | b.lo], [a.hi | b.hi], [a.hi | a.lo], [a.hi | b.lo].
#define TQ_LOWS(a, b) _mm256_permute2f128_pd(a, b, 0x20)
#define TQ_HIGHS(a, b) _mm256_permute2f128_pd(a, b, 0x31)
#define TQ_SWAP(a) _mm256_permute2f128_pd(a, a, 0x01)
#define TQ_HIGH_LOW(a, b) _mm256_permute2f128_pd(a, b, 0x21)

// The kernel spectrum as the wide product reads it: bin 0 (DC, Nyquist) as it is, then
// per complex bin h = (hr, hi) the registers [hr | hr] and [-hi | hi].
static_assert(60 <= kMaxWideKernelDoubles);

void prepareWideKernel16(const double* spectrum, double* prepared) {
    for (int i = 0; i < 4; ++i) prepared[i] = spectrum[i];
    for (int j = 1; j < 8; ++j) {
        const double* h = spectrum + 4 * j;
        double* p = prepared + 8 * j - 4;
        p[0] = h[0];
        p[1] = h[1];
        p[2] = h[0];
        p[3] = h[1];
        p[4] = -h[2];
        p[5] = -h[3];
        p[6] = h[2];
        p[7] = h[3];
    }
}

#define TQ_WIDE_INLINE [[gnu::always_inline, gnu::target("avx2")]] inline

// Real 8 on the elements e0 .. e7 given as [e0 | e2], [e4 | e6], [e1 | e3], [e5 | e7]; the
// spectrum as [e0 | e1] .. [e6 | e7] into x.
TQ_WIDE_INLINE void forwardReal8Wide(Wide e02, Wide e46, Wide e13, Wide e57, Wide half,
                                     Wide negateLow, Wide x[4]) {
    const Wide lo = _mm256_add_pd(e02, e13);      // [l | o]
    const Wide mr = _mm256_add_pd(e46, e57);      // [m | r]
    const Wide diffT = _mm256_sub_pd(e02, e13);   // [diff | t]
    const Wide diff32 = _mm256_sub_pd(e46, e57);  // [diff3 | diff2]
    const Wide sums = _mm256_add_pd(lo, mr);      // [lm | orSum]
    x[1] = _mm256_sub_pd(lo, mr);                 // [l - m | o - r]
    const Wide sumsSwapped = TQ_SWAP(sums);
    x[0] = TQ_LOWS(_mm256_add_pd(sums, sumsSwapped), _mm256_sub_pd(sums, sumsSwapped));
    const Wide tt = _mm256_permute2f128_pd(diffT, diffT, 0x11);
    const Wide diff2 = _mm256_xor_pd(_mm256_permute2f128_pd(diff32, diff32, 0x11), negateLow);
    const Wide uv = _mm256_mul_pd(_mm256_add_pd(tt, diff2), half);  // [u | v]
    const Wide diff3 = TQ_LOWS(diffT, diff32);                      // [diff | diff3]
    x[2] = _mm256_add_pd(diff3, uv);
    x[3] = _mm256_sub_pd(diff3, uv);
}

// The inverse real 8 up to its last step, from the spectrum [y0 | y1] .. [y6 | y7]: the
// results are plusG +- [e | t] and minusG +- [m | rr], in whichever pairs the caller needs.
struct InverseReal8Wide {
    Wide plusG;   // [fPlusG | diffPlusO]
    Wide minusG;  // [fMinusG | diffMinusO]
    Wide em;      // [e | m]
    Wide trr;     // [t | rr]
};

TQ_WIDE_INLINE InverseReal8Wide inverseReal8Wide(const Wide y[4], Wide half, Wide negateHigh) {
    const Wide diff2r = _mm256_sub_pd(y[2], y[3]);  // [diff2 | r]
    const Wide y0Swapped = TQ_SWAP(y[0]);
    const Wide fDiff =
        TQ_LOWS(_mm256_add_pd(y[0], y0Swapped), _mm256_sub_pd(y[0], y0Swapped));  // [f | diff]
    return {_mm256_add_pd(fDiff, y[1]), _mm256_sub_pd(fDiff, y[1]), _mm256_add_pd(y[2], y[3]),
            _mm256_mul_pd(_mm256_add_pd(diff2r, _mm256_xor_pd(TQ_SWAP(diff2r), negateHigh)), half)};
}

// One complex bin of the product: [re | im] [hr | hr] + [im | re] [-hi | hi].
TQ_WIDE_INLINE Wide complexProduct(Wide x, const double* kernel, int bin) {
    const Wide hr = _mm256_loadu_pd(kernel + 8 * bin - 4);
    const Wide hi = _mm256_loadu_pd(kernel + 8 * bin);
    return _mm256_add_pd(_mm256_mul_pd(x, hr), _mm256_mul_pd(TQ_SWAP(x), hi));
}

[[gnu::target("avx2")]] void overlapAddPaired16Wide(const double* __restrict input,
                                                    const double* __restrict kernel,
                                                    double* __restrict tail,
                                                    double* __restrict output, double*) {
    const Wide zero = _mm256_setzero_pd();
    const Wide half = _mm256_set1_pd(kFftSqrtHalf);
    const Wide cos13 = _mm256_set_pd(kFftSinPi8, kFftSinPi8, kFftCosPi8, kFftCosPi8);
    const Wide sin13 = _mm256_set_pd(kFftCosPi8, kFftCosPi8, kFftSinPi8, kFftSinPi8);
    const Wide negateLow = _mm256_set_pd(0.0, 0.0, -0.0, -0.0);
    const Wide negateHigh = _mm256_set_pd(-0.0, -0.0, 0.0, 0.0);

    const Wide in01 = _mm256_loadu_pd(input);
    const Wide in23 = _mm256_loadu_pd(input + 4);
    const Wide in45 = _mm256_loadu_pd(input + 8);
    const Wide in67 = _mm256_loadu_pd(input + 12);

    // Real split of 16: sums a_k = in_k + 0, a'_k = in_(k+4) + 0 to pairs e_2k, e_2k+1;
    // differences (in_k, in_(k+4)) rotated by k pi/8 to e_8+2k, e_9+2k.
    const Wide a01 = _mm256_add_pd(in01, zero);  // [a0 | a1]
    const Wide a23 = _mm256_add_pd(in23, zero);
    const Wide b01 = _mm256_add_pd(in45, zero);  // [a'0 | a'1]
    const Wide b23 = _mm256_add_pd(in67, zero);
    const Wide e8 = TQ_LOWS(in01, in45);     // [e8 | e9] = [in0 | in4]
    const Wide re13 = TQ_HIGHS(in01, in23);  // [in1 | in3]
    const Wide im13 = TQ_HIGHS(in45, in67);  // [in5 | in7]
    const Wide e10e14 = _mm256_sub_pd(_mm256_mul_pd(re13, cos13), _mm256_mul_pd(im13, sin13));
    const Wide e11e15 = _mm256_add_pd(_mm256_mul_pd(re13, sin13), _mm256_mul_pd(im13, cos13));
    const Wide d2 = _mm256_mul_pd(TQ_LOWS(in23, in67), half);  // [in2 h | in6 h]
    const Wide e12 = _mm256_add_pd(d2, _mm256_xor_pd(TQ_SWAP(d2), negateLow));

    // Real 8 on e0 .. e7 = a0, a'0, a1, a'1, ...: out0 .. out7 to X0 .. X3.
    Wide x[4];
    forwardReal8Wide(a01, a23, b01, b23, half, negateLow, x);

    // Complex 4 on e8 .. e15 to X4 .. X7.
    const Wide c1 = TQ_LOWS(e10e14, e11e15);   // [e10 | e11]
    const Wide c3 = TQ_HIGHS(e10e14, e11e15);  // [e14 | e15]
    const Wide u = _mm256_sub_pd(e8, e12);
    const Wide v = _mm256_sub_pd(c1, c3);
    const Wide s0 = _mm256_add_pd(e8, e12);
    const Wide s1 = _mm256_add_pd(c1, c3);
    const Wide w = _mm256_xor_pd(TQ_SWAP(v), negateLow);  // [-v.im | v.re]
    const Wide x4 = _mm256_add_pd(s0, s1);
    const Wide x5 = _mm256_sub_pd(s0, s1);
    const Wide x6 = _mm256_add_pd(u, w);
    const Wide x7 = _mm256_sub_pd(u, w);

    // Spectral product.
    const Wide y[4] = {_mm256_mul_pd(x[0], _mm256_loadu_pd(kernel)),
                       complexProduct(x[1], kernel, 1), complexProduct(x[2], kernel, 2),
                       complexProduct(x[3], kernel, 3)};
    const Wide y4 = complexProduct(x4, kernel, 4);
    const Wide y5 = complexProduct(x5, kernel, 5);
    const Wide y6 = complexProduct(x6, kernel, 6);
    const Wide y7 = complexProduct(x7, kernel, 7);

    // Inverse complex 4.
    const Wide ca = _mm256_add_pd(y4, y5);
    const Wide cb = _mm256_sub_pd(y4, y5);
    const Wide up = _mm256_add_pd(y6, y7);
    const Wide vp = _mm256_sub_pd(TQ_HIGH_LOW(y6, y7), TQ_HIGH_LOW(y7, y6));
    const Wide z8 = _mm256_add_pd(ca, up);   // [e8 | e9]
    const Wide z12 = _mm256_sub_pd(ca, up);  // [e12 | e13]
    const Wide z10 = _mm256_add_pd(cb, vp);  // [e10 | e11]
    const Wide z14 = _mm256_sub_pd(cb, vp);  // [e14 | e15]

    // Inverse real 8 on y0 .. y3, results as [e0 | e4], [e1 | e5], [e2 | e6], [e3 | e7].
    const InverseReal8Wide r8 = inverseReal8Wide(y, half, negateHigh);
    const Wide fPm = TQ_LOWS(r8.plusG, r8.minusG);   // [fPlusG | fMinusG]
    const Wide dPm = TQ_HIGHS(r8.plusG, r8.minusG);  // [diffPlusO | diffMinusO]
    const Wide a0Even = _mm256_add_pd(fPm, r8.em);   // [e0 | e4]
    const Wide a1Even = _mm256_sub_pd(fPm, r8.em);   // [e1 | e5]
    const Wide a0Odd = _mm256_add_pd(dPm, r8.trr);   // [e2 | e6]
    const Wide a1Odd = _mm256_sub_pd(dPm, r8.trr);   // [e3 | e7]

    // Inverse split of 16, k = 0 and 2 side by side, then 1 and 3.
    const Wide g2 = _mm256_mul_pd(z12, half);
    const Wide d2Back = _mm256_add_pd(g2, _mm256_xor_pd(TQ_SWAP(g2), negateHigh));
    const Wide dRe02 = TQ_LOWS(z8, d2Back);
    const Wide dIm02 = TQ_HIGHS(z8, d2Back);
    const Wide r13 = TQ_LOWS(z10, z14);
    const Wide i13 = TQ_HIGHS(z10, z14);
    const Wide dRe13 = _mm256_add_pd(_mm256_mul_pd(r13, cos13), _mm256_mul_pd(i13, sin13));
    const Wide dIm13 = _mm256_sub_pd(_mm256_mul_pd(i13, cos13), _mm256_mul_pd(r13, sin13));
    const Wide x02 = _mm256_add_pd(a0Even, dRe02);    // [x0 | x2]
    const Wide x46 = _mm256_add_pd(a1Even, dIm02);    // [x4 | x6]
    const Wide x810 = _mm256_sub_pd(a0Even, dRe02);   // [x8 | x10]
    const Wide x1214 = _mm256_sub_pd(a1Even, dIm02);  // [x12 | x14]
    const Wide x13 = _mm256_add_pd(a0Odd, dRe13);     // [x1 | x3]
    const Wide x57 = _mm256_add_pd(a1Odd, dIm13);     // [x5 | x7]
    const Wide x911 = _mm256_sub_pd(a0Odd, dRe13);    // [x9 | x11]
    const Wide x1315 = _mm256_sub_pd(a1Odd, dIm13);   // [x13 | x15]

    // Overlap-add: first half plus the old tail out, second half the new tail.
    const Wide tail01 = _mm256_loadu_pd(tail);
    const Wide tail23 = _mm256_loadu_pd(tail + 4);
    const Wide tail45 = _mm256_loadu_pd(tail + 8);
    const Wide tail67 = _mm256_loadu_pd(tail + 12);
    _mm256_storeu_pd(output, _mm256_add_pd(TQ_LOWS(x02, x13), tail01));
    _mm256_storeu_pd(output + 4, _mm256_add_pd(TQ_HIGHS(x02, x13), tail23));
    _mm256_storeu_pd(output + 8, _mm256_add_pd(TQ_LOWS(x46, x57), tail45));
    _mm256_storeu_pd(output + 12, _mm256_add_pd(TQ_HIGHS(x46, x57), tail67));
    _mm256_storeu_pd(tail, TQ_LOWS(x810, x911));
    _mm256_storeu_pd(tail + 4, TQ_HIGHS(x810, x911));
    _mm256_storeu_pd(tail + 8, TQ_LOWS(x1214, x1315));
    _mm256_storeu_pd(tail + 12, TQ_HIGHS(x1214, x1315));
}

// The paired M = 32 overlap-add (N = 16: the default shape at 88.2 and 96 kHz, "med" at
// 44.1 and 48 kHz). Complex values mostly travel two at a time as a WideComplex: real
// parts [z_a | z_b] in one register, imaginary parts in another, so the passes and the
// product run on two values per instruction without shuffles. Same rules as above.
struct WideComplex {
    Wide re;
    Wide im;
};

// Both lanes of element a low, of element b high.
TQ_WIDE_INLINE Wide wideOf(double a, double b) { return _mm256_set_pd(b, b, a, a); }

TQ_WIDE_INLINE WideComplex operator+(WideComplex a, WideComplex b) {
    return {_mm256_add_pd(a.re, b.re), _mm256_add_pd(a.im, b.im)};
}

TQ_WIDE_INLINE WideComplex operator-(WideComplex a, WideComplex b) {
    return {_mm256_sub_pd(a.re, b.re), _mm256_sub_pd(a.im, b.im)};
}

// [z_a | z_b], [z_c | z_d] -> [z_a | z_c] and [z_b | z_d].
TQ_WIDE_INLINE WideComplex lowsOf(WideComplex x, WideComplex y) {
    return {TQ_LOWS(x.re, y.re), TQ_LOWS(x.im, y.im)};
}

TQ_WIDE_INLINE WideComplex highsOf(WideComplex x, WideComplex y) {
    return {TQ_HIGHS(x.re, y.re), TQ_HIGHS(x.im, y.im)};
}

// The low value from `unrotated`, the high one from `rotated`.
TQ_WIDE_INLINE WideComplex lowFrom(WideComplex rotated, WideComplex unrotated) {
    return {_mm256_blend_pd(rotated.re, unrotated.re, 0x3),
            _mm256_blend_pd(rotated.im, unrotated.im, 0x3)};
}

// z (c + i s) and z (c - i s), as rotate and rotateBack.
TQ_WIDE_INLINE WideComplex rotateWide(WideComplex z, Wide c, Wide s) {
    return {_mm256_sub_pd(_mm256_mul_pd(z.re, c), _mm256_mul_pd(z.im, s)),
            _mm256_add_pd(_mm256_mul_pd(z.re, s), _mm256_mul_pd(z.im, c))};
}

TQ_WIDE_INLINE WideComplex rotateBackWide(WideComplex z, Wide c, Wide s) {
    return {_mm256_add_pd(_mm256_mul_pd(z.re, c), _mm256_mul_pd(z.im, s)),
            _mm256_sub_pd(_mm256_mul_pd(z.im, c), _mm256_mul_pd(z.re, s))};
}

// [x_a | x_b] -> [x_a + x_b | x_a - x_b], each part.
TQ_WIDE_INLINE Wide sumAndDifference(Wide x, Wide negateHigh) {
    return _mm256_add_pd(_mm256_permute2f128_pd(x, x, 0x00),
                         _mm256_xor_pd(_mm256_permute2f128_pd(x, x, 0x11), negateHigh));
}

// Forward complex 4 on (z0, z1), (z2, z3); the same pairs out.
TQ_WIDE_INLINE void forwardComplex4Wide(WideComplex& z01, WideComplex& z23, Wide negateLow,
                                        Wide negateHigh) {
    const WideComplex uv = z01 - z23;  // (u, v)
    const WideComplex s = z01 + z23;   // (z0 + z2, z1 + z3)
    // (u + i v, u - i v): real parts [u.re | u.re] + [-v.im | v.im], imaginary parts
    // [u.im | u.im] + [v.re | -v.re].
    z23 = {_mm256_add_pd(_mm256_permute2f128_pd(uv.re, uv.re, 0x00),
                         _mm256_xor_pd(_mm256_permute2f128_pd(uv.im, uv.im, 0x11), negateLow)),
           _mm256_add_pd(_mm256_permute2f128_pd(uv.im, uv.im, 0x00),
                         _mm256_xor_pd(_mm256_permute2f128_pd(uv.re, uv.re, 0x11), negateHigh))};
    z01 = {sumAndDifference(s.re, negateHigh), sumAndDifference(s.im, negateHigh)};
}

// Its transpose.
TQ_WIDE_INLINE void inverseComplex4Wide(WideComplex& z01, WideComplex& z23, Wide negateHigh) {
    const WideComplex ab = {sumAndDifference(z01.re, negateHigh),
                            sumAndDifference(z01.im, negateHigh)};
    // u = p + q, v = (p.im - q.im, q.re - p.re) with (p, q) = (z2, z3).
    const WideComplex uv = {
        _mm256_add_pd(TQ_LOWS(z23.re, z23.im), _mm256_xor_pd(TQ_HIGHS(z23.re, z23.im), negateHigh)),
        _mm256_add_pd(_mm256_blend_pd(z23.im, z23.re, 0xC),
                      _mm256_xor_pd(TQ_HIGH_LOW(z23.im, z23.re), negateHigh))};
    z01 = ab + uv;
    z23 = ab - uv;
}

// One pair of complex bins of the product, kernel as [hr_a | hr_b], [hi_a | hi_b].
TQ_WIDE_INLINE WideComplex productWide(WideComplex x, const double* kernel) {
    const Wide hr = _mm256_loadu_pd(kernel);
    const Wide hi = _mm256_loadu_pd(kernel + 4);
    return {_mm256_sub_pd(_mm256_mul_pd(x.re, hr), _mm256_mul_pd(x.im, hi)),
            _mm256_add_pd(_mm256_mul_pd(x.re, hi), _mm256_mul_pd(x.im, hr))};
}

// Kernel layout of the 32-point product: bin 0 as it is; bins 1 .. 3 as [hr | hr],
// [-hi | hi] (they travel as [re | im]); then the pairs of bins that travel together.
constexpr int kWide32Pairs[6][2] = {{4, 5}, {6, 7}, {8, 9}, {10, 11}, {12, 14}, {13, 15}};
static_assert(28 + 8 * 6 <= kMaxWideKernelDoubles);

void prepareWideKernel32(const double* spectrum, double* prepared) {
    prepareWideKernel16(spectrum, prepared);  // bin 0 and the [re | im] bins 1 .. 3
    for (int t = 0; t < 6; ++t) {
        const double* a = spectrum + 4 * kWide32Pairs[t][0];
        const double* b = spectrum + 4 * kWide32Pairs[t][1];
        double* p = prepared + 28 + 8 * t;
        const double values[8] = {a[0], a[1], b[0], b[1], a[2], a[3], b[2], b[3]};
        for (int i = 0; i < 8; ++i) p[i] = values[i];
    }
}

[[gnu::target("avx2")]] void overlapAddPaired32Wide(const double* __restrict input,
                                                    const double* __restrict kernel,
                                                    double* __restrict tail,
                                                    double* __restrict output, double*) {
    const Wide zero = _mm256_setzero_pd();
    const Wide half = _mm256_set1_pd(kFftSqrtHalf);
    const Wide negateLow = _mm256_set_pd(0.0, 0.0, -0.0, -0.0);
    const Wide negateHigh = _mm256_set_pd(-0.0, -0.0, 0.0, 0.0);
    const double* t32 = kFftTwiddles<32, 1>.values;  // cos, sin of 2 pi k / 32, k = 1 .. 7
    // Rotations of the 32-point split for k, k + 1 (k = 0: the low lane is not rotated).
    Wide cos32[4], sin32[4];
    cos32[0] = wideOf(1.0, t32[0]);
    sin32[0] = wideOf(0.0, t32[1]);
    for (int p = 1; p < 4; ++p) {
        cos32[p] = wideOf(t32[2 * (2 * p - 1)], t32[2 * (2 * p)]);
        sin32[p] = wideOf(t32[2 * (2 * p - 1) + 1], t32[2 * (2 * p) + 1]);
    }
    // Of the 16-point split for k = 0, 1 and k = 2, 3.
    const Wide cos16a = wideOf(1.0, kFftCosPi8);
    const Wide sin16a = wideOf(0.0, kFftSinPi8);
    const Wide cos16b = wideOf(kFftSqrtHalf, kFftSinPi8);
    const Wide sin16b = wideOf(kFftSqrtHalf, kFftCosPi8);

    Wide in[8];  // [in_2j | in_2j+1]
    for (int j = 0; j < 8; ++j) in[j] = _mm256_loadu_pd(input + 4 * j);

    // Real split of 32 on the zero-padded block: sums a_k = in_k + 0, a'_k = in_k+8 + 0;
    // differences (in_k, in_k+8) rotated by 2 pi k / 32 into z_k, two k at a time.
    Wide a[8];  // a[0 .. 3] = [a_2j | a_2j+1], a[4 .. 7] = [a'_2j | a'_2j+1]
    for (int j = 0; j < 8; ++j) a[j] = _mm256_add_pd(in[j], zero);
    WideComplex z[4];  // (z_2p, z_2p+1)
    for (int p = 0; p < 4; ++p) z[p] = rotateWide({in[p], in[p + 4]}, cos32[p], sin32[p]);
    z[0] = lowFrom(z[0], {in[0], in[4]});

    // Real 16 on the sums: its split (sums to b, differences rotated into w), ...
    const Wide b02 = _mm256_add_pd(a[0], a[4]);  // [b0 | b2] (b = the 8-point input)
    const Wide b13 = _mm256_add_pd(a[2], a[6]);
    const Wide b46 = _mm256_add_pd(a[1], a[5]);
    const Wide b57 = _mm256_add_pd(a[3], a[7]);
    const WideComplex d01 = {_mm256_sub_pd(a[0], a[4]), _mm256_sub_pd(a[2], a[6])};
    const WideComplex d23 = {_mm256_sub_pd(a[1], a[5]), _mm256_sub_pd(a[3], a[7])};
    WideComplex w01 = lowFrom(rotateWide(d01, cos16a, sin16a), d01);
    WideComplex w23 = rotateWide(d23, cos16b, sin16b);

    // ... real 8 on b, ...
    Wide x[4];
    forwardReal8Wide(b02, b46, b13, b57, half, negateLow, x);

    // ... and complex 4 on w.
    forwardComplex4Wide(w01, w23, negateLow, negateHigh);

    // Complex 8 on z: the pass for k = 0 (unrotated) and k = 1 (eighth turn) side by side,
    // complex 4 on z0 .. z3, complex 2 on (z4, z5) and (z6, z7).
    {
        const WideComplex u = z[0] - z[2];
        const WideComplex v = z[1] - z[3];
        z[0] = z[0] + z[2];
        z[1] = z[1] + z[3];
        const WideComplex plus = {_mm256_sub_pd(u.re, v.im), _mm256_add_pd(u.im, v.re)};
        const WideComplex minus = {_mm256_add_pd(u.re, v.im), _mm256_sub_pd(u.im, v.re)};
        z[2] = lowFrom({_mm256_mul_pd(_mm256_sub_pd(plus.re, plus.im), half),
                        _mm256_mul_pd(_mm256_add_pd(plus.re, plus.im), half)},
                       plus);
        z[3] = lowFrom({_mm256_mul_pd(_mm256_add_pd(minus.re, minus.im), half),
                        _mm256_mul_pd(_mm256_sub_pd(minus.im, minus.re), half)},
                       minus);
    }
    forwardComplex4Wide(z[0], z[1], negateLow, negateHigh);
    const WideComplex z46 = lowsOf(z[2], z[3]);
    const WideComplex z57 = highsOf(z[2], z[3]);
    z[2] = z46 + z57;  // (z4, z6)
    z[3] = z46 - z57;  // (z5, z7)

    // Spectral product.
    const Wide y[4] = {_mm256_mul_pd(x[0], _mm256_loadu_pd(kernel)),
                       complexProduct(x[1], kernel, 1), complexProduct(x[2], kernel, 2),
                       complexProduct(x[3], kernel, 3)};
    w01 = productWide(w01, kernel + 28);
    w23 = productWide(w23, kernel + 36);
    for (int p = 0; p < 4; ++p) z[p] = productWide(z[p], kernel + 44 + 8 * p);

    // Inverse complex 8 on z: complex 4 on z0 .. z3, complex 2 on (z4, z5) and (z6, z7),
    // then the transposed pass for k = 0 and 1.
    inverseComplex4Wide(z[0], z[1], negateHigh);
    const WideComplex h46 = z[2] + z[3];  // (z4, z6)
    const WideComplex h57 = z[2] - z[3];  // (z5, z7)
    {
        const WideComplex z45 = lowsOf(h46, h57);
        const WideComplex z67 = highsOf(h46, h57);
        const WideComplex p = lowFrom({_mm256_mul_pd(_mm256_add_pd(z45.re, z45.im), half),
                                       _mm256_mul_pd(_mm256_sub_pd(z45.im, z45.re), half)},
                                      z45);
        const WideComplex q = lowFrom({_mm256_mul_pd(_mm256_sub_pd(z67.re, z67.im), half),
                                       _mm256_mul_pd(_mm256_add_pd(z67.re, z67.im), half)},
                                      z67);
        const WideComplex u = p + q;
        const WideComplex v = {_mm256_sub_pd(p.im, q.im), _mm256_sub_pd(q.re, p.re)};
        const WideComplex a01 = z[0];
        const WideComplex b23 = z[1];
        z[0] = a01 + u;  // (z0, z1)
        z[2] = a01 - u;  // (z4, z5)
        z[1] = b23 + v;  // (z2, z3)
        z[3] = b23 - v;  // (z6, z7)
    }

    // Inverse real 16: complex 4 on w, real 8, inverse split.
    inverseComplex4Wide(w01, w23, negateHigh);
    const InverseReal8Wide r8 = inverseReal8Wide(y, half, negateHigh);
    const Wide et = TQ_LOWS(r8.em, r8.trr);        // [e | t]
    const Wide mrr = TQ_HIGHS(r8.em, r8.trr);      // [m | rr]
    const Wide c02 = _mm256_add_pd(r8.plusG, et);  // [c0 | c2] (c = the 8-point output)
    const Wide c13 = _mm256_sub_pd(r8.plusG, et);
    const Wide c46 = _mm256_add_pd(r8.minusG, mrr);
    const Wide c57 = _mm256_sub_pd(r8.minusG, mrr);
    const WideComplex e01 = lowFrom(rotateBackWide(w01, cos16a, sin16a), w01);
    const WideComplex e23 = rotateBackWide(w23, cos16b, sin16b);
    // The 16-point sequence, as the 32-point split reads it: [f_2k | f_2k+2], [f_2k+1 | f_2k+3].
    const Wide f0[4] = {_mm256_add_pd(c02, e01.re), _mm256_add_pd(c46, e23.re),
                        _mm256_add_pd(c13, e01.im), _mm256_add_pd(c57, e23.im)};
    const Wide f1[4] = {_mm256_sub_pd(c02, e01.re), _mm256_sub_pd(c46, e23.re),
                        _mm256_sub_pd(c13, e01.im), _mm256_sub_pd(c57, e23.im)};

    // Inverse split of 32 and the overlap-add, two k at a time.
    for (int p = 0; p < 4; ++p) {
        WideComplex d = rotateBackWide(z[p], cos32[p], sin32[p]);
        if (p == 0) d = lowFrom(d, z[0]);
        const Wide first = _mm256_add_pd(f0[p], d.re);   // x_k, x_k+1
        const Wide second = _mm256_add_pd(f1[p], d.im);  // x_k+8, x_k+9
        const Wide third = _mm256_sub_pd(f0[p], d.re);   // x_k+16, x_k+17
        const Wide fourth = _mm256_sub_pd(f1[p], d.im);  // x_k+24, x_k+25
        double* out = output + 4 * p;
        double* carried = tail + 4 * p;
        _mm256_storeu_pd(out, _mm256_add_pd(first, _mm256_loadu_pd(carried)));
        _mm256_storeu_pd(out + 16, _mm256_add_pd(second, _mm256_loadu_pd(carried + 16)));
        _mm256_storeu_pd(carried, third);
        _mm256_storeu_pd(carried + 16, fourth);
    }
}

#undef TQ_WIDE_INLINE

#undef TQ_LOWS
#undef TQ_HIGHS
#undef TQ_SWAP
#undef TQ_HIGH_LOW
#endif

template <class Lanes, int M>
constexpr RealFftSize makeSize() {
    RealFftSize entry{M,
                      &forwardReal<Lanes, M>,
                      nullptr,
                      &multiplySpectrum<Lanes, M>,
                      &scaleKernelSpectrum<Lanes, M>,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};
    if constexpr (M >= 16) {
        entry.inverse = &inverseReal<Lanes, M>;
        entry.convolve = M <= 32 ? &convolveSmallBlock<Lanes, M> : &convolveBlock<Lanes, M>;
        entry.overlapAdd = M <= 32 ? &overlapAddSmall<Lanes, M> : &overlapAdd<Lanes, M>;
#if TQ_WIDE_BUILD
        if constexpr (M <= 32) {
            entry.convolveWide = &convolveSmallBlockWide<Lanes, M>;
            entry.overlapAddWide = &overlapAddSmallWide<Lanes, M>;
        } else if constexpr (M <= 128) {
            entry.overlapAddWide = &overlapAddWide<Lanes, M>;
        }
        if constexpr (M == 16 && Lanes::kDoublesPerElement == 2) {
            entry.overlapAddWide = &overlapAddPaired16Wide;
            entry.prepareWideKernel = &prepareWideKernel16;
        }
        if constexpr (M == 32 && Lanes::kDoublesPerElement == 2) {
            entry.overlapAddWide = &overlapAddPaired32Wide;
            entry.prepareWideKernel = &prepareWideKernel32;
        }
#endif
    }
    return entry;
}

template <class Lanes>
struct SizeTable {
    static constexpr RealFftSize kSizes[7] = {
        makeSize<Lanes, 8>(),   makeSize<Lanes, 16>(),  makeSize<Lanes, 32>(),
        makeSize<Lanes, 64>(),  makeSize<Lanes, 128>(), makeSize<Lanes, 256>(),
        makeSize<Lanes, 512>(),
    };
};

template <class Lanes>
const RealFftSize* lookup(int kernelLength) {
    for (const RealFftSize& entry : SizeTable<Lanes>::kSizes) {
        if (entry.size / 2 == kernelLength) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

const RealFftSize* scalarFftForKernel(int kernelLength) {
    return lookup<ScalarLanes>(kernelLength);
}

const RealFftSize* pairedFftForKernel(int kernelLength) {
    return lookup<PairedLanes>(kernelLength);
}

}  // namespace tq
