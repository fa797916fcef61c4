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

    // The stages from (left, right) pairs 0 .. 7. Every register is named by a constant
    // index here and below, never through a loop variable or a pointer: so the compiler
    // can keep the whole bank in registers across the frame loop instead of storing the
    // stages to memory after every frame.
    [[gnu::always_inline]] void load(const double* stage1, const double* stage2) {
        forEachRegister([&]<int j>() {
            std::memcpy(&stage1_[j], stage1 + 4 * j, sizeof(Quad));
            std::memcpy(&stage2_[j], stage2 + 4 * j, sizeof(Quad));
        });
    }
    [[gnu::always_inline]] void store(double* stage1, double* stage2) const {
        forEachRegister([&]<int j>() {
            std::memcpy(stage1 + 4 * j, &stage1_[j], sizeof(Quad));
            std::memcpy(stage2 + 4 * j, &stage2_[j], sizeof(Quad));
        });
    }
    [[gnu::always_inline]] void copyStage1ToStage2() {
        forEachRegister([&]<int j>() { stage2_[j] = stage1_[j]; });
    }

    // The block's coefficients, each read once (relaxed) and spread at once into the
    // registers' layout: stage 2j's value in lanes 0 and 1, stage 2j + 1's in lanes 2 and
    // 3. A setter's change thus reaches the bank at the next block, never within one.
    [[gnu::always_inline]] void setCoefficients(
        const std::array<std::atomic<double>, kStages>& attack,
        const std::array<std::atomic<double>, kStages>& release) {
        constexpr auto relaxed = std::memory_order_relaxed;
        forEachRegister([&]<int j>() {
            constexpr auto first = static_cast<std::size_t>(2 * j);
            const double a0 = attack[first].load(relaxed);
            const double a1 = attack[first + 1].load(relaxed);
            const double r0 = release[first].load(relaxed);
            const double r1 = release[first + 1].load(relaxed);
            attack_[j] = Quad{a0, a0, a1, a1};
            release_[j] = Quad{r0, r0, r1, r1};
        });
    }

    // One frame: every stage towards `level`; the second stages follow the first ones
    // when kSecondOrder.
    //
    // The rate is chosen by the sign of the difference the step multiplies, rather than by
    // a comparison: the difference of two finite values is negative exactly when the
    // first is the smaller, so the attack goes where the level is above the stage (or
    // the first stage above the second) and the release where it is below. Where the two
    // are equal the comparison and the sign may pick different rates, but the difference
    // is then zero and so is the step, whichever rate multiplies it. This saves the
    // comparisons, which compete with the products and maxima for the same two pipes.
    template <bool kSecondOrder>
    [[gnu::always_inline]] void step(DoublePair level) {
        const Half levelHalf = level.v;
        // Spelled out lane by lane: one insert, where the shuffle takes a copy and a permute.
        const Quad level4 = Quad{levelHalf[0], levelHalf[1], levelHalf[0], levelHalf[1]};
        forEachRegister([&]<int j>() {
            // A signed view of the bits compared with 0 is one blend on the sign bit (a
            // vector cast keeps the bits; std::bit_cast would return an AVX vector).
            const Quad towardsLevel = level4 - stage1_[j];
            const Quad rate1 = (SignedQuad)towardsLevel < 0 ? release_[j] : attack_[j];
            stage1_[j] = stage1_[j] + rate1 * towardsLevel;
            if constexpr (kSecondOrder) {
                const Quad towardsStage1 = stage1_[j] - stage2_[j];
                const Quad rate2 = (SignedQuad)towardsStage1 < 0 ? release_[j] : attack_[j];
                stage2_[j] = stage2_[j] + rate2 * towardsStage1;
            }
        });
    }

    // E, the largest of the eight first or second stages (the bank gain takes max(1, E)),
    // as two pairs whose larger is E: the maximum of the even stages' and of the odd
    // stages' values, stored to `pairs` (four doubles). The last maximum, across the
    // register's halves, is left to the reader, which takes it off this loop's chains.
    template <bool kSecondOrder>
    [[gnu::always_inline]] void storeEnvelopeHalves(double* pairs) const {
        const Quad(&s)[kRegisters] = kSecondOrder ? stage2_ : stage1_;
        // Written out: a function taking these vectors by value would change its ABI
        // with the build's instruction set.
        const Quad m01 = s[0] > s[1] ? s[0] : s[1];
        const Quad m23 = s[2] > s[3] ? s[2] : s[3];
        const Quad m = m01 > m23 ? m01 : m23;
        std::memcpy(pairs, &m, sizeof m);
    }

  private:
    // body.template operator()<j>() for j = 0 .. 3, each with its constant.
    template <typename Body>
    [[gnu::always_inline]] static void forEachRegister(Body&& body) {
        body.template operator()<0>();
        body.template operator()<1>();
        body.template operator()<2>();
        body.template operator()<3>();
    }

    using Quad = double __attribute__((vector_size(32)));
    using Half = double __attribute__((vector_size(16)));
    using SignedQuad = long long __attribute__((vector_size(32)));

    Quad stage1_[kRegisters];
    Quad stage2_[kRegisters];
    Quad attack_[kRegisters];
    Quad release_[kRegisters];
};

}  // namespace tq

#endif
