#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paths/RealFft.h"
#include "paths/SmoothingKernel.h"

namespace tq {
namespace {

constexpr int kLengths[] = {8, 16, 32, 64, 128, 256};

TEST(SmoothingKernelTaps, OneLobeOfSincWithUnitSum) {
    for (int n : {4, 8, 16, 32, 64, 128, 256}) {
        std::vector<double> h(n);
        SmoothingKernel::computeTaps(n, h.data());
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            sum += h[i];
            EXPECT_GE(h[i], -1e-15) << n << " " << i;
            EXPECT_NEAR(h[i], h[n - 1 - i], 1e-14) << "symmetric, " << n << " " << i;
            if (i > 0 && i < n / 2) {
                EXPECT_GT(h[i], h[i - 1]) << "rises to the centre";
            }
        }
        EXPECT_NEAR(sum, 1.0, 1e-15) << n;
        EXPECT_NEAR(h[0], 0.0, 1e-15) << "sin(-pi)/pi";
    }
}

TEST(SmoothingKernelTaps, MatchesTheClosedFormWithinAbscissaRounding) {
    const int n = 64;
    std::vector<double> h(n);
    SmoothingKernel::computeTaps(n, h.data());
    const double pi = 3.14159265358979323846;
    std::vector<double> expected(n);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double x = -pi + i * 2.0 * pi / (n - 1);
        expected[i] = std::sin(x) / x;
        sum += expected[i];
    }
    for (int i = 0; i < n; ++i) EXPECT_NEAR(h[i], expected[i] / sum, 1e-13) << i;
}

TEST(SmoothingKernelSpectrum, InverseTransformGivesBackTheTapsInInterleavedHalves) {
    SmoothingKernel kernel;
    for (int n : kLengths) {
        ASSERT_TRUE(kernel.build(n, Flavour::Scalar));
        EXPECT_EQ(kernel.length(), n);
        std::vector<double> buffer(kernel.spectrum(), kernel.spectrum() + 2 * n);
        scalarFftForKernel(n)->inverse(buffer.data());
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(buffer[2 * i], kernel.taps()[i], 1e-15) << n << " " << i;
            EXPECT_NEAR(buffer[2 * i + 1], 0.0, 1e-15) << "zero padding, " << n << " " << i;
        }
    }
}

TEST(SmoothingKernelSpectrum, PairedLayoutHoldsTheScalarSpectrumInBothLanes) {
    SmoothingKernel scalar;
    SmoothingKernel paired;
    for (int n : kLengths) {
        ASSERT_TRUE(scalar.build(n, Flavour::Scalar));
        ASSERT_TRUE(paired.build(n, Flavour::Paired));
        EXPECT_EQ(paired.flavour(), Flavour::Paired);
        for (int i = 0; i < 2 * n; ++i) {
            ASSERT_EQ(paired.spectrum()[2 * i], scalar.spectrum()[i]) << n << " " << i;
            ASSERT_EQ(paired.spectrum()[2 * i + 1], scalar.spectrum()[i]) << n << " " << i;
        }
    }
}

TEST(SmoothingKernelSpectrum, SmallestKernelBuildsAndDcIsScaledByOneOverM) {
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(4, Flavour::Scalar));
    EXPECT_NEAR(kernel.spectrum()[0], 1.0 / 8.0, 1e-16);  // unit sum, times 1/M
}

TEST(SmoothingKernelSpectrum, UnsupportedLengthsChangeNothing) {
    SmoothingKernel kernel;
    ASSERT_TRUE(kernel.build(64, Flavour::Paired));
    const double before = kernel.spectrum()[5];
    for (int n : {0, -8, 3, 12, 512, 1 << 20}) {
        EXPECT_FALSE(kernel.build(n, Flavour::Scalar)) << n;
        EXPECT_EQ(kernel.length(), 64);
        EXPECT_EQ(kernel.flavour(), Flavour::Paired);
        EXPECT_EQ(kernel.spectrum()[5], before);
    }
}

}  // namespace
}  // namespace tq
