#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "paths/FftTwiddles.h"
#include "paths/RealFft.h"
#include "paths/WideBuild.h"

namespace {

using tq::RealFftSize;
using Bin = std::complex<long double>;

constexpr int kKernelLengths[] = {4, 8, 16, 32, 64, 128, 256};
constexpr int kMaxSize = 512;

// Capacity for the largest paired buffer (512 pairs), 16-byte aligned as the transforms need.
struct alignas(16) Buffer {
    std::array<double, 2 * kMaxSize> v{};
    double* data() { return v.data(); }
    double& operator[](int i) { return v[i]; }
};

std::vector<double> randomSignal(int length, std::mt19937& random) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> x(length);
    for (double& sample : x) {
        sample = value(random);
    }
    return x;
}

// Interleaved-halves order: pair k holds x[k] then x[k + M/2].
void storeInterleaved(const std::vector<double>& x, double* buffer) {
    const int half = static_cast<int>(x.size()) / 2;
    for (int k = 0; k < half; ++k) {
        buffer[2 * k] = x[k];
        buffer[2 * k + 1] = x[k + half];
    }
}

std::vector<double> loadInterleaved(const double* buffer, int size) {
    const int half = size / 2;
    std::vector<double> x(size);
    for (int k = 0; k < half; ++k) {
        x[k] = buffer[2 * k];
        x[k + half] = buffer[2 * k + 1];
    }
    return x;
}

// Paired layout: every value of `left` and `right` side by side.
void storePaired(const std::vector<double>& left, const std::vector<double>& right,
                 double* buffer) {
    std::vector<double> l(left.size()), r(right.size());
    storeInterleaved(left, l.data());
    storeInterleaved(right, r.data());
    for (std::size_t i = 0; i < l.size(); ++i) {
        buffer[2 * i] = l[i];
        buffer[2 * i + 1] = r[i];
    }
}

// X[k] = sum x[n] e^(+2 pi i n k / M), in long double, k taken modulo M.
Bin bruteForceBin(const std::vector<double>& x, int k) {
    const int size = static_cast<int>(x.size());
    const long double pi = 3.141592653589793238462643383279502884L;
    Bin sum = 0;
    const int bin = ((k % size) + size) % size;
    for (int n = 0; n < size; ++n) {
        const long double angle = 2 * pi * static_cast<long double>((n * bin) % size) / size;
        sum += static_cast<long double>(x[n]) * Bin(std::cos(angle), std::sin(angle));
    }
    return sum;
}

// Where the transform leaves each bin, derived from its recursion: a complex transform of
// size L puts its half-size transform (even bins) first, then the quarter-size transforms of
// bins 4j + 1 and 4j - 1. The real transform of size M puts its half-size real transform
// (even bins) in the lower half and the quarter-size complex transform (bins 4j + 1) above.
std::vector<int> complexBinOrder(int length) {
    if (length == 1) {
        return {0};
    }
    if (length == 2) {
        return {0, 1};
    }
    std::vector<int> order;
    for (int bin : complexBinOrder(length / 2)) {
        order.push_back(2 * bin);
    }
    for (int bin : complexBinOrder(length / 4)) {
        order.push_back(4 * bin + 1);
    }
    for (int bin : complexBinOrder(length / 4)) {
        order.push_back((4 * bin - 1 + length) % length);
    }
    return order;
}

// Bin of each complex spectrum pair 1 .. M/2 - 1 (entry 0 stands for the DC/Nyquist pair).
std::vector<int> realBinOrder(int size) {
    if (size == 8) {
        return {0, 2, 1, 5};
    }
    std::vector<int> order;
    for (int bin : realBinOrder(size / 2)) {
        order.push_back(2 * bin);
    }
    for (int bin : complexBinOrder(size / 4)) {
        order.push_back((4 * bin + 1) % size);
    }
    return order;
}

long double tolerance(int size) { return 1e-13L * size; }

// ---------------------------------------------------------------------------------------
// Table lookup

