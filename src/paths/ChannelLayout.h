// The two buffer layouts of the processing flavours, behind one interface, so the
// limiter loop is written once and both flavours run the same operations in the same
// order (and so agree bit for bit).
//
// Scalar flavour: each per-channel quantity lives in two separate arrays (left, right);
// a frame's values travel as a PlainPair of two doubles, and smoothed values get the
// 1e-30 denormal guard. Paired flavour: one array of interleaved (left, right) pairs,
// 16-byte aligned; a frame's values travel as a DoublePair (one SSE2 register), and
// denormals are flushed by the control register instead (DenormalFlushScope).
//
// Arrays allocate at construction only; clear() zeroes them.
#pragma once

#include <cmath>
#include <cstddef>

#include "dsp/AlignedBuffer.h"
#include "dsp/DoublePair.h"
#include "dsp/EngineSettings.h"

#if TQ_HAVE_SSE2
#include <xmmintrin.h>
#endif

namespace tq {

// Buffer indices in the hot loops: machine-word sized, so an index needs no widening
// before each access.
using Index = std::ptrdiff_t;

// Two doubles with the operations of DoublePair, computed one lane at a time. The
// comparison rules match the SSE2 instructions (max/min return the second operand when
// the comparison fails), so results are identical lane by lane.
struct PlainPair {
    double l = 0.0;
    double r = 0.0;

    PlainPair() = default;
    PlainPair(double left, double right) : l(left), r(right) {}
    static PlainPair both(double value) { return {value, value}; }
    double left() const { return l; }
    double right() const { return r; }

    friend PlainPair operator+(PlainPair a, PlainPair b) { return {a.l + b.l, a.r + b.r}; }
    friend PlainPair operator-(PlainPair a, PlainPair b) { return {a.l - b.l, a.r - b.r}; }
    friend PlainPair operator*(PlainPair a, PlainPair b) { return {a.l * b.l, a.r * b.r}; }
    friend PlainPair operator/(PlainPair a, PlainPair b) { return {a.l / b.l, a.r / b.r}; }
    friend PlainPair max(PlainPair a, PlainPair b) {
        return {a.l > b.l ? a.l : b.l, a.r > b.r ? a.r : b.r};
    }
    friend PlainPair min(PlainPair a, PlainPair b) {
        return {a.l < b.l ? a.l : b.l, a.r < b.r ? a.r : b.r};
    }
    friend PlainPair abs(PlainPair a) { return {std::fabs(a.l), std::fabs(a.r)}; }
    friend PlainPair selectGreaterEqual(PlainPair a, PlainPair b, PlainPair x, PlainPair y) {
        return {a.l >= b.l ? x.l : y.l, a.r >= b.r ? x.r : y.r};
    }
    friend PlainPair selectGreater(PlainPair a, PlainPair b, PlainPair x, PlainPair y) {
        return {a.l > b.l ? x.l : y.l, a.r > b.r ? x.r : y.r};
    }
};

struct ScalarLayout {
    using Value = PlainPair;
    static constexpr Flavour kFlavour = Flavour::Scalar;
    static constexpr bool kDenormalGuard = true;

    // Both lanes within lo .. hi (false for NaN).
    static bool bothWithin(Value v, double lo, double hi) {
        return v.l >= lo && v.l <= hi && v.r >= lo && v.r <= hi;
    }
    // The larger lane in both lanes (left > right ? left : right).
    static Value maxAcross(Value v) { return Value::both(v.l > v.r ? v.l : v.r); }
    // Writes one frame to the host: right first, then left (so with both pointers
    // equal the left channel remains).
    template <typename Sample>
    static void storeFrame(Sample* left, Sample* right, Index n, Value v) {
        right[n] = static_cast<Sample>(v.r);
        left[n] = static_cast<Sample>(v.l);
    }

