#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "dsp/AlignedBuffer.h"
#include "dsp/HalfbandInterpolator.h"
#include "dsp/HalfbandKernels.h"

namespace tq {
namespace {

// The listed coefficient values; the table built from the stored halves must equal them.
constexpr double kListed[32] = {
    -9.527392564188e-07, 3.996486423714e-06, -1.118903986638e-05,  2.467901457974e-05,
    -4.780600972514e-05, 8.530390769326e-05, -0.00014352763960636, 0.0002306980712456,
    -0.000357158325338,  0.000535634929485,  -0.0007814991979156,  0.0011130288264378,
    -0.001551677555882,  0.002122372982078,  -0.002853880759364,   0.00377930020547,
    -0.004936796264104,  0.006370734171862,  -0.00813348126163,    0.01028830415771,
    -0.01291407644336,   0.016113039457338,  -0.02002388179646,    0.024844505906,
    -0.03087347507758,   0.0385901644437,    -0.04882272473866,    0.06314023363682,
    -0.08491709155632,   0.12295148511888,   -0.2095561567046,     0.6357317598066,
};

// Direct form of the estimate on a 64-entry ring, written as plainly as possible.
double referenceMid(const std::vector<double>& history, int newest) {
    double sum = 0.0;
    for (int k = 0; k < 32; ++k) {
        sum += (history[(newest - k + 64) % 64] + history[(newest + 1 + k) % 64]) * kListed[k];
    }
    return sum;
}

TEST(HalfbandCoefficients, DoubledHalvesEqualTheListedValues) {
    const auto& c = HalfbandCoefficients::table();
    double sum = 0.0;
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(c[k], kListed[k]) << k;
        EXPECT_EQ(c[k] < 0.0, k % 2 == 0) << "signs alternate, " << k;
        sum += c[k];
    }
    EXPECT_NEAR(sum, 0.5, 1.4e-7);
}

TEST(HalfbandInterpolator, AlternatingSignsGiveZeroMidValue) {
    HalfbandInterpolator interpolator;
    const double a = 0.75;
    for (int i = 0; i < 200; ++i) {
        interpolator.push(i % 2 ? -a : a, i % 2 ? a : -a);
        if (i >= 63) {
            const HalfbandEstimate e = interpolator.estimate();
            ASSERT_EQ(e.midLeft, 0.0);
            ASSERT_EQ(e.midRight, 0.0);
            ASSERT_EQ(std::fabs(e.centreLeft), a);
        }
    }
}

TEST(HalfbandInterpolator, TwoEqualSamplesGiveInnermostCoefficientTwice) {
    HalfbandInterpolator interpolator;
    const double a = 0.5;
    interpolator.push(a, -a);
    interpolator.push(a, -a);
    for (int i = 0; i < 31; ++i) interpolator.push(0.0, 0.0);
    // The two samples now sit 31 and 32 frames back.
    const HalfbandEstimate e = interpolator.estimate();
    EXPECT_EQ(e.midLeft, kListed[31] * 2 * a);
    EXPECT_EQ(e.midRight, -kListed[31] * 2 * a);
    EXPECT_NEAR(e.midLeft, 1.2714635196132 * a, 1e-15);
    EXPECT_EQ(e.centreLeft, a);
}

TEST(HalfbandInterpolator, ConstantInputGivesNearlyUnitGainAndCentreSample) {
    HalfbandInterpolator interpolator;
    const double a = 0.8;
    for (int i = 0; i < 64; ++i) interpolator.push(a, a);
    const HalfbandEstimate e = interpolator.estimate();
    EXPECT_NEAR(e.midLeft / a, 0.99999973, 1e-8);
    EXPECT_LT(std::fabs(e.midLeft), a);  // so the detector takes the centre sample
    EXPECT_EQ(e.centreLeft, a);
}

TEST(HalfbandInterpolator, CentreSampleIsThirtyOneFramesOld) {
    HalfbandInterpolator interpolator;
    for (int i = 1; i <= 300; ++i) {
        interpolator.push(i, -i);
        const HalfbandEstimate e = interpolator.estimate();
        const double expected = i > 31 ? i - 31 : 0.0;
        ASSERT_EQ(e.centreLeft, expected) << i;
        ASSERT_EQ(e.centreRight, -expected) << i;
    }
}

TEST(HalfbandInterpolator, MatchesDirectFormOnRandomInputAcrossWraps) {
    std::mt19937 random(99);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    HalfbandInterpolator interpolator;
    std::vector<double> left(64, 0.0);
    std::vector<double> right(64, 0.0);
    for (int n = 0; n < 500; ++n) {
        const double l = value(random);
        const double r = value(random);
        left[n % 64] = l;
        right[n % 64] = r;
        interpolator.push(l, r);
        const HalfbandEstimate e = interpolator.estimate();
        ASSERT_EQ(e.midLeft, referenceMid(left, n % 64)) << n;
        ASSERT_EQ(e.midRight, referenceMid(right, n % 64)) << n;
    }
}

TEST(HalfbandInterpolator, ResetAndClearForgetTheHistory) {
    HalfbandInterpolator interpolator;
    for (int i = 0; i < 40; ++i) interpolator.push(1.0, 1.0);
    interpolator.clear();
    HalfbandEstimate e = interpolator.estimate();
    EXPECT_EQ(e.midLeft, 0.0);
    EXPECT_EQ(e.centreRight, 0.0);
    for (int i = 0; i < 40; ++i) interpolator.push(1.0, 1.0);
    interpolator.reset();
    interpolator.push(0.0, 0.0);
    e = interpolator.estimate();
    EXPECT_EQ(e.midLeft, 0.0);
    EXPECT_EQ(e.centreLeft, 0.0);
}

// The coefficients as the paired kernels take them, each twice.
AlignedBuffer pairedCoefficients() {
    AlignedBuffer coefficients(2 * HalfbandCoefficients::kCount);
    for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
        coefficients.data()[2 * k] = HalfbandCoefficients::table()[k];
        coefficients.data()[2 * k + 1] = HalfbandCoefficients::table()[k];
    }
    return coefficients;
}