TEST(RealFftLookup, AnswersEveryKernelLengthWithItsSize) {
    for (int kernelLength : kKernelLengths) {
        for (const RealFftSize* fft :
             {tq::scalarFftForKernel(kernelLength), tq::pairedFftForKernel(kernelLength)}) {
            ASSERT_NE(fft, nullptr) << "N = " << kernelLength;
            EXPECT_EQ(fft->size, 2 * kernelLength);
            EXPECT_NE(fft->forward, nullptr);
            EXPECT_NE(fft->multiplySpectrum, nullptr);
            EXPECT_NE(fft->scaleKernelSpectrum, nullptr);
            EXPECT_EQ(fft->inverse == nullptr, kernelLength == 4) << "N = " << kernelLength;
        }
    }
    EXPECT_NE(tq::scalarFftForKernel(64)->forward, tq::pairedFftForKernel(64)->forward);
}

TEST(RealFftLookup, AnswersNullForAnyOtherLength) {
    for (int kernelLength : {0, 3, 12, 512, -8, 1, 2, 5, 1024, -4, std::numeric_limits<int>::max(),
                             std::numeric_limits<int>::min()}) {
        EXPECT_EQ(tq::scalarFftForKernel(kernelLength), nullptr) << "N = " << kernelLength;
        EXPECT_EQ(tq::pairedFftForKernel(kernelLength), nullptr) << "N = " << kernelLength;
    }
}

// ---------------------------------------------------------------------------------------
// Forward transform

TEST(RealFftForward, ConstantInputGivesDcOfSizeAndNothingElse) {
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        Buffer buffer;
        std::fill(buffer.v.begin(), buffer.v.begin() + size, 1.0);
        tq::scalarFftForKernel(kernelLength)->forward(buffer.data());
        EXPECT_EQ(buffer[0], size) << "M = " << size;
        EXPECT_EQ(buffer[1], 0.0) << "M = " << size;
        for (int i = 2; i < size; ++i) {
            EXPECT_EQ(buffer[i], 0.0) << "M = " << size << " value " << i;
        }
    }
}

TEST(RealFftForward, UnitImpulseGivesFlatSpectrum) {
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        Buffer buffer;
        buffer[0] = 1.0;
        tq::scalarFftForKernel(kernelLength)->forward(buffer.data());
        EXPECT_EQ(buffer[0], 1.0) << "M = " << size;
        EXPECT_EQ(buffer[1], 1.0) << "M = " << size;
        for (int pair = 1; pair < size / 2; ++pair) {
            EXPECT_EQ(buffer[2 * pair], 1.0) << "M = " << size << " pair " << pair;
            EXPECT_EQ(buffer[2 * pair + 1], 0.0) << "M = " << size << " pair " << pair;
        }
    }
}

TEST(RealFftForward, BaseTransformOfEightMatchesDirectDft) {
    std::mt19937 random(8);
    const std::vector<double> x = randomSignal(8, random);
    Buffer buffer;
    storeInterleaved(x, buffer.data());
    tq::scalarFftForKernel(4)->forward(buffer.data());
    const long double eps = 1e-15L;
    EXPECT_NEAR(buffer[0], bruteForceBin(x, 0).real(), eps);
    EXPECT_NEAR(buffer[1], bruteForceBin(x, 4).real(), eps);
    EXPECT_NEAR(buffer[2], bruteForceBin(x, 2).real(), eps);
    EXPECT_NEAR(buffer[3], bruteForceBin(x, 2).imag(), eps);
    EXPECT_NEAR(buffer[4], bruteForceBin(x, 1).real(), eps);
    EXPECT_NEAR(buffer[5], bruteForceBin(x, 1).imag(), eps);
    // The last pair is X[5], the conjugate of X[3].
    EXPECT_NEAR(buffer[6], bruteForceBin(x, 3).real(), eps);
    EXPECT_NEAR(buffer[7], -bruteForceBin(x, 3).imag(), eps);
}

