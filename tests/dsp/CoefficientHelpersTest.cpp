#include <gtest/gtest.h>

#include "dsp/EngineSettings.h"

namespace tq {
namespace {

TEST(CoefficientHelpers, AttackRunsFrom32DownTo1Millisecond) {
    EngineParameters p;
    for (double rate : {44100.0, 96000.0, 192000.0}) {
        fillAttackCoefficients(p, rate);
        EXPECT_EQ(p.attack[0].load(), onePoleCoefficient(32.0, rate));
        EXPECT_EQ(p.attack[1].load(), onePoleCoefficient(32.0 - 4.428571428571429, rate));
        EXPECT_NEAR(p.attack[7].load(), onePoleCoefficient(1.0, rate), 1e-12);
        for (int i = 1; i < 8; ++i) EXPECT_GT(p.attack[i].load(), p.attack[i - 1].load());
    }
}

TEST(CoefficientHelpers, ReleaseRunsFromTheReleaseTimeDownTo2Milliseconds) {
    EngineParameters p;
    fillReleaseCoefficients(p, 200.0, 44100.0);
    EXPECT_EQ(p.release[0].load(), onePoleCoefficient(200.0, 44100.0));
    const double step = (200.0 - 2.0) / 7.0;
    EXPECT_EQ(p.release[1].load(), onePoleCoefficient(200.0 - step, 44100.0));
    EXPECT_NEAR(p.release[7].load(), onePoleCoefficient(2.0, 44100.0), 1e-12);
    // A release shorter than 2 ms runs upwards to 2 ms.
    fillReleaseCoefficients(p, 1.0, 48000.0);
    EXPECT_EQ(p.release[0].load(), onePoleCoefficient(1.0, 48000.0));
    EXPECT_NEAR(p.release[7].load(), onePoleCoefficient(2.0, 48000.0), 1e-12);
    EXPECT_LT(p.release[7].load(), p.release[0].load());
}

}  // namespace
}  // namespace tq
