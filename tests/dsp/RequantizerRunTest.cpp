#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/EngineSettings.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"

namespace {

using tq::DoublePair;
using tq::EngineParameters;
using tq::NoiseGenerator;
using tq::NoiseRun;
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

// Runs of up to 64 frames against the plain loop, with either truncation: programme material,
// silence (the autoblack fade), samples far outside full scale (beyond the fast
// truncation's range), history clears, restarts of the position and word-length changes
// between runs. A whole run takes its words from a NoiseRun, a shorter one word by word,
// as the engine does; odd lengths leave a frame without a neighbour. inPairs: frames in
// pairs through framePair (autoblack known off where it is off), the last of an odd run
// alone, as the engine's usual route runs them.
void expectRunsMatchThePlainLoop(int set, int bits, bool autoblack, unsigned seed, bool wide,
                                 bool inPairs = false) {
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
    alignas(16) std::array<std::uint32_t, NoiseRun::kWords> words{};
    std::array<double, 2 * RequantizerFrames::kRun> pairs{};
    int frame = 0;
    for (int run = 0; run < 200; ++run) {
        if (run % 17 == 16) {
            requantizer.clear();
            plain.clear();
        }
        if (run % 23 == 9) {
            parameters.shaperResetSerial.fetch_add(1);
            plain.p = 0;
        }
        if (run % 29 == 13) {
            parameters.bits = (parameters.bits + 1) % 3;
            plain.scale = Requantizer::scaleForBitsStep(parameters.bits);
        }
        requantizer.beginBlock(parameters, rates);
        const int count =
            run % 3 == 0 ? RequantizerFrames::kRun : 1 + static_cast<int>(random() % 64);
        if (count == RequantizerFrames::kRun) {
            NoiseRun noise = NoiseRun::startingAt(generator);
            for (int i = 0; i < NoiseRun::kStretch; ++i) noise.step(words.data() + 4 * i);
            noise.finish(generator);
        } else {
            for (int t = 0; t < 4 * count; ++t) {
                words[static_cast<std::size_t>(4 * (t & 63) + (t >> 6))] = generator.nextWord();
            }
        }
        std::vector<double> expected;
        for (int i = 0; i < count; ++i) {
            double l = 0.7 * std::sin(0.02 * (frame + i)) + 0.1 * uniform(random);
            double r = 0.5 * uniform(random);
            if (run % 5 == 3) l = r = 0.0;                         // silence
            if (run % 7 == 4 && i < 3) l = 3e4 * uniform(random);  // far beyond 2^31 / S
            if (run % 11 == 6) r = -1e6;
            pairs[static_cast<std::size_t>(2 * i)] = l;
            pairs[static_cast<std::size_t>(2 * i + 1)] = r;
            double pl = 0.0, pr = 0.0;
            plain.frame(l, r, pl, pr);
            expected.push_back(pl);
            expected.push_back(pr);
        }
        RequantizerFrames frames = requantizer.frames();
        frames.prepareDither(words.data(), count);
        std::vector<DoublePair> outputs(static_cast<std::size_t>(count));
        const auto in = [&](int i) {
            return DoublePair(pairs[static_cast<std::size_t>(2 * i)],
                              pairs[static_cast<std::size_t>(2 * i + 1)]);
        };
        int i = 0;
        if (inPairs) {
            for (; i + 2 <= count; i += 2) {
                DoublePair& y0 = outputs[static_cast<std::size_t>(i)];
                DoublePair& y1 = outputs[static_cast<std::size_t>(i + 1)];
                if (!autoblack && wide) frames.framePair<true, true>(in(i), in(i + 1), i, y0, y1);
                if (!autoblack && !wide) frames.framePair<false, true>(in(i), in(i + 1), i, y0, y1);
                if (autoblack && wide) frames.framePair<true, false>(in(i), in(i + 1), i, y0, y1);
                if (autoblack && !wide) frames.framePair<false, false>(in(i), in(i + 1), i, y0, y1);
            }
        }
        for (; i < count; ++i) {
            outputs[static_cast<std::size_t>(i)] =
                wide ? frames.frame<true>(in(i), i) : frames.frame<false>(in(i), i);
        }
        for (i = 0; i < count; ++i, ++frame) {
            const DoublePair y = outputs[static_cast<std::size_t>(i)];
            // Bit for bit: a -0 where the plain loop gives +0 is a different sample.
            ASSERT_EQ(std::bit_cast<std::uint64_t>(y.left()),
                      std::bit_cast<std::uint64_t>(expected[static_cast<std::size_t>(2 * i)]))
                << set << " frame " << frame << " " << y.left();
            ASSERT_EQ(std::bit_cast<std::uint64_t>(y.right()),
                      std::bit_cast<std::uint64_t>(expected[static_cast<std::size_t>(2 * i + 1)]))
                << set << " frame " << frame << " " << y.right();
        }
        frames.endRun(count);
        requantizer.endBlock(frames);
        ASSERT_EQ(requantizer.position(), plain.p);
        ASSERT_EQ(requantizer.autoblackLevel(), plain.level);
    }
    EXPECT_EQ(generator.word1(), plain.generator.word1());
    EXPECT_EQ(generator.word2(), plain.generator.word2());
    EXPECT_EQ(generator.word3(), plain.generator.word3());
}

// The truncation built for AVX2 is one instruction of AVX; it runs wherever the processor
// has AVX.
std::vector<bool> kernels() {
    std::vector<bool> wide{false};
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx")) wide.push_back(true);
#endif
    return wide;
}

TEST(RequantizerRun, RunsMatchThePlainLoopForEveryTableWithEitherTruncation) {
    for (bool wide : kernels()) {
        for (int set = 0; set < tq::kNoiseShapeSetCount; ++set) {
            expectRunsMatchThePlainLoop(set, set % 3, set % 2 == 0,
                                        40u + static_cast<unsigned>(set), wide);
        }
    }
}

TEST(RequantizerRun, FramesInPairsMatchThePlainLoop) {
    for (bool wide : kernels()) {
        for (int set : {0, 3, 9, 15}) {
            for (bool autoblack : {false, true}) {
                expectRunsMatchThePlainLoop(set, set % 3, autoblack,
                                            70u + static_cast<unsigned>(set), wide, true);
            }
        }
    }
}

TEST(RequantizerRun, TwentyFourBitsFarOutsideFullScaleStillTruncateTowardZero) {
    // 24 bits put 1e6 at about 2^43 steps: far past the 32-bit conversion.
    for (bool wide : kernels()) expectRunsMatchThePlainLoop(13, 2, false, 7u, wide);
}

}  // namespace
