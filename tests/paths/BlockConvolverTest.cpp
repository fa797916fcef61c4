#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/AlignedBuffer.h"
#include "paths/BlockConvolver.h"
#include "paths/SmoothingKernel.h"

namespace tq {
namespace {

// The direct form the block convolver must equal:
//   tau(n) = sum over m of h[m] * rho(n - R - N + 1 - m), rho = 0 before frame 0.
double directForm(const std::vector<double>& rho, const double* h, int n, int length, int ring) {
    double sum = 0.0;
    for (int m = 0; m < length; ++m) {
        const int k = n - ring - length + 1 - m;
        if (k >= 0) sum += h[m] * rho[k];
    }
    return sum;
}

template <typename Layout>
void expectDirectForm(int length, int ring, unsigned seed) {
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(length, Layout::kFlavour));
    BlockConvolver<Layout> convolver;
    ASSERT_TRUE(convolver.configure(length, ring, kernel.spectrum()));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(1e-5, 4.0);
    const int frames = 3 * length + ring + 700;
    std::vector<double> left(frames), right(frames);
    for (int n = 0; n < frames; ++n) {
        left[n] = value(random);
        right[n] = value(random) * 0.01;  // lanes must not mix
        const auto tau = convolver.step(typename Layout::Value(left[n], right[n]));
        ASSERT_NEAR(tau.left(), directForm(left, kernel.taps(), n, length, ring), 1e-12)
            << "N " << length << " R " << ring << " frame " << n;
        ASSERT_NEAR(tau.right(), directForm(right, kernel.taps(), n, length, ring), 1e-12)
            << "N " << length << " R " << ring << " frame " << n;
    }
}

TEST(BlockConvolver, EqualsTheDirectFormSumForEveryLengthAndRing) {
    // Rings of the three rate bands: L - 2N + 2 for L = 128, 256, 512.
    for (int length : {8, 16, 32, 64, 128, 256}) {
        for (int lookAhead : {128, 256, 512}) {
            const int ring = lookAhead - 2 * length + 2;
            if (ring < 1) continue;
            expectDirectForm<ScalarLayout>(length, ring, 10u + length);
            expectDirectForm<PairedLayout>(length, ring, 20u + length);
        }
    }
}

TEST(BlockConvolver, PairedAndScalarAgreeBitForBit) {
    SmoothingKernel scalarKernel;
    SmoothingKernel pairedKernel;
    for (int length : {16, 64, 256}) {
        ASSERT_TRUE(scalarKernel.build(length, Flavour::Scalar));
        ASSERT_TRUE(pairedKernel.build(length, Flavour::Paired));
        BlockConvolver<ScalarLayout> scalar;
        BlockConvolver<PairedLayout> paired;
        ASSERT_TRUE(scalar.configure(length, 2, scalarKernel.spectrum()));
        ASSERT_TRUE(paired.configure(length, 2, pairedKernel.spectrum()));
        std::mt19937 random(5);
        std::uniform_real_distribution<double> value(1e-5, 2.0);
        for (int n = 0; n < 2000; ++n) {
            const double l = value(random);
            const double r = value(random);
            const PlainPair a = scalar.step(PlainPair(l, r));
            const DoublePair b = paired.step(DoublePair(l, r));
            ASSERT_EQ(a.left(), b.left()) << n;
            ASSERT_EQ(a.right(), b.right()) << n;
        }
    }
}

// The plain overlap-add the convolver must match bit for bit: one block buffer in
// interleaved-halves order, convolved in place when full, each frame's output the pair
// after the one just written plus the tail, then a ring of R frames. One lane.
class PlainOverlapAdd {
  public:
    PlainOverlapAdd(int length, int ring, const double* spectrum)
        : fft_(*scalarFftForKernel(length)),
          spectrum_(spectrum),
          length_(static_cast<std::size_t>(length)),
          block_(2 * length_),
          tail_(length_),
          ring_(static_cast<std::size_t>(ring)) {}

