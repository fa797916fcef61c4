// The eight attack/release smoothers of the paired flavour, two stages of both channels
// per 256-bit register, for the AVX2 build of the frame loop (WideBuild.h).
//
// Register j holds stages 2j and 2j + 1 as (left, right, left, right). Every lane runs
// the operations of the pairwise bank in its order (select the rate, difference, product,
// sum), so each stage's values are bit for bit those of the pairwise bank; the bank
// envelope is a maximum, which is exact in any order. Written with the compiler's vector
// types rather than AVX intrinsics, so it inlines into the frame loop wherever that is
// built for AVX2; anywhere else it would still give the same bits, two halves at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstring>

#include "dsp/DoublePair.h"

#if TQ_HAVE_SSE2

namespace tq {

class QuadSmootherBank {
  public:
    static constexpr int kStages = 8;
    static constexpr int kRegisters = kStages / 2;

    // The stages from (left, right) pairs 0 .. 7.
    void load(const double* stage1, const double* stage2) {
        std::memcpy(stage1_, stage1, sizeof stage1_);
        std::memcpy(stage2_, stage2, sizeof stage2_);
    }
    void store(double* stage1, double* stage2) const {
        std::memcpy(stage1, stage1_, sizeof stage1_);
        std::memcpy(stage2, stage2_, sizeof stage2_);
    }
    void copyStage1ToStage2() {
        for (int j = 0; j < kRegisters; ++j) stage2_[j] = stage1_[j];
    }

    // One frame: every stage towards `level` with the frame's coefficients; the second
    // stages follow the first ones when kSecondOrder. Each coefficient is read once.
    template <bool kSecondOrder>
    [[gnu::always_inline]] void step(DoublePair level,
                                     const std::array<std::atomic<double>, kStages>& attack,
                                     const std::array<std::atomic<double>, kStages>& release) {
        Quad attack03, attack47, release03, release47;
        readFour(&attack[0], attack03);
        readFour(&attack[4], attack47);
        readFour(&release[0], release03);
        readFour(&release[4], release47);
        const Half levelHalf = level.v;
        const Quad level4 = __builtin_shufflevector(levelHalf, levelHalf, 0, 1, 0, 1);
        // Stages 2j and 2j + 1, each coefficient in both channels' lanes.
        const Quad attacks[kRegisters] = {
            __builtin_shufflevector(attack03, attack03, 0, 0, 1, 1),
            __builtin_shufflevector(attack03, attack03, 2, 2, 3, 3),
            __builtin_shufflevector(attack47, attack47, 0, 0, 1, 1),
            __builtin_shufflevector(attack47, attack47, 2, 2, 3, 3)};
        const Quad releases[kRegisters] = {
            __builtin_shufflevector(release03, release03, 0, 0, 1, 1),
            __builtin_shufflevector(release03, release03, 2, 2, 3, 3),
            __builtin_shufflevector(release47, release47, 0, 0, 1, 1),
            __builtin_shufflevector(release47, release47, 2, 2, 3, 3)};
#pragma GCC unroll 4
        for (int j = 0; j < kRegisters; ++j) {
            const Quad rate1 = level4 >= stage1_[j] ? attacks[j] : releases[j];
            stage1_[j] = stage1_[j] + rate1 * (level4 - stage1_[j]);
            if constexpr (kSecondOrder) {
                const Quad rate2 = stage1_[j] > stage2_[j] ? attacks[j] : releases[j];
                stage2_[j] = stage2_[j] + rate2 * (stage1_[j] - stage2_[j]);
            }
        }
    }

    // max(1, E) over the eight first or second stages.
    [[gnu::always_inline]] DoublePair envelope(bool secondOrder) const {
        const Quad* s = secondOrder ? stage2_ : stage1_;
        // Written out: a function taking these vectors by value would change its ABI
        // with the build's instruction set.
        const Quad m01 = s[0] > s[1] ? s[0] : s[1];
        const Quad m23 = s[2] > s[3] ? s[2] : s[3];
        const Quad m = m01 > m23 ? m01 : m23;
        const Half low = __builtin_shufflevector(m, m, 0, 1);
        const Half high = __builtin_shufflevector(m, m, 2, 3);
        return max(DoublePair(low), max(DoublePair(high), DoublePair::both(1.0)));
    }

  private:
    using Quad = double __attribute__((vector_size(32)));
    using Half = double __attribute__((vector_size(16)));
    struct Four {
        double values[4];
    };

    // Four neighbouring coefficients in one load, as four relaxed reads would give them:
    // the processor reads each naturally aligned double of a vector load whole, so every
    // lane holds a value the parameter thread stored (just as with separate reads, the
    // four need not come from the same update). The load is written in assembly, so the
    // compiler neither assumes nor reorders anything about the atomics' memory beyond it.
    // (Through a reference: a function returning the vector would change its ABI with
    // the build's instruction set.)
    [[gnu::always_inline]] static void readFour(const std::atomic<double>* first, Quad& values) {
        static_assert(sizeof(std::atomic<double>) == sizeof(double) &&
                      alignof(std::atomic<double>) == alignof(double));
        asm volatile("vmovupd %1, %0" : "=x"(values) : "m"(*reinterpret_cast<const Four*>(first)));
    }

    Quad stage1_[kRegisters];
    Quad stage2_[kRegisters];
};

}  // namespace tq

#endif