// Every kernel, for every run length (the wide kernels' remainders included), gives
// exactly the scalar filter's mid value for each frame of a straight history.
TEST(PairedHalfbandKernels, EveryKernelMatchesTheScalarFilterBitForBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    constexpr int kMaxFrames = 70;
    constexpr int kTail = 63;
    std::vector<double> left(kTail + kMaxFrames);
    std::vector<double> right(kTail + kMaxFrames);
    AlignedBuffer history(2 * (kTail + kMaxFrames));
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = value(random);
        right[i] = value(random) * 0.3;  // different lanes must stay apart
        history.data()[2 * i] = left[i];
        history.data()[2 * i + 1] = right[i];
    }
    // The scalar filter's estimate after each push, frame f being pushed sample kTail + f.
    HalfbandInterpolator scalar;
    std::vector<HalfbandEstimate> expected;
    for (std::size_t i = 0; i < left.size(); ++i) {
        scalar.push(left[i], right[i]);
        if (i >= kTail) expected.push_back(scalar.estimate());
    }
    const AlignedBuffer coefficients = pairedCoefficients();

    std::vector<std::pair<const char*, PairedHalfbandKernel>> kernels{
        {"baseline", &pairedHalfbandMidsBaseline}};
    if (pairedHalfbandAvxAvailable()) kernels.emplace_back("avx", &pairedHalfbandMidsAvx);
    for (const auto& [name, kernel] : kernels) {
        for (int frames = 1; frames <= kMaxFrames; ++frames) {
            AlignedBuffer mids(2 * kMaxFrames + 2);
            mids.data()[2 * frames] = 12345.0;  // must stay untouched
            kernel(history.data(), coefficients.data(), frames, mids.data());
            for (int f = 0; f < frames; ++f) {
                ASSERT_EQ(mids.data()[2 * f], expected[f].midLeft) << name << frames << " " << f;
                ASSERT_EQ(mids.data()[2 * f + 1], expected[f].midRight) << name << frames;
            }
            ASSERT_EQ(mids.data()[2 * frames], 12345.0) << name << frames;
        }
    }
}