TEST(RealFftForward, EveryBinMatchesDirectDftUpToConjugateSymmetry) {
    std::mt19937 random(20261207);
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        const std::vector<double> x = randomSignal(size, random);
        Buffer buffer;
        storeInterleaved(x, buffer.data());
        tq::scalarFftForKernel(kernelLength)->forward(buffer.data());

        EXPECT_NEAR(buffer[0], bruteForceBin(x, 0).real(), tolerance(size)) << "M = " << size;
        EXPECT_NEAR(buffer[1], bruteForceBin(x, size / 2).real(), tolerance(size))
            << "M = " << size;

        // Each complex pair must be X[k] or its conjugate for exactly one k in 1 .. M/2 - 1.
        std::vector<Bin> reference(size / 2);
        for (int k = 1; k < size / 2; ++k) {
            reference[k] = bruteForceBin(x, k);
        }
        std::vector<int> uses(size / 2, 0);
        for (int pair = 1; pair < size / 2; ++pair) {
            const Bin value(buffer[2 * pair], buffer[2 * pair + 1]);
            int found = 0;
            for (int k = 1; k < size / 2; ++k) {
                if (std::abs(value - reference[k]) < tolerance(size) ||
                    std::abs(value - std::conj(reference[k])) < tolerance(size)) {
                    found = k;
                    break;
                }
            }
            ASSERT_NE(found, 0) << "M = " << size << " pair " << pair << " matches no bin";
            ++uses[found];
        }
        for (int k = 1; k < size / 2; ++k) {
            EXPECT_EQ(uses[k], 1) << "M = " << size << " bin " << k;
        }
    }
}

TEST(RealFftForward, BinsSitWhereTheRecursionPutsThem) {
    std::mt19937 random(77);
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        const std::vector<double> x = randomSignal(size, random);
        Buffer buffer;
        storeInterleaved(x, buffer.data());
        tq::scalarFftForKernel(kernelLength)->forward(buffer.data());
        const std::vector<int> order = realBinOrder(size);
        ASSERT_EQ(static_cast<int>(order.size()), size / 2);
        for (int pair = 1; pair < size / 2; ++pair) {
            const Bin expected = bruteForceBin(x, order[pair]);
            EXPECT_NEAR(buffer[2 * pair], expected.real(), tolerance(size))
                << "M = " << size << " pair " << pair << " bin " << order[pair];
            EXPECT_NEAR(buffer[2 * pair + 1], expected.imag(), tolerance(size))
                << "M = " << size << " pair " << pair << " bin " << order[pair];
        }
    }
}

// ---------------------------------------------------------------------------------------
// Scaling, round trip and convolution

TEST(RealFftScale, FirstTwoValuesByOneOverSizeOthersByTwoOverSize) {
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        Buffer buffer;
        for (int i = 0; i < size; ++i) {
            buffer[i] = 3.0 + i;
        }
        tq::scalarFftForKernel(kernelLength)->scaleKernelSpectrum(buffer.data());
        for (int i = 0; i < size; ++i) {
            EXPECT_EQ(buffer[i], (3.0 + i) * (i < 2 ? 1.0 : 2.0) / size) << "M = " << size;
        }
        EXPECT_EQ(buffer[size], 0.0) << "wrote past the spectrum, M = " << size;
    }
}

TEST(RealFftRoundTrip, ForwardScaleInverseReturnsTheInput) {
    std::mt19937 random(5);
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        const RealFftSize* fft = tq::scalarFftForKernel(kernelLength);
        if (fft->inverse == nullptr) {
            continue;  // M = 8 has no inverse; its forward is checked against the DFT above
        }
        const std::vector<double> x = randomSignal(size, random);
        Buffer buffer;
        storeInterleaved(x, buffer.data());
        fft->forward(buffer.data());
        fft->scaleKernelSpectrum(buffer.data());
        fft->inverse(buffer.data());
        const std::vector<double> y = loadInterleaved(buffer.data(), size);
        for (int n = 0; n < size; ++n) {
            EXPECT_NEAR(y[n], x[n], 1e-15 * size) << "M = " << size << " n = " << n;
        }
    }
}

