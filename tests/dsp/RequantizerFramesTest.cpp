#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/EngineSettings.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"

namespace {

using tq::DoublePair;
using tq::EngineParameters;
using tq::NoiseGenerator;
using tq::RateSettings;
using tq::Requantizer;
using tq::RequantizerFrames;

// One channel at a time, 12-entry rings with modulo indexing, std::trunc, autoblack.
struct PlainRequantizer {
    std::vector<double> c;
    double histL[12] = {};
    double histR[12] = {};
    int p = 0;
    double scale = 32768.0;
    double level = 1e-20;
    double autoblackCoefficient = 0.0;
    bool autoblack = false;
    NoiseGenerator generator;

    double shaped(double o, const double* hist) const {
        double f = 0.0;
        for (int k = 0; k < 12; ++k) f += c[static_cast<std::size_t>(k)] * hist[(p - k + 12) % 12];
        return o + f;
    }
    double quantize(double x, double* hist) {
        const double u1 = generator.nextUniform();
        const double u2 = generator.nextUniform();
        const double q = std::trunc(x * scale + scale + 0.5 * (u1 + u2));
        const double y = (q - scale) * (1.0 / scale);
        hist[p] = y - x;
        return y;
    }
    void frame(double oL, double oR, double& yL, double& yR) {
        if (!autoblack || std::fabs(oL) > 1e-8 || std::fabs(oR) > 1e-8) {
            level = 1.0;
        } else {
            level = level - autoblackCoefficient * level;
        }
        level = (level + 1e-30) - 1e-30;
        const double xL = shaped(oL, histL);
        const double xR = shaped(oR, histR);
        p = (p + 1) % 12;
        const double qL = quantize(xL, histL) * level;
        const double qR = quantize(xR, histR) * level;
        yL = 0.5 * (std::fabs(qL + 1.0) - std::fabs(qL - 1.0));
        yR = 0.5 * (std::fabs(qR + 1.0) - std::fabs(qR - 1.0));
    }
    void clear() {
        for (double& e : histL) e = 0.0;
        for (double& e : histR) e = 0.0;
    }
};

// Blocks of RequantizerFrames against the plain loop: programme material, silence (the
// autoblack fade), samples far outside full scale (beyond the fast truncation's range)
// and history clears between blocks.
void expectBlocksMatchThePlainLoop(int set, int bits, bool autoblack, unsigned seed) {
    EngineParameters parameters;
    RateSettings rates;
    rates.update(48000, 2);
    parameters.quantize = true;
    parameters.bits = bits;
    parameters.noiseShapeSet = set;
    parameters.autoblack = autoblack;
    Requantizer requantizer;
    requantizer.reset();
    requantizer.clear();
    NoiseGenerator generator;

    PlainRequantizer plain;
    const auto& table = requantizer.coefficientSet(set);
    plain.c.assign(table.begin(), table.end());
    plain.scale = Requantizer::scaleForBitsStep(bits);
    plain.autoblack = autoblack;
    plain.autoblackCoefficient = rates.autoblackCoefficient;

    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    int frame = 0;
    for (int block = 0; block < 60; ++block) {
        if (block % 17 == 16) {
            requantizer.clear();
            plain.clear();
        }
        requantizer.beginBlock(parameters, rates);
        RequantizerFrames frames = requantizer.frames();
        const int count = 1 + static_cast<int>(random() % 300);
        for (int i = 0; i < count; ++i, ++frame) {
            double l = 0.7 * std::sin(0.02 * frame) + 0.1 * uniform(random);
            double r = 0.5 * uniform(random);
            if (block % 5 == 3) l = r = 0.0;                         // silence
            if (block % 7 == 4 && i < 3) l = 3e4 * uniform(random);  // far beyond 2^31 / S
            if (block % 11 == 6) r = -1e6;
            double pl = 0.0, pr = 0.0;
            plain.frame(l, r, pl, pr);
            const DoublePair y = frames.frame(DoublePair(l, r), generator);
            ASSERT_EQ(y.left(), pl) << set << " frame " << frame;
            ASSERT_EQ(y.right(), pr) << set << " frame " << frame;
        }
        requantizer.endBlock(frames);
        ASSERT_EQ(requantizer.position(), plain.p);
        ASSERT_EQ(requantizer.autoblackLevel(), plain.level);
    }
    EXPECT_EQ(generator.word1(), plain.generator.word1());
    EXPECT_EQ(generator.word2(), plain.generator.word2());
    EXPECT_EQ(generator.word3(), plain.generator.word3());
}

TEST(RequantizerFrames, BlocksMatchThePlainLoopForEveryTable) {
    for (int set = 0; set < tq::kNoiseShapeSetCount; ++set) {
        expectBlocksMatchThePlainLoop(set, set % 3, set % 2 == 0, 40u + static_cast<unsigned>(set));
    }
}

TEST(RequantizerFrames, TwentyFourBitsFarOutsideFullScaleStillTruncateTowardZero) {
    // 24 bits put 1e6 at about 2^43 steps: far past the 32-bit conversion.
    expectBlocksMatchThePlainLoop(13, 2, false, 7u);
}

}  // namespace
