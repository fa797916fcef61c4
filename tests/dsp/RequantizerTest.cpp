#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "dsp/EngineSettings.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"

namespace {

using tq::EngineParameters;
using tq::NoiseGenerator;
using tq::RateSettings;
using tq::Requantizer;

constexpr int kBits8 = 0;
constexpr int kBits16 = 1;
constexpr int kBits24 = 2;

struct Stage {
    EngineParameters parameters;
    RateSettings rates;
    Requantizer requantizer;
    NoiseGenerator generator;

    Stage(int bits, int set, bool autoblack, int rate = 44100) {
        rates.update(rate, 2);
        parameters.quantize = true;
        parameters.bits = bits;
        parameters.noiseShapeSet = set;
        parameters.autoblack = autoblack;
        requantizer.reset();
        requantizer.clear();
        requantizer.beginBlock(parameters, rates);
    }
    void frame(double l, double r, double& yl, double& yr) {
        requantizer.frame(l, r, yl, yr, generator);
    }
};

// ---------------------------------------------------------------------------
// Word lengths

TEST(RequantizerWordLength, SixteenBitConstantQuarterGivesOnlyTwoValues) {
    Stage s(kBits16, tq::kNoiseShapeOff, false);
    std::set<double> seen;
    for (int i = 0; i < 20000; ++i) {
        double l = 0.0, r = 0.0;
        s.frame(0.25, 0.25, l, r);
        ASSERT_TRUE(l == 0.25 || l == 0.25 - 1.0 / 32768.0) << l;
        ASSERT_TRUE(r == 0.25 || r == 0.25 - 1.0 / 32768.0) << r;
        seen.insert(l);
        seen.insert(r);
    }
    // The dither must actually move the result between the two neighbours.
    EXPECT_EQ(seen.size(), 2u);
}

void expectStepsOf(int bits, double step) {
    Stage s(bits, tq::kNoiseShapeOff, false);
    for (int i = 0; i < 20000; ++i) {
        const double in = 0.7 * std::sin(0.01 * i);
        double l = 0.0, r = 0.0;
        s.frame(in, -in, l, r);
        ASSERT_EQ(l / step, std::round(l / step)) << "frame " << i;
        ASSERT_EQ(r / step, std::round(r / step)) << "frame " << i;
        // Triangular dither spans one step each way; truncation takes at most one more.
        ASSERT_LT(std::fabs(l - in), 2.0 * step);
        ASSERT_LT(std::fabs(r + in), 2.0 * step);
    }
}

TEST(RequantizerWordLength, EightBitOutputsAreMultiplesOfOne128th) {
    expectStepsOf(kBits8, 1.0 / 128.0);
}

TEST(RequantizerWordLength, TwentyFourBitOutputsAreMultiplesOfTheirStep) {
    expectStepsOf(kBits24, 1.0 / 8388608.0);
}

TEST(RequantizerWordLength, UnknownBitsStepCountsAsSixteenBits) {
    EXPECT_EQ(Requantizer::scaleForBitsStep(-1), 32768.0);
    EXPECT_EQ(Requantizer::scaleForBitsStep(7), 32768.0);
    EXPECT_EQ(Requantizer::scaleForBitsStep(0), 128.0);
    EXPECT_EQ(Requantizer::scaleForBitsStep(2), 8388608.0);
}

TEST(RequantizerWordLength, OutputIsClippedToFullScale) {
    Stage s(kBits16, tq::kNoiseShapeOff, false);
    for (int i = 0; i < 1000; ++i) {
        double l = 0.0, r = 0.0;
        s.frame(1.2, -5.0, l, r);
        ASSERT_EQ(l, 1.0);
        ASSERT_EQ(r, -1.0);
    }
}

TEST(RequantizerWordLength, HugeInputStaysDefinedAndTheLoopRecovers) {
    Stage s(kBits24, 13, false);  // type C, the longest loop
    double l = 0.0, r = 0.0;
    for (int i = 0; i < 100; ++i) s.frame(1e6, -1e6, l, r);
    EXPECT_EQ(l, 1.0);
    EXPECT_EQ(r, -1.0);
    for (int i = 0; i < 100; ++i) s.frame(0.0, 0.0, l, r);
    // The stored errors are quantization errors, never the size of the signal.
    EXPECT_LT(std::fabs(l), 1e-4);
    EXPECT_LT(std::fabs(r), 1e-4);
}

// ---------------------------------------------------------------------------
// Noise-shaping selection

struct TableFacts {
    double first;
    double last;
    int taps;
};

// c1, the last listed coefficient and the number listed, per type (A, B, C) and rate.
const TableFacts kFacts[3][6] = {
    {{-1.14927, -0.222153, 3},
     {-1.320576, -0.3339, 3},
     {-2.295096, -0.751798, 3},
     {-2.361518, -0.758101, 3},
     {-1.974841, -0.120763, 3},
     {-1.830033, 0.038527, 3}},
    {{-1.98998, 0.094727, 12},
     {-2.292807, -0.093739, 12},
     {-2.569667, 0.055997, 12},
     {-2.420053, -0.157513, 12},
     {-1.583163, -0.145297, 12},
     {-1.478775, -0.110211, 12}},
    {{-2.373123, 0.151443, 11},
     {-2.550927, 0.052365, 11},
     {-2.348798, -0.083328, 12},
     {-2.228022, -0.01671, 12},
     {-1.29969, 0.15463, 11},
     {-1.322058, 0.146967, 11}},
};
const int kRates[6] = {44100, 48000, 88200, 96000, 176400, 192000};

TEST(RequantizerNoiseShapeSelection, EveryTypeAndRateSelectsItsOwnTable) {
    Stage s(kBits16, tq::kNoiseShapeOff, false);
    std::set<int> used;
    for (int type = 1; type <= 3; ++type) {
        for (int r = 0; r < 6; ++r) {
            const int set = tq::selectNoiseShapeSet(type, kRates[r], tq::kNoiseShapeOff);
            s.parameters.noiseShapeSet = set;
            s.requantizer.beginBlock(s.parameters, s.rates);
            ASSERT_EQ(s.requantizer.selectedSet(), 1 + (type - 1) * 6 + r);
            used.insert(set);
            const auto& c = s.requantizer.coefficientSet(set);
            const TableFacts& facts = kFacts[type - 1][r];
            EXPECT_EQ(c[0], facts.first) << "type " << type << " rate " << kRates[r];
            EXPECT_EQ(c[static_cast<std::size_t>(facts.taps - 1)], facts.last)
                << "type " << type << " rate " << kRates[r];
            for (int k = facts.taps; k < 12; ++k) EXPECT_EQ(c[static_cast<std::size_t>(k)], 0.0);
            for (int k = 0; k < facts.taps; ++k) EXPECT_NE(c[static_cast<std::size_t>(k)], 0.0);
        }
    }
    EXPECT_EQ(used.size(), 18u);
}

TEST(RequantizerNoiseShapeSelection, SetZeroIsAllZeroAndOffSelectsIt) {
    Stage s(kBits16, 5, false);
    EXPECT_EQ(tq::selectNoiseShapeSet(0, 44100, 7), tq::kNoiseShapeOff);
    for (double c : s.requantizer.coefficientSet(0)) EXPECT_EQ(c, 0.0);
}

TEST(RequantizerNoiseShapeSelection, UnlistedRateKeepsThePreviousSet) {
    EXPECT_EQ(tq::selectNoiseShapeSet(2, 32000, tq::kNoiseShapeOff), tq::kNoiseShapeOff);
    const int previous = tq::selectNoiseShapeSet(3, 96000, 0);
    EXPECT_EQ(tq::selectNoiseShapeSet(2, 32000, previous), previous);
    EXPECT_EQ(tq::selectNoiseShapeSet(1, 176400, previous), 5);
    EXPECT_EQ(tq::selectNoiseShapeSet(2, 176400, previous), 11);
    EXPECT_EQ(tq::selectNoiseShapeSet(3, 176400, previous), 17);
}

TEST(RequantizerNoiseShapeSelection, OutOfRangeIndicesFallBackToTheZeroSet) {
    for (int bad : {-1, -1000, 19, 20, 1 << 30}) {
        Stage s(kBits16, bad, false);
        EXPECT_EQ(s.requantizer.selectedSet(), tq::kNoiseShapeOff) << bad;
        double l = 0.0, r = 0.0;
        for (int i = 0; i < 100; ++i) s.frame(0.25, 0.25, l, r);
        EXPECT_TRUE(l == 0.25 || l == 0.25 - 1.0 / 32768.0);
        for (double c : s.requantizer.coefficientSet(bad)) EXPECT_EQ(c, 0.0);
    }
}

// ---------------------------------------------------------------------------
// Error feedback

// The loop written out the plain way: a 12-entry ring with modulo indexing.
struct DirectQuantizer {
    std::vector<double> c;
    double histL[12] = {};
    double histR[12] = {};
    int p = 0;
    double scale;
    NoiseGenerator generator;

