#include "effect/ParameterModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

namespace {

using namespace tq;

TEST(StepRules, IndexAndCentre) {
    EXPECT_EQ(stepIndex(1.0f, 3), 2);
    EXPECT_EQ(stepIndex(0.6667f, 3), 2);
    EXPECT_EQ(stepIndex(0.6666f, 3), 1);
    EXPECT_EQ(stepIndex(0.0f, 4), 0);
    EXPECT_EQ(stepIndex(-3.0f, 4), 0);
    EXPECT_EQ(stepIndex(0.5f, 2), 1);
    EXPECT_EQ(stepIndex(0.4999f, 2), 0);
    EXPECT_EQ(stepIndex(0.9375f, 8), 7);
    EXPECT_EQ(stepIndex(0.015f, 100), 1);
    EXPECT_EQ(stepIndex(0.0099f, 100), 0);
    EXPECT_EQ(stepIndex(NAN, 4), 0);
    EXPECT_FLOAT_EQ(stepCentre(1, 3), 0.5f);
    EXPECT_FLOAT_EQ(stepCentre(7, 8), 0.9375f);
    for (int steps = 2; steps <= 8; ++steps) {
        for (int step = 0; step < steps; ++step) {
            EXPECT_EQ(stepIndex(stepCentre(step, steps), steps), step);
        }
    }
}

TEST(NumberText, EightCharacterBudgetWithoutRounding) {
    EXPECT_EQ(numberText(0.0), "0.000000");
    EXPECT_EQ(numberText(100.0), "100.0000");
    EXPECT_EQ(numberText(-6.0206), "-6.02059");
    EXPECT_EQ(numberText(199.98671), "199.9867");
    EXPECT_EQ(numberText(0.0199999), "0.019999");  // cut, not rounded
    EXPECT_EQ(numberText(-12.04119983), "-12.0411");
    EXPECT_EQ(numberText(12345678.9), "12345678");
    EXPECT_EQ(numberText(1e12), "1000000000000");
    EXPECT_EQ(decibelText(0.0), "-oo");
    EXPECT_EQ(decibelText(-1.0), "-oo");
    EXPECT_EQ(decibelText(1.0), "0.000000");
}

TEST(ParameterDisplay, TableExamples) {
    EXPECT_EQ(parameterDisplay(kOutput, 1.0f), "0.000000");
    EXPECT_EQ(parameterDisplay(kOutput, 0.999167f), "-0.01002");
    EXPECT_EQ(parameterDisplay(kOutput, 0.0f), "-12.0411");
    EXPECT_EQ(parameterDisplay(kDrive, 0.5f), "0.000000");
    EXPECT_EQ(parameterDisplay(kDrive, 1.0f), "24.08239");
    EXPECT_EQ(parameterDisplay(kTransient, 0.2f), "0.020000");
    EXPECT_EQ(parameterDisplay(kRelease, 0.7237f), "199.9867");
    EXPECT_EQ(parameterDisplay(kRelease, 0.5f).substr(0, 4), "49.9");
    EXPECT_EQ(parameterDisplay(kLink, 1.0f), "100.0000");
    EXPECT_EQ(parameterDisplay(kLeveller, 0.25f), "-12.0411");
    EXPECT_EQ(parameterDisplay(kLeveller, 0.0f), "-oo");
    EXPECT_EQ(parameterDisplay(kTransShape, 0.166667f), "hard");
    EXPECT_EQ(parameterDisplay(kTransShape, 0.5f), "med");
    EXPECT_EQ(parameterDisplay(kTransShape, 1.0f), "soft");
    EXPECT_EQ(parameterDisplay(kDetectorOrder, 1.0f), "II");
    EXPECT_EQ(parameterDisplay(kScale, 0.165f), "K-12");
    EXPECT_EQ(parameterDisplay(kBits, 0.5f), "16");
    EXPECT_EQ(parameterDisplay(kNoiseShape, 0.875f), "type C");
    EXPECT_EQ(parameterDisplay(kCalibrate, 0.6f), "l+r uncor");
    EXPECT_EQ(parameterDisplay(kMeterType, 0.75f), "k-system");
    EXPECT_EQ(parameterDisplay(kAttZoom, 0.75f), "12dB");
    EXPECT_EQ(parameterDisplay(kAttShow, 0.9375f), "12L");
    EXPECT_EQ(parameterDisplay(kAttShow, 0.0f), "");
    EXPECT_EQ(parameterDisplay(kAttShow, stepCentre(4, 8)), "L");
    EXPECT_EQ(parameterDisplay(kAttShow, stepCentre(5, 8)), "1L");
    EXPECT_EQ(parameterDisplay(kPostMeter, 1.0f), "post");
    EXPECT_EQ(parameterDisplay(kPower, 1.0f), "on");
    for (int index = 22; index <= 25; ++index) EXPECT_EQ(parameterDisplay(index, 0.5f), "");
}

TEST(ParameterDisplay, EveryValueFitsTheHostConvention) {
    // Value texts are copied with a limit of 12 characters; none should need more
    // than 9 (the longest, "l+r uncor").
    for (int index = 0; index < kNumParameters; ++index) {
        for (int i = 0; i <= 1000; ++i) {
            const float x = static_cast<float>(i) / 1000.0f;
            EXPECT_LE(parameterDisplay(index, x).size(), 9u) << index << " " << x;
        }
    }
}

TEST(ParameterMappings, EngineValues) {
    EXPECT_DOUBLE_EQ(outputGainFor(1.0f), 1.0);
    EXPECT_DOUBLE_EQ(outputGainFor(0.0f), 0.25);
    EXPECT_DOUBLE_EQ(driveGainFor(0.5f), 1.0);
    EXPECT_DOUBLE_EQ(driveGainFor(1.0f), 16.0);
    EXPECT_DOUBLE_EQ(driveGainFor(0.0f), 1.0 / 16.0);
    EXPECT_NEAR(transientShareFor(1.0f), 0.5, 1e-6);
    EXPECT_NEAR(releaseTimeFor(0.0f), 1.0, 1e-12);
    EXPECT_NEAR(releaseTimeFor(1.0f), 1000.0, 1e-9);
    EXPECT_NEAR(releaseTimeFor(0.5f), 50.0, 0.05);
    EXPECT_NEAR(levellerGainFor(0.25f), std::pow(2.0, -1.5), 1e-12);
}

TEST(ParameterNames, NamesAndLabels) {
    EXPECT_STREQ(parameterName(5), "L/R Link");
    EXPECT_STREQ(parameterName(7), "DetectorOrder");
    EXPECT_STREQ(parameterName(22), "dummy");
    EXPECT_STREQ(parameterName(24), "dummy");
    EXPECT_STREQ(parameterName(25), "resvd-vid");
    EXPECT_EQ(parameterName(26), nullptr);
    EXPECT_EQ(parameterName(-1), nullptr);
    EXPECT_STREQ(parameterLabel(0), "dB");
    EXPECT_STREQ(parameterLabel(13), "dB");
    EXPECT_STREQ(parameterLabel(2), "ms");
    EXPECT_STREQ(parameterLabel(3), "ms");
    EXPECT_STREQ(parameterLabel(4), "");
}

TEST(ParameterSteps, CountsMatchTheDistinctTexts) {
    for (int index = 0; index < kNumParameters; ++index) {
        std::set<std::string> texts;
        for (int i = 0; i <= 4000; ++i) {
            texts.insert(parameterDisplay(index, static_cast<float>(i) / 4000.0f));
        }
        const int steps = parameterSteps(index);
        if (steps > 0) {
            EXPECT_EQ(texts.size(), static_cast<std::size_t>(steps)) << parameterName(index);
            EXPECT_TRUE(std::isnan(parameterNumber(index, 0.5f))) << parameterName(index);
        } else if (index < kDummyFirst) {
            EXPECT_GT(texts.size(), 100u) << parameterName(index);
        } else {
            EXPECT_EQ(texts, std::set<std::string>{""});
        }
    }
}

// The number behind each continuous display rises with the value, and the
// display is that number cut to its digits (at most one unit of the last digit
// away, plus the rounding of the single-precision decibels).
TEST(ParameterNumber, RisesWithTheValueAndUnderliesTheDisplay) {
    for (int index = 0; index < kDummyFirst; ++index) {
        if (parameterSteps(index) > 0) continue;
        double previous = -HUGE_VAL;
        for (int i = 0; i <= 4000; ++i) {
            const float x = static_cast<float>(i) / 4000.0f;
            const double number = parameterNumber(index, x);
            ASSERT_GE(number, previous) << parameterName(index) << " " << x;
            previous = number;
            const std::string display = parameterDisplay(index, x);
            if (display == "-oo") {
                EXPECT_EQ(number, -HUGE_VAL);
                continue;
            }
            const std::size_t point = display.find('.');
            const int decimals = point == std::string::npos
                                     ? 0
                                     : static_cast<int>(display.size() - point - 1);
            const double singlePrecision = 1e-6 * std::max(1.0, std::abs(number));
            EXPECT_NEAR(std::strtod(display.c_str(), nullptr), number,
                        std::pow(10.0, -decimals) + singlePrecision)
                << parameterName(index) << " " << x;
        }
    }
    EXPECT_NEAR(parameterNumber(kDrive, 1.0f), 20.0 * std::log10(16.0), 1e-12);
    EXPECT_NEAR(parameterNumber(kLeveller, 0.25f), -12.0412, 1e-4);
    EXPECT_DOUBLE_EQ(parameterNumber(kLink, 0.5f), 50.0);
    EXPECT_EQ(parameterNumber(kLeveller, 0.0f), -HUGE_VAL);
}

}  // namespace