    double step(double rho) {
        block_[2 * position_] = rho;
        if (++position_ == length_) {
            position_ = 0;
            fft_.convolve(block_.data(), spectrum_);
        }
        const double sigma = block_[2 * position_] + tail_[position_];
        tail_[position_] = block_[2 * position_ + 1];
        block_[2 * position_ + 1] = 0.0;
        const double tau = ring_[ringIndex_];
        ring_[ringIndex_] = sigma;
        if (++ringIndex_ == ring_.size()) ringIndex_ = 0;
        return tau;
    }
    void clear() {
        block_.clear();
        tail_.assign(tail_.size(), 0.0);
        ring_.assign(ring_.size(), 0.0);
    }

  private:
    const RealFftSize& fft_;
    const double* spectrum_;
    std::size_t length_;
    std::size_t position_ = 0;
    std::size_t ringIndex_ = 0;
    AlignedBuffer block_;
    std::vector<double> tail_;
    std::vector<double> ring_;
};

// Every length with rings shorter, equal to and longer than a block, at the smallest and
// largest: the delay line and its write-ahead must give exactly the plain scheme's bits,
// through a buffer clear in the middle of a block as well.
TEST(BlockConvolver, MatchesThePlainOverlapAddBitForBit) {
    for (int length : {8, 16, 32, 64, 128, 256}) {
        for (int ring : {1, 2, length - 1, length, length + 3, 114, 450, 511, 512}) {
            if (ring < 1) continue;
            SmoothingKernel scalarKernel;
            SmoothingKernel pairedKernel;
            ASSERT_TRUE(scalarKernel.build(length, Flavour::Scalar));
            ASSERT_TRUE(pairedKernel.build(length, Flavour::Paired));
            BlockConvolver<ScalarLayout> scalar;
            BlockConvolver<PairedLayout> paired;
            ASSERT_TRUE(scalar.configure(length, ring, scalarKernel.spectrum()));
            ASSERT_TRUE(paired.configure(length, ring, pairedKernel.spectrum()));
            PlainOverlapAdd left(length, ring, scalarKernel.spectrum());
            PlainOverlapAdd right(length, ring, scalarKernel.spectrum());
            std::mt19937 random(static_cast<unsigned>(length * 1000 + ring));
            std::uniform_real_distribution<double> value(1e-5, 3.0);
            const int frames = 4 * length + 2 * ring + 100;
            for (int n = 0; n < frames; ++n) {
                if (n == 2 * length + length / 2) {
                    scalar.clear();
                    paired.clear();
                    left.clear();
                    right.clear();
                }
                const double l = value(random);
                const double r = value(random);
                const double expectedLeft = left.step(l);
                const double expectedRight = right.step(r);
                const PlainPair a = scalar.step(PlainPair(l, r));
                const DoublePair b = paired.step(DoublePair(l, r));
                ASSERT_EQ(a.left(), expectedLeft) << "N " << length << " R " << ring << " " << n;
                ASSERT_EQ(a.right(), expectedRight) << "N " << length << " R " << ring << " " << n;
                ASSERT_EQ(b.left(), expectedLeft) << "N " << length << " R " << ring << " " << n;
                ASSERT_EQ(b.right(), expectedRight) << "N " << length << " R " << ring << " " << n;
            }
        }
    }
}

// Runs as the frame loop takes them (inputs, the transforms of the blocks they complete,
// then outputs), of lengths up to a whole run, through a cursor taken and handed back
// for each: exactly the values of frame by frame, also where a run completes several
// blocks and the ring is shorter than the run.
template <typename Layout>
void expectRunsMatchFrameByFrame(int length, int ring) {
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(length, Layout::kFlavour));
    BlockConvolver<Layout> inRuns;
    BlockConvolver<Layout> byFrame;
    ASSERT_TRUE(inRuns.configure(length, ring, kernel.spectrum()));
    ASSERT_TRUE(byFrame.configure(length, ring, kernel.spectrum()));
    std::mt19937 random(static_cast<unsigned>(length * 7 + ring));
    std::uniform_real_distribution<double> value(1e-5, 3.0);
    constexpr int kRun = BlockConvolver<Layout>::kMaxRun;
    const int runLengths[] = {kRun, 1, kRun, 37, kRun - 1, 3, kRun, kRun, 2 * length % kRun + 1};
    for (int pass = 0; pass < 6; ++pass) {
        for (const int count : runLengths) {
            std::vector<typename Layout::Value> rho;
            for (int i = 0; i < count; ++i) rho.emplace_back(value(random), value(random));
            auto cursor = inRuns.cursor();
            for (int i = 0; i < count; ++i)
                cursor.inputs().set(i, rho[static_cast<std::size_t>(i)]);
            cursor.transformRun(count);
            for (int i = 0; i < count; ++i) {
                const auto expected = byFrame.step(rho[static_cast<std::size_t>(i)]);
                const auto tau = cursor.output();
                ASSERT_EQ(tau.left(), expected.left()) << "N " << length << " R " << ring;
                ASSERT_EQ(tau.right(), expected.right()) << "N " << length << " R " << ring;
            }
            inRuns.commit(cursor);
        }
    }
}