std::vector<double> fftConvolve(const RealFftSize& fft, const std::vector<double>& x,
                                const std::vector<double>& h) {
    Buffer kernel;
    storeInterleaved(h, kernel.data());
    fft.forward(kernel.data());
    fft.scaleKernelSpectrum(kernel.data());
    Buffer buffer;
    storeInterleaved(x, buffer.data());
    fft.forward(buffer.data());
    fft.multiplySpectrum(buffer.data(), kernel.data());
    fft.inverse(buffer.data());
    return loadInterleaved(buffer.data(), fft.size);
}

std::vector<double> circularConvolution(const std::vector<double>& x,
                                        const std::vector<double>& h) {
    const int size = static_cast<int>(x.size());
    std::vector<double> y(size);
    for (int n = 0; n < size; ++n) {
        long double sum = 0;
        for (int m = 0; m < size; ++m) {
            sum += static_cast<long double>(h[m]) * x[(n - m + size) % size];
        }
        y[n] = static_cast<double>(sum);
    }
    return y;
}

TEST(RealFftConvolution, ZeroPaddedBlocksGiveTheLinearConvolution) {
    std::mt19937 random(1234);
    for (int kernelLength : kKernelLengths) {
        const RealFftSize* fft = tq::scalarFftForKernel(kernelLength);
        if (fft->inverse == nullptr) {
            continue;
        }
        const int size = 2 * kernelLength;
        std::vector<double> x = randomSignal(kernelLength, random);
        std::vector<double> h = randomSignal(kernelLength, random);
        std::vector<double> direct(size, 0.0);
        for (int n = 0; n < kernelLength; ++n) {
            for (int m = 0; m < kernelLength; ++m) {
                direct[n + m] += h[m] * x[n];
            }
        }
        x.resize(size, 0.0);
        h.resize(size, 0.0);
        const std::vector<double> y = fftConvolve(*fft, x, h);
        for (int n = 0; n < size; ++n) {
            EXPECT_NEAR(y[n], direct[n], 1e-13 * size) << "N = " << kernelLength << " n = " << n;
        }
    }
}

TEST(RealFftConvolution, FullLengthBlocksGiveTheCircularConvolution) {
    std::mt19937 random(99);
    for (int kernelLength : kKernelLengths) {
        const RealFftSize* fft = tq::scalarFftForKernel(kernelLength);
        if (fft->inverse == nullptr) {
            continue;
        }
        const int size = 2 * kernelLength;
        const std::vector<double> x = randomSignal(size, random);
        const std::vector<double> h = randomSignal(size, random);
        const std::vector<double> y = fftConvolve(*fft, x, h);
        const std::vector<double> direct = circularConvolution(x, h);
        for (int n = 0; n < size; ++n) {
            EXPECT_NEAR(y[n], direct[n], 1e-13 * size) << "M = " << size << " n = " << n;
        }
    }
}