    // Raw pointers for the hot loop (kept in registers).
    struct View {
        double* left;
        double* right;
        Value get(Index i) const { return {left[i], right[i]}; }
        // The same buffers seen from value n on.
        View from(Index n) const { return {left + n, right + n}; }
        void set(Index i, Value v) const {
            left[i] = v.l;
            right[i] = v.r;
        }
        // The view whose entry 0 is entry `offset` of this one.
        View shifted(Index offset) const { return {left + offset, right + offset}; }
    };

    class Array {
      public:
        explicit Array(int capacity)
            : left_(static_cast<std::size_t>(capacity)),
              right_(static_cast<std::size_t>(capacity)) {}
        View view() { return {left_.data(), right_.data()}; }
        void clear() {
            left_.clear();
            right_.clear();
        }

      private:
        AlignedBuffer left_;
        AlignedBuffer right_;
    };
};

struct PairedLayout {
    using Value = DoublePair;
    static constexpr Flavour kFlavour = Flavour::Paired;
    static constexpr bool kDenormalGuard = false;

#if TQ_HAVE_SSE2
    static bool bothWithin(Value v, double lo, double hi) {
        const __m128d inside =
            _mm_and_pd(_mm_cmpge_pd(v.v, _mm_set1_pd(lo)), _mm_cmple_pd(v.v, _mm_set1_pd(hi)));
        return _mm_movemask_pd(inside) == 3;
    }
    // maxpd keeps the first operand where it is greater: lane 0 = left > right ? left :
    // right, lane 1 the same value (the lanes differ only for NaN, which never gets here).
    static Value maxAcross(Value v) { return Value(_mm_max_pd(v.v, _mm_shuffle_pd(v.v, v.v, 1))); }
    static void storeFrame(float* left, float* right, Index n, Value v) {
        const __m128 f = _mm_cvtpd_ps(v.v);  // both lanes, rounded as static_cast would
        _mm_store_ss(right + n, _mm_shuffle_ps(f, f, 1));
        _mm_store_ss(left + n, f);
    }
    static void storeFrame(double* left, double* right, Index n, Value v) {
        _mm_storeh_pd(right + n, v.v);
        _mm_storel_pd(left + n, v.v);
    }
#else
    static bool bothWithin(Value v, double lo, double hi) {
        return v.l >= lo && v.l <= hi && v.r >= lo && v.r <= hi;
    }
    static Value maxAcross(Value v) { return Value::both(v.l > v.r ? v.l : v.r); }
    template <typename Sample>
    static void storeFrame(Sample* left, Sample* right, Index n, Value v) {
        right[n] = static_cast<Sample>(v.r);
        left[n] = static_cast<Sample>(v.l);
    }
#endif

    struct View {
        double* pairs;
        Value get(Index i) const { return DoublePair::load(pairs + 2 * i); }
        View from(Index n) const { return {pairs + 2 * n}; }
        void set(Index i, Value v) const { v.store(pairs + 2 * i); }
        // The view whose entry 0 is entry `offset` of this one.
        View shifted(Index offset) const { return {pairs + 2 * offset}; }
    };

    class Array {
      public:
        explicit Array(int capacity) : pairs_(2 * static_cast<std::size_t>(capacity)) {}
        View view() { return {pairs_.data()}; }
        void clear() { pairs_.clear(); }

      private:
        AlignedBuffer pairs_;
    };
};

// Sets flush-to-zero and denormals-are-zero (MXCSR bits 0x8040) for its lifetime and
// gives the caller back exactly the control word it had, on every way out.
class DenormalFlushScope {
  public:
    static constexpr unsigned kFlushBits = 0x8040;
#if TQ_HAVE_SSE2
    DenormalFlushScope() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushBits); }
    ~DenormalFlushScope() { _mm_setcsr(saved_); }

  private:
    unsigned saved_;
#else
    DenormalFlushScope() = default;
#endif
  public:
    DenormalFlushScope(const DenormalFlushScope&) = delete;
    DenormalFlushScope& operator=(const DenormalFlushScope&) = delete;
};

}  // namespace tq