TEST(BlockConvolver, RunsGiveTheValuesOfFrameByFrame) {
    for (int length : {8, 16, 32, 64, 128, 256}) {
        for (int ring : {1, 2, length - 1, length + 3, 114, 512}) {
            if (ring < 1) continue;
            expectRunsMatchFrameByFrame<ScalarLayout>(length, ring);
            expectRunsMatchFrameByFrame<PairedLayout>(length, ring);
        }
    }
}

TEST(BlockConvolver, ConstantInputSettlesToItsValue) {
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(64, Flavour::Scalar));
    BlockConvolver<ScalarLayout> convolver;
    ASSERT_TRUE(convolver.configure(64, 2, kernel.spectrum()));
    PlainPair tau;
    for (int n = 0; n < 128 + 64 + 10; ++n) tau = convolver.step(PlainPair(0.75, 0.75));
    EXPECT_NEAR(tau.left(), 0.75, 1e-15);
}

TEST(BlockConvolver, IsolatedPeakFollowsTheKernelsRunningSum) {
    // A peak P held for N frames by the window maximum gives P times the partial sums.
    const int length = 16;
    const int ring = 98;
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(length, Flavour::Paired));
    BlockConvolver<PairedLayout> convolver;
    ASSERT_TRUE(convolver.configure(length, ring, kernel.spectrum()));
    const double peak = 3.0;
    std::vector<double> out;
    for (int n = 0; n < 400; ++n) {
        const double rho = (n >= 100 && n < 100 + length) ? peak : 0.0;
        out.push_back(convolver.step(DoublePair::both(rho)).left());
    }
    // Every rho in the sum is P exactly when n - R - N + 1 = 100 + N - 1.
    const int top = 100 + ring + length - 1 + (length - 1);
    EXPECT_NEAR(out[top], peak * 1.0, 1e-14);
    for (int j = 0; j < length; ++j) {
        double partial = 0.0;
        for (int m = j; m < length; ++m) partial += kernel.taps()[m];
        EXPECT_NEAR(out[top + j], peak * partial, 1e-13) << j;
    }
}

TEST(BlockConvolver, ResetForgetsEverythingAndBadConfigurationsAreRefused) {
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(8, Flavour::Scalar));
    BlockConvolver<ScalarLayout> convolver;
    EXPECT_FALSE(convolver.configure(12, 2, kernel.spectrum()));
    EXPECT_FALSE(convolver.configure(8, 0, kernel.spectrum()));
    EXPECT_FALSE(convolver.configure(8, 513, kernel.spectrum()));
    EXPECT_FALSE(convolver.configure(8, 2, nullptr));
    // Never configured: steps are harmless and give nothing.
    EXPECT_EQ(convolver.step(PlainPair(1.0, 1.0)).left(), 0.0);
    ASSERT_TRUE(convolver.configure(8, 2, kernel.spectrum()));
    for (int n = 0; n < 50; ++n) convolver.step(PlainPair(1.0, 1.0));
    convolver.reset();
    for (int n = 0; n < 50; ++n) ASSERT_EQ(convolver.step(PlainPair(0.0, 0.0)).left(), 0.0) << n;
}

}  // namespace
}  // namespace tq