// The detector's kernels: for every run length, the oversampled detector value of the
// scalar filter's estimate and the window's centre sample, taken as the engine's
// per-frame rule takes it (the value of larger magnitude, ties to the mid value, times
// the margin, its magnitude clamped). Limits near the values' range, so both clamps act.
TEST(PairedHalfbandKernels, EveryDetectorKernelGivesTheDetectorRuleBitForBit) {
    std::mt19937 random(13);
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    constexpr int kMaxFrames = 70;
    constexpr int kTail = 63;
    AlignedBuffer history(2 * (kTail + kMaxFrames));
    for (std::size_t i = 0; i < history.size(); ++i) {
        double v = value(random) * (i % 2 == 1 ? 0.3 : 1.0);
        if (i % 37 == 5) v = -v * 1e-7;  // some below the floor
        history.data()[i] = v;
    }
    HalfbandInterpolator scalar;
    std::vector<HalfbandEstimate> estimates;
    for (int i = 0; i < kTail + kMaxFrames; ++i) {
        scalar.push(history[static_cast<std::size_t>(2 * i)],
                    history[static_cast<std::size_t>(2 * i + 1)]);
        if (i >= kTail) estimates.push_back(scalar.estimate());
    }
    const HalfbandDetectorLimits limits{1.001, 1e-5, 1.5};
    const auto rule = [&](double mid, double centre) {
        const double larger = std::fabs(mid) >= std::fabs(centre) ? mid : centre;
        return std::min(std::max(std::fabs(larger * limits.margin), limits.floor), limits.largest);
    };
    const AlignedBuffer coefficients = pairedCoefficients();
    std::vector<std::pair<const char*, PairedHalfbandDetectorKernel>> kernels{
        {"baseline", &pairedHalfbandDetectorBaseline},
        {"selected", pairedHalfbandDetectorKernel()}};
    if (pairedHalfbandAvxAvailable()) kernels.emplace_back("avx", &pairedHalfbandDetectorAvx);
    for (const auto& [name, kernel] : kernels) {
        for (int frames = 1; frames <= kMaxFrames; ++frames) {
            AlignedBuffer detector(2 * kMaxFrames + 2);
            detector.data()[2 * frames] = 12345.0;  // must stay untouched
            kernel(history.data(), coefficients.data(), frames, limits, detector.data());
            for (int f = 0; f < frames; ++f) {
                const auto centre = static_cast<std::size_t>(2 * (f + 32));
                const auto at = static_cast<std::size_t>(f);
                ASSERT_EQ(detector.data()[2 * f], rule(estimates[at].midLeft, history[centre]))
                    << name << frames << " " << f;
                ASSERT_EQ(detector.data()[2 * f + 1],
                          rule(estimates[at].midRight, history[centre + 1]))
                    << name << frames << " " << f;
            }
            ASSERT_EQ(detector.data()[2 * frames], 12345.0) << name << frames;
        }
    }
}

// The meters' kernels: for every run length, the largest mid magnitude per lane of the
// scalar filter's estimates, and the run's last 63 pairs moved to the front.
TEST(PairedHalfbandKernels, EveryPeakKernelKeepsTheLargestMidAndMovesTheTail) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    constexpr int kMaxFrames = 70;
    constexpr int kTail = 63;
    std::vector<double> samples(2 * (kTail + kMaxFrames));
    for (double& s : samples) s = value(random);
    for (std::size_t i = 1; i < samples.size(); i += 2) samples[i] *= 0.3;
    const AlignedBuffer coefficients = pairedCoefficients();

    std::vector<std::pair<const char*, PairedHalfbandPeakKernel>> kernels{
        {"baseline", &pairedHalfbandPeakBaseline}, {"selected", pairedHalfbandPeakKernel()}};
    if (pairedHalfbandAvxAvailable()) kernels.emplace_back("avx", &pairedHalfbandPeakAvx);
    for (const auto& [name, kernel] : kernels) {
        for (int frames = 1; frames <= kMaxFrames; ++frames) {
            HalfbandInterpolator scalar;
            double peakLeft = 0.0;
            double peakRight = 0.0;
            for (int i = 0; i < kTail + frames; ++i) {
                scalar.push(samples[static_cast<std::size_t>(2 * i)],
                            samples[static_cast<std::size_t>(2 * i + 1)]);
                if (i < kTail) continue;
                const HalfbandEstimate e = scalar.estimate();
                peakLeft = std::max(peakLeft, std::fabs(e.midLeft));
                peakRight = std::max(peakRight, std::fabs(e.midRight));
            }
            AlignedBuffer history(samples.size());
            std::copy(samples.begin(), samples.end(), history.data());
            AlignedBuffer peak(2);
            kernel(history.data(), coefficients.data(), frames, peak.data());
            ASSERT_EQ(peak[0], peakLeft) << name << frames;
            ASSERT_EQ(peak[1], peakRight) << name << frames;
            for (int j = 0; j < 2 * kTail; ++j) {
                ASSERT_EQ(history[static_cast<std::size_t>(j)],
                          samples[static_cast<std::size_t>(2 * frames + j)])
                    << name << frames << " " << j;
            }
        }
    }
}

}  // namespace
}  // namespace tq