TEST(RealFftConvolution, ImpulseAtPositionShiftsTheKernel) {
    std::mt19937 random(4321);
    for (int kernelLength : kKernelLengths) {
        const RealFftSize* fft = tq::scalarFftForKernel(kernelLength);
        if (fft->inverse == nullptr) {
            continue;
        }
        const int size = 2 * kernelLength;
        std::vector<double> h = randomSignal(kernelLength, random);
        h.resize(size, 0.0);
        for (int position : {0, 1, kernelLength / 2, kernelLength - 1}) {
            std::vector<double> x(size, 0.0);
            x[position] = 1.0;
            const std::vector<double> y = fftConvolve(*fft, x, h);
            // In the first half: h shifted by `position`; the part past N lands in the second.
            for (int n = 0; n < size; ++n) {
                const double expected = n >= position ? h[n - position] : 0.0;
                EXPECT_NEAR(y[n], expected, 1e-14 * size)
                    << "N = " << kernelLength << " j = " << position << " n = " << n;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Paired flavour against scalar flavour

bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Runs `step` on two scalar buffers and on one paired buffer holding both, then compares
// every lane bit for bit.
template <class Step>
void expectPairedMatchesScalar(int kernelLength, const std::vector<double>& left,
                               const std::vector<double>& right, Step step, const char* what) {
    const int size = 2 * kernelLength;
    Buffer scalarLeft, scalarRight, paired;
    storeInterleaved(left, scalarLeft.data());
    storeInterleaved(right, scalarRight.data());
    storePaired(left, right, paired.data());
    step(*tq::scalarFftForKernel(kernelLength), scalarLeft.data());
    step(*tq::scalarFftForKernel(kernelLength), scalarRight.data());
    step(*tq::pairedFftForKernel(kernelLength), paired.data());
    int mismatches = 0;
    for (int i = 0; i < size; ++i) {
        mismatches += sameBits(paired[2 * i], scalarLeft[i]) ? 0 : 1;
        mismatches += sameBits(paired[2 * i + 1], scalarRight[i]) ? 0 : 1;
    }
    EXPECT_EQ(mismatches, 0) << what << ", M = " << size;
}

TEST(RealFftPaired, EveryStepIsBitIdenticalToScalarPerLane) {
    std::mt19937 random(2026);
    for (int kernelLength : kKernelLengths) {
        const int size = 2 * kernelLength;
        const std::vector<double> left = randomSignal(size, random);
        const std::vector<double> right = randomSignal(size, random);
        ASSERT_NE(left, right);

        expectPairedMatchesScalar(
            kernelLength, left, right, [](const RealFftSize& fft, double* b) { fft.forward(b); },
            "forward");
        expectPairedMatchesScalar(
            kernelLength, left, right,
            [](const RealFftSize& fft, double* b) { fft.scaleKernelSpectrum(b); }, "scale");
        if (kernelLength == 4) {
            continue;
        }
        expectPairedMatchesScalar(
            kernelLength, left, right, [](const RealFftSize& fft, double* b) { fft.inverse(b); },
            "inverse");

        // Whole convolution, with a different kernel per lane as well.
        const std::vector<double> kernelLeft = randomSignal(size, random);
        const std::vector<double> kernelRight = randomSignal(size, random);
        Buffer spectrumLeft, spectrumRight, spectrumPaired;
        storeInterleaved(kernelLeft, spectrumLeft.data());
        storeInterleaved(kernelRight, spectrumRight.data());
        storePaired(kernelLeft, kernelRight, spectrumPaired.data());
        const RealFftSize& scalar = *tq::scalarFftForKernel(kernelLength);
        const RealFftSize& paired = *tq::pairedFftForKernel(kernelLength);
        for (double* spectrum : {spectrumLeft.data(), spectrumRight.data()}) {
            scalar.forward(spectrum);
            scalar.scaleKernelSpectrum(spectrum);
        }
        paired.forward(spectrumPaired.data());
        paired.scaleKernelSpectrum(spectrumPaired.data());
        int kernelCall = 0;
        expectPairedMatchesScalar(
            kernelLength, left, right,
            [&](const RealFftSize& fft, double* b) {
                const double* kernel = &fft == &paired ? spectrumPaired.data()
                                                       : (kernelCall++ == 0 ? spectrumLeft.data()
                                                                            : spectrumRight.data());
                fft.forward(b);
                fft.multiplySpectrum(b, kernel);
                fft.inverse(b);
            },
            "forward, multiply, inverse");
    }
}

// The convolution as one call, and its AVX2 build where this processor runs it, give
// exactly the three steps' bits, in both layouts.
TEST(RealFftConvolution, OneCallAndItsWideBuildMatchTheThreeSteps) {
    std::mt19937 random(77);
    for (int kernelLength : kKernelLengths) {
        if (kernelLength == 4) continue;
        const int size = 2 * kernelLength;
        for (const RealFftSize* fft :
             {tq::scalarFftForKernel(kernelLength), tq::pairedFftForKernel(kernelLength)}) {
            const int doubles = fft == tq::scalarFftForKernel(kernelLength) ? size : 2 * size;
            Buffer kernel, steps, oneCall, wide;
            for (int i = 0; i < doubles; ++i) {
                kernel[i] = randomSignal(1, random)[0];
                steps[i] = oneCall[i] = wide[i] = randomSignal(1, random)[0];
            }
            fft->forward(kernel.data());
            fft->scaleKernelSpectrum(kernel.data());
            fft->forward(steps.data());
            fft->multiplySpectrum(steps.data(), kernel.data());
            fft->inverse(steps.data());
            fft->convolve(oneCall.data(), kernel.data());
            for (int i = 0; i < doubles; ++i) {
                ASSERT_TRUE(sameBits(oneCall[i], steps[i])) << kernelLength << " " << i;
            }
            if (fft->convolveWide == nullptr || !tq::wideBuildAvailable()) continue;
            fft->convolveWide(wide.data(), kernel.data());
            for (int i = 0; i < doubles; ++i) {
                ASSERT_TRUE(sameBits(wide[i], steps[i])) << "wide " << kernelLength << " " << i;
            }
        }
    }
}

// Overlap-add in one call, in every build, against the in-place convolution it stands for:
// the block zero-padded in interleaved-halves order, convolved, first half plus the tail
// out, second half the new tail. Several blocks in a row, so the tail is carried; the
// scratch starts as garbage, and negative zeros go through the padding's addition.
TEST(RealFftOverlapAdd, EveryBuildGivesTheInPlaceConvolutionsBits) {
    std::mt19937 random(91);
    for (int kernelLength : kKernelLengths) {
        for (bool paired : {false, true}) {
            const RealFftSize* fft = paired ? tq::pairedFftForKernel(kernelLength)
                                            : tq::scalarFftForKernel(kernelLength);
            if (kernelLength == 4) {
                EXPECT_EQ(fft->overlapAdd, nullptr);
                continue;
            }
            const int lanes = paired ? 2 : 1;
            const int half = kernelLength * lanes;  // doubles in N values
            Buffer kernel;
            for (int i = 0; i < 2 * half; ++i) kernel[i] = randomSignal(1, random)[0];
            fft->forward(kernel.data());
            fft->scaleKernelSpectrum(kernel.data());

            // The wide build may read the kernel in its own layout.
            Buffer wideKernel = kernel;
            if (fft->prepareWideKernel != nullptr) {
                fft->prepareWideKernel(kernel.data(), wideKernel.data());
            }
            using Entry = void (*)(const double*, const double*, double*, double*, double*);
            struct Build {
                Entry entry;
                const double* kernel;
                const char* name;
            };
            std::vector<Build> builds = {{fft->overlapAdd, kernel.data(), "plain"}};
            if (fft->overlapAddWide != nullptr && tq::wideBuildAvailable()) {
                builds.push_back({fft->overlapAddWide, wideKernel.data(), "wide"});
            }
            for (const auto& [entry, buildKernel, name] : builds) {
                Buffer block, expectedTail, tail, output, work;
                for (int blockIndex = 0; blockIndex < 5; ++blockIndex) {
                    // Random, constant, signed zeros, alternating: blocks whose sums and
                    // differences cancel exactly, where a sign of zero could differ.
                    std::vector<double> in = randomSignal(half, random);
                    for (int i = 0; i < half; ++i) {
                        if (blockIndex == 1) in[i] = 0.375;
                        if (blockIndex == 2) in[i] = (i % 3 == 0) ? -0.0 : 0.0;
                        if (blockIndex == 3) in[i] = (i / lanes) % 2 == 0 ? 1.0 : -1.0;
                    }
                    in[1] = -0.0;
                    // The reference: one pair (value, 0) per frame, lanes side by side.
                    for (int k = 0; k < kernelLength; ++k) {
                        for (int lane = 0; lane < lanes; ++lane) {
                            block[(2 * k) * lanes + lane] = in[k * lanes + lane];
                            block[(2 * k + 1) * lanes + lane] = 0.0;
                        }
                    }
                    fft->convolve(block.data(), kernel.data());
                    std::vector<double> expectedOutput(half);
                    for (int k = 0; k < kernelLength; ++k) {
                        for (int lane = 0; lane < lanes; ++lane) {
                            const int i = k * lanes + lane;
                            expectedOutput[i] = block[(2 * k) * lanes + lane] + expectedTail[i];
                            expectedTail[i] = block[(2 * k + 1) * lanes + lane];
                        }
                    }
                    for (int i = 0; i < 2 * half; ++i) work[i] = 1e300;
                    entry(in.data(), buildKernel, tail.data(), output.data(), work.data());
                    for (int i = 0; i < half; ++i) {
                        ASSERT_TRUE(sameBits(output[i], expectedOutput[i]))
                            << name << " N " << kernelLength << " block " << blockIndex << " " << i;
                        ASSERT_TRUE(sameBits(tail[i], expectedTail[i]))
                            << name << " N " << kernelLength << " tail " << i;
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Rotation factors

#if defined(__SIZEOF_FLOAT128__)
using Quad = __float128;

// cos and sin of 0 <= angle <= pi/2 by Taylor series in 113-bit arithmetic.
void quadCosSin(Quad angle, Quad& cosine, Quad& sine) {
    Quad term = 1;
    cosine = 0;
    sine = 0;
    for (int n = 0; n < 60; ++n) {
        // term = angle^n / n!
        if (n % 4 == 0) cosine += term;
        if (n % 4 == 1) sine += term;
        if (n % 4 == 2) cosine -= term;
        if (n % 4 == 3) sine -= term;
        term = term * angle / (n + 1);
    }
}

template <int tableSize>
void expectTableCorrectlyRounded() {
    const Quad pi = Quad(3.141592653589793116) + Quad(1.2246467991473532e-16);
    const auto& scalar = tq::kFftTwiddles<tableSize, 1>.values;
    const auto& paired = tq::kFftTwiddles<tableSize, 2>.values;
    EXPECT_EQ(std::size(scalar), static_cast<std::size_t>(tableSize / 2 - 2));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&paired[0]) % 16, 0u);
    for (int k = 1; k < tableSize / 4; ++k) {
        Quad cosine, sine;
        quadCosSin(2 * pi * k / tableSize, cosine, sine);
        EXPECT_TRUE(sameBits(scalar[2 * (k - 1)], static_cast<double>(cosine)))
            << "T = " << tableSize << " k = " << k;
        EXPECT_TRUE(sameBits(scalar[2 * (k - 1) + 1], static_cast<double>(sine)))
            << "T = " << tableSize << " k = " << k;
        for (int copy = 0; copy < 2; ++copy) {
            EXPECT_TRUE(sameBits(paired[4 * (k - 1) + copy], scalar[2 * (k - 1)]));
            EXPECT_TRUE(sameBits(paired[4 * (k - 1) + 2 + copy], scalar[2 * (k - 1) + 1]));
        }
    }
}

TEST(RealFftTwiddles, TablesAreCorrectlyRoundedCosinesAndSines) {
    expectTableCorrectlyRounded<32>();
    expectTableCorrectlyRounded<64>();
    expectTableCorrectlyRounded<128>();
    expectTableCorrectlyRounded<256>();
    expectTableCorrectlyRounded<512>();
}
#endif

TEST(RealFftTwiddles, SmallTransformConstantsAgreeWithTheTables) {
    const auto& table = tq::kFftTwiddles<32, 1>.values;  // k = 1: pi/16, k = 2: pi/8, k = 4: pi/4
    EXPECT_EQ(tq::kFftCosPi8, table[2]);
    EXPECT_EQ(tq::kFftSinPi8, table[3]);
    EXPECT_EQ(tq::kFftSqrtHalf, table[6]);
    EXPECT_EQ(tq::kFftSqrtHalf, table[7]);
    EXPECT_EQ(tq::kFftSqrtHalf, std::sqrt(0.5));
}

}  // namespace
