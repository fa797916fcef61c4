#include "paths/RealFft.h"

#include "dsp/DoublePair.h"
#include "paths/FftTwiddles.h"
#include "paths/WideBuild.h"

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

template <class Lanes, int M>
[[gnu::flatten, gnu::target("avx2")]] void overlapAddSmallWide(const double* input,
                                                              const double* kernel, double* tail,
                                                              double* output, double*) {
    alignas(16) double work[M * Lanes::kDoublesPerElement];
    overlapAddBlock<Lanes, M>(input, kernel, tail, output, work);
}
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
                      nullptr};
    if constexpr (M >= 16) {
        entry.inverse = &inverseReal<Lanes, M>;
        entry.convolve = M <= 32 ? &convolveSmallBlock<Lanes, M> : &convolveBlock<Lanes, M>;
        entry.overlapAdd = M <= 32 ? &overlapAddSmall<Lanes, M> : &overlapAdd<Lanes, M>;
#if TQ_WIDE_BUILD
        if constexpr (M <= 32) {
            entry.convolveWide = &convolveSmallBlockWide<Lanes, M>;
            entry.overlapAddWide = &overlapAddSmallWide<Lanes, M>;
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