    // F = sum of c_k e[n - k], added from the oldest error (k = 12) to the newest.
    double one(double o, double* hist) {
        double f = 0.0;
        for (int k = 12; k >= 1; --k)
            f += c[static_cast<std::size_t>(k - 1)] * hist[((p - (k - 1)) % 12 + 12) % 12];
        return o + f;
    }
    double quantize(double x, double* hist) {
        const double u1 = generator.nextUniform();
        const double u2 = generator.nextUniform();
        const double d = 0.5 * (u1 + u2);
        const double q = std::trunc(x * scale + scale + d);
        const double y = (q - scale) * (1.0 / scale);
        hist[p] = y - x;
        return y;
    }
    void frame(double oL, double oR, double& yL, double& yR) {
        const double xL = one(oL, histL);
        const double xR = one(oR, histR);
        p = (p + 1) % 12;
        const double qL = quantize(xL, histL);
        const double qR = quantize(xR, histR);
        yL = 0.5 * (std::fabs(qL + 1.0) - std::fabs(qL - 1.0));
        yR = 0.5 * (std::fabs(qR + 1.0) - std::fabs(qR - 1.0));
    }
};

void expectMatchesDirectComputation(int set, int bits) {
    Stage s(bits, set, false);
    DirectQuantizer direct;
    const auto& table = s.requantizer.coefficientSet(set);
    direct.c.assign(table.begin(), table.end());
    direct.scale = Requantizer::scaleForBitsStep(bits);
    for (int i = 0; i < 5000; ++i) {
        if (i == 2345) {
            // A NoiseShape change or rate change restarts the position only.
            s.parameters.shaperResetSerial.fetch_add(1);
            s.requantizer.beginBlock(s.parameters, s.rates);
            direct.p = 0;
        }
        if (i == 3456 || i == 4321) {
            // A new word length keeps the error history as it is.
            const int other = s.parameters.bits == kBits8 ? kBits24 : kBits8;
            s.parameters.bits = other;
            s.requantizer.beginBlock(s.parameters, s.rates);
            direct.scale = Requantizer::scaleForBitsStep(other);
        }
        const double inL = 0.45 * std::sin(0.031 * i) + 0.2 * std::sin(0.0071 * i);
        const double inR = 0.6 * std::cos(0.017 * i);
        double l = 0.0, r = 0.0, dl = 0.0, dr = 0.0;
        s.frame(inL, inR, l, r);
        direct.frame(inL, inR, dl, dr);
        ASSERT_EQ(l, dl) << "set " << set << " frame " << i;
        ASSERT_EQ(r, dr) << "set " << set << " frame " << i;
    }
}

TEST(RequantizerFeedback, MatchesDirectComputationForEveryTable) {
    for (int set = 0; set < tq::kNoiseShapeSetCount; ++set)
        expectMatchesDirectComputation(set, kBits8);
    expectMatchesDirectComputation(13, kBits16);
    expectMatchesDirectComputation(7, kBits24);
}

TEST(RequantizerFeedback, ShapingMovesErrorPowerOutOfTheLowBand) {
    // With type A at 44100 the error spectrum is |1 + c1 z^-1 + ...|^2: low frequencies
    // are suppressed. Compare low-passed error power with and without shaping.
    auto lowBandErrorPower = [](int set) {
        Stage s(kBits8, set, false);
        double lp = 0.0, power = 0.0;
        for (int i = 0; i < 40000; ++i) {
            const double in = 0.3 * std::sin(0.002 * i);
            double l = 0.0, r = 0.0;
            s.frame(in, in, l, r);
            lp += 0.01 * ((l - in) - lp);
            if (i > 1000) power += lp * lp;
        }
        return power;
    };
    EXPECT_LT(lowBandErrorPower(1), 0.2 * lowBandErrorPower(0));
}

TEST(RequantizerFeedback, SerialChangeRestartsPositionAndResetToo) {
    Stage s(kBits16, 1, false);
    double l = 0.0, r = 0.0;
    for (int i = 0; i < 5; ++i) s.frame(0.1, 0.1, l, r);
    EXPECT_EQ(s.requantizer.position(), 5);
    s.requantizer.beginBlock(s.parameters, s.rates);  // same serial: position kept
    EXPECT_EQ(s.requantizer.position(), 5);
    s.parameters.shaperResetSerial.fetch_add(1);
    s.requantizer.beginBlock(s.parameters, s.rates);
    EXPECT_EQ(s.requantizer.position(), 0);
    for (int i = 0; i < 14; ++i) s.frame(0.1, 0.1, l, r);
    EXPECT_EQ(s.requantizer.position(), 2);
    s.requantizer.reset();
    EXPECT_EQ(s.requantizer.position(), 0);
    EXPECT_EQ(s.requantizer.autoblackLevel(), Requantizer::kAutoblackStart);
}

// ---------------------------------------------------------------------------
// Autoblack

TEST(RequantizerAutoblack, SilenceSinceResetStaysBelowOneE20) {
    Stage s(kBits16, 13, true);
    double l = 0.0, r = 0.0;
    for (int i = 0; i < 44100; ++i) {
        s.frame(0.0, 0.0, l, r);
        ASSERT_LE(std::fabs(l), 1e-20) << i;
        ASSERT_LE(std::fabs(r), 1e-20) << i;
    }
}

TEST(RequantizerAutoblack, OneSampleAboveThresholdRestoresFullLevelAtOnce) {
    Stage on(kBits16, 13, true);
    Stage off(kBits16, 13, false);
    double l = 0.0, r = 0.0, refL = 0.0, refR = 0.0;
    for (int i = 0; i < 1000; ++i) {
        on.frame(0.0, 0.0, l, r);
        off.frame(0.0, 0.0, refL, refR);
    }
    // The histories keep running while the output is held at silence.
    on.frame(0.0, 2e-8, l, r);
    off.frame(0.0, 2e-8, refL, refR);
    EXPECT_EQ(on.requantizer.autoblackLevel(), 1.0);
    EXPECT_EQ(l, refL);
    EXPECT_EQ(r, refR);
    // Afterwards the level falls with its 10 ms time constant.
    for (int i = 0; i < 441; ++i) {
        on.frame(0.0, 0.0, l, r);
        off.frame(0.0, 0.0, refL, refR);
        const double level = on.requantizer.autoblackLevel();
        ASSERT_NEAR(l, refL * level, 1e-15);
        ASSERT_NEAR(r, refR * level, 1e-15);
    }
    EXPECT_NEAR(on.requantizer.autoblackLevel(), std::exp(-1.0), 1e-3);
}

TEST(RequantizerAutoblack, ThresholdIsStrict) {
    Stage s(kBits16, tq::kNoiseShapeOff, true);
    double l = 0.0, r = 0.0;
    s.frame(1e-8, -1e-8, l, r);
    EXPECT_LT(s.requantizer.autoblackLevel(), 1e-19);
    s.frame(0.0, -1.5e-8, l, r);
    EXPECT_EQ(s.requantizer.autoblackLevel(), 1.0);
}

TEST(RequantizerAutoblack, OffMeansFullLevelFromTheFirstFrame) {
    Stage s(kBits16, tq::kNoiseShapeOff, false);
    double l = 0.0, r = 0.0;
    s.frame(0.0, 0.0, l, r);
    EXPECT_EQ(s.requantizer.autoblackLevel(), 1.0);
}

// ---------------------------------------------------------------------------
// Generator use

TEST(RequantizerDraws, FourDrawsPerQuantizedFrameLeftBeforeRight) {
    Stage s(kBits8, tq::kNoiseShapeOff, false);
    NoiseGenerator reference;
    double l = 0.0, r = 0.0;
    for (int i = 0; i < 100; ++i) {
        s.frame(0.1, 0.2, l, r);
        const double u1 = reference.nextUniform();
        const double u2 = reference.nextUniform();
        const double u3 = reference.nextUniform();
        const double u4 = reference.nextUniform();
        ASSERT_EQ(l, (std::trunc(0.1 * 128 + 128 + 0.5 * (u1 + u2)) - 128) / 128);
        ASSERT_EQ(r, (std::trunc(0.2 * 128 + 128 + 0.5 * (u3 + u4)) - 128) / 128);
    }
    EXPECT_EQ(s.generator.word1(), reference.word1());
    EXPECT_EQ(s.generator.word2(), reference.word2());
    EXPECT_EQ(s.generator.word3(), reference.word3());
}

TEST(RequantizerDraws, QuantizeOffOnlyClipsAndLeavesTheGeneratorAlone) {
    Stage s(kBits16, 13, true);
    s.parameters.quantize = false;
    s.requantizer.beginBlock(s.parameters, s.rates);
    EXPECT_FALSE(s.requantizer.enabled());
    const NoiseGenerator untouched;
    double l = 0.0, r = 0.0;
    s.frame(1.5, -3.0, l, r);
    EXPECT_EQ(l, 1.0);
    EXPECT_EQ(r, -1.0);
    s.frame(0.3, -0.123456789, l, r);
    EXPECT_EQ(l, 0.3);
    EXPECT_EQ(r, -0.123456789);
    EXPECT_EQ(s.generator.word1(), untouched.word1());
    EXPECT_EQ(s.generator.word2(), untouched.word2());
    EXPECT_EQ(s.generator.word3(), untouched.word3());
    EXPECT_EQ(s.requantizer.position(), 0);
    EXPECT_EQ(s.requantizer.autoblackLevel(), Requantizer::kAutoblackStart);
}

TEST(RequantizerDraws, SameResetGivesTheSameDither) {
    auto run = [] {
        Stage s(kBits16, 9, false);
        std::vector<double> out;
        double l = 0.0, r = 0.0;
        for (int i = 0; i < 500; ++i) {
            s.frame(0.01 * std::sin(0.1 * i), 0.0, l, r);
            out.push_back(l);
            out.push_back(r);
        }
        return out;
    };
    EXPECT_EQ(run(), run());
}

}  // namespace
