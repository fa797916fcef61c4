#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/EngineSettings.h"
#include "dsp/HalfbandInterpolator.h"
#include "dsp/MeterMeasurement.h"

namespace {

using tq::EngineParameters;
using tq::MeterMeasurement;
using tq::RateSettings;
using Values = std::array<float, MeterMeasurement::kValueCount>;

constexpr double kPi = 3.14159265358979323846;

struct Meters {
    EngineParameters parameters;
    RateSettings rates;
    MeterMeasurement meters;
    double drive = 1.0;

    Meters() {
        rates.update(44100, 2);
        parameters.attShow = 7;
        meters.reset();
        meters.clear();
        begin();
    }
    void begin() { meters.beginBlock(parameters, rates, drive); }
    // A frame where the limiter does nothing: output = input.
    void plain(double l, double r) { meters.frame(l, r, 1.0, 1.0, 1.0, 1.0, 1.0, l, r, true); }
    Values fetch() {
        Values v{};
        meters.fetch(v.data());
        return v;
    }
};

// ---------------------------------------------------------------------------
// Levels

TEST(MeterLevels, FullScaleSineReadsOneForPeakAndRmsAfterASecond) {
    Meters m;
    for (int i = 0; i < 44100; ++i) {
        const double x = std::sin(2.0 * kPi * 997.0 * i / 44100.0);
        m.plain(x, 0.5 * x);
    }
    const Values v = m.fetch();
    EXPECT_NEAR(v[MeterMeasurement::kInPeakL], 1.0, 1e-4);
    EXPECT_NEAR(v[MeterMeasurement::kInPeakR], 0.5, 1e-4);
    EXPECT_NEAR(v[MeterMeasurement::kInRmsL], 1.0, 0.01);
    EXPECT_NEAR(v[MeterMeasurement::kInRmsR], 0.5, 0.005);
    EXPECT_NEAR(v[MeterMeasurement::kOutPeakL], 1.0, 1e-4);
    EXPECT_NEAR(v[MeterMeasurement::kOutRmsL], 1.0, 0.01);
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
}

TEST(MeterLevels, RmsFallsToOnePercentOfPowerIn600Ms) {
    Meters m;
    for (int i = 0; i < 5 * 44100; ++i) m.plain(1.0, 1.0);  // mean square 1
    for (int i = 0; i < 26460; ++i) m.plain(0.0, 0.0);      // 600 ms of silence
    const Values v = m.fetch();
    // sqrt(2 * 0.01) = 0.1414
    EXPECT_NEAR(v[MeterMeasurement::kInRmsL], std::sqrt(0.02), 1e-3);
    EXPECT_NEAR(v[MeterMeasurement::kOutRmsR], std::sqrt(0.02), 1e-3);
}

TEST(MeterLevels, PeaksAreSinglePrecisionMagnitudes) {
    Meters m;
    m.plain(-0.1, 0.3);
    const Values v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], 0.1f);
    EXPECT_EQ(v[MeterMeasurement::kInPeakR], 0.3f);
    EXPECT_EQ(v[MeterMeasurement::kOutPeakL], 0.1f);
}

TEST(MeterLevels, PreMeterScalesInputByTheBlockDrivePostDoesNot) {
    Meters m;
    m.drive = 2.0;
    m.begin();
    m.meters.frame(0.25, -0.25, 1.0, 1.0, 1.0, 1.0, 1.0, 0.1, 0.1, true);
    Values v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], 0.5f);
    EXPECT_EQ(v[MeterMeasurement::kInPeakR], 0.5f);
    EXPECT_EQ(v[MeterMeasurement::kOutPeakL], 0.1f);  // output meters never scaled
    m.parameters.postMeter = true;
    m.begin();
    m.meters.frame(0.25, -0.25, 1.0, 1.0, 1.0, 1.0, 1.0, 0.1, 0.1, true);
    v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], 0.25f);
}

TEST(MeterLevels, DisplaySettingsAreReadOncePerBlock) {
    Meters m;
    m.drive = 2.0;
    m.begin();
    // Changed mid-block: takes effect only at the next beginBlock.
    m.parameters.postMeter = true;
    m.parameters.attShow = 0;
    m.meters.frame(0.25, 0.25, 0.5, 0.5, 1.0, 1.0, 1.0, 0.1, 0.1, true);
    Values v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], 0.5f);
    EXPECT_EQ(v[MeterMeasurement::kAttL], 0.5f);
    m.begin();
    m.meters.frame(0.25, 0.25, 0.5, 0.5, 1.0, 1.0, 1.0, 0.1, 0.1, true);
    v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], 0.25f);
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
}

// ---------------------------------------------------------------------------
// Attenuation

// bank share 0.8, limiter gain 0.6, leveller 0.5 on the left; right a little less.
Values attenuationWith(int attShow, bool powerOn = true) {
    Meters m;
    m.parameters.attShow = attShow;
    m.begin();
    m.meters.frame(0.9, 0.9, 0.6, 0.7, 0.8, 0.875, 0.5, 0.3, 0.3, powerOn);
    return m.fetch();
}

TEST(MeterAttenuation, AttShowZeroReadsOneWhateverTheLimiterDoes) {
    const Values v = attenuationWith(0);
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 1.0f);
}

TEST(MeterAttenuation, AttShowFourShowsOnlyTheLeveller) {
    const Values v = attenuationWith(4);
    EXPECT_EQ(v[MeterMeasurement::kAttL], 0.5f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 0.5f);
}

TEST(MeterAttenuation, EachBitShowsItsShare) {
    Values v = attenuationWith(1);
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttL], 0.8f);
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttR], 0.875f);
    v = attenuationWith(2);
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttL], 0.75f);  // 0.6 / 0.8
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttR], 0.8f);   // 0.7 / 0.875
    v = attenuationWith(3);  // both shares together: exactly the limiter gain
    EXPECT_EQ(v[MeterMeasurement::kAttL], 0.6f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 0.7f);
    v = attenuationWith(7);
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttL], 0.3f);  // limiter gain times leveller
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttR], 0.35f);
    v = attenuationWith(7 | 8 | 16);  // bits above the three are ignored
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttL], 0.3f);
}

TEST(MeterAttenuation, PowerOffKeepsAttenuationAtOneAndMetersTheDrySignal) {
    Meters m;
    m.parameters.attShow = 7;
    m.begin();
    // With power off the engine hands the delayed dry signal as output.
    m.meters.frame(0.7, -0.2, 0.1, 0.1, 0.5, 0.5, 0.25, 0.7, -0.2, false);
    const Values v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 1.0f);
    EXPECT_EQ(v[MeterMeasurement::kOutPeakL], 0.7f);
    EXPECT_EQ(v[MeterMeasurement::kOutPeakR], 0.2f);
}

TEST(MeterAttenuation, HoldResetSerialPutsBothHoldsBackToOne) {
    Meters m;
    m.meters.frame(0.9, 0.9, 0.5, 0.4, 1.0, 1.0, 1.0, 0.3, 0.3, true);
    m.begin();  // same serial: the hold stays
    Values v{};
    m.meters.fetch(v.data());
    EXPECT_FLOAT_EQ(v[MeterMeasurement::kAttR], 0.4f);
    Meters n;
    n.meters.frame(0.9, 0.9, 0.5, 0.4, 1.0, 1.0, 1.0, 0.3, 0.3, true);
    n.parameters.attHoldResetSerial.fetch_add(1);
    n.begin();
    v = n.fetch();
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 1.0f);
}

// ---------------------------------------------------------------------------
// Fetch and reset request

TEST(MeterFetch, TwoFetchesWithNothingProcessedAreIdentical) {
    Meters m;
    for (int i = 0; i < 1000; ++i) {
        m.meters.frame(0.5 * std::sin(0.05 * i), 0.3, 0.7, 0.9, 0.8, 0.95, 0.9, 0.2, -0.4, true);
    }
    const Values first = m.fetch();
    EXPECT_TRUE(m.meters.resetRequested());
    const Values second = m.fetch();
    EXPECT_EQ(first, second);
    EXPECT_GT(first[MeterMeasurement::kInPeakL], 0.0f);
    EXPECT_LT(first[MeterMeasurement::kAttL], 1.0f);
}

TEST(MeterFetch, NextFrameRestartsPeaksAndHoldsButNotMeanSquares) {
    Meters m;
    for (int i = 0; i < 1000; ++i)
        m.meters.frame(0.9, 0.9, 0.5, 0.5, 1.0, 1.0, 1.0, 0.8, 0.8, true);
    const Values before = m.fetch();
    m.meters.frame(0.1, 0.1, 1.0, 1.0, 1.0, 1.0, 1.0, 0.05, 0.05, true);
    EXPECT_FALSE(m.meters.resetRequested());
    const Values after = m.fetch();
    EXPECT_EQ(after[MeterMeasurement::kInPeakL], 0.1f);
    EXPECT_EQ(after[MeterMeasurement::kOutPeakR], 0.05f);
    EXPECT_EQ(after[MeterMeasurement::kAttL], 1.0f);
    // The mean squares keep running: one frame of a quieter signal barely moves them.
    EXPECT_NEAR(after[MeterMeasurement::kInRmsL], before[MeterMeasurement::kInRmsL], 1e-3);
    EXPECT_GT(after[MeterMeasurement::kInRmsL], 0.1f);
}

TEST(MeterFetch, ResetClearsEverything) {
    Meters m;
    for (int i = 0; i < 100; ++i) m.meters.frame(0.9, 0.9, 0.5, 0.5, 1.0, 1.0, 1.0, 0.8, 0.8, true);
    m.fetch();
    m.meters.reset();
    EXPECT_FALSE(m.meters.resetRequested());
    const Values v = m.fetch();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(v[static_cast<std::size_t>(i)], 0.0f) << i;
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 1.0f);
}

// ---------------------------------------------------------------------------
// Inter-sample output peaks

TEST(MeterOversampledPeaks, HalfSampleValuesAboveFullScaleShowAboveOne) {
    // A tone at a quarter of the rate, phased so every sample is 1.3 / sqrt(2) = 0.919
    // while the waveform between samples reaches 1.3.
    auto outPeak = [](bool meterOvs) {
        Meters m;
        m.parameters.meterOvs = meterOvs;
        m.begin();
        double largestSample = 0.0;
        for (int i = 0; i < 2000; ++i) {
            const double x = 1.3 * std::sin(kPi / 2.0 * i + kPi / 4.0);
            largestSample = std::max(largestSample, std::fabs(x));
            m.plain(x, -x);
            if (i == 200) m.fetch();  // past the onset's ringing
        }
        EXPECT_LT(largestSample, 1.0);
        return m.fetch()[MeterMeasurement::kOutPeakL];
    };
    EXPECT_NEAR(outPeak(false), 1.3 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(outPeak(true), 1.3f, 0.005f);
}

TEST(MeterOversampledPeaks, PeaksAndPowerMatchTheScalarInterpolator) {
    Meters m;
    m.parameters.meterOvs = true;
    m.begin();
    tq::HalfbandInterpolator scalar;
    float peakL = 0.0f, peakR = 0.0f;
    for (int i = 0; i < 3000; ++i) {
        const double l = 0.8 * std::sin(2.9 * i) * std::cos(0.003 * i);
        const double r = 0.6 * std::sin(1.7 * i + 0.4);
        m.plain(l, r);
        scalar.push(l, r);
        const tq::HalfbandEstimate e = scalar.estimate();
        peakL = std::max({peakL, static_cast<float>(std::fabs(e.midLeft)),
                          static_cast<float>(std::fabs(e.centreLeft))});
        peakR = std::max({peakR, static_cast<float>(std::fabs(e.midRight)),
                          static_cast<float>(std::fabs(e.centreRight))});
    }
    const Values v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kOutPeakL], peakL);
    EXPECT_EQ(v[MeterMeasurement::kOutPeakR], peakR);
    EXPECT_NE(peakL, peakR);
}

TEST(MeterOversampledPeaks, OutputMetersLagThirtyOneFrames) {
    Meters m;
    m.parameters.meterOvs = true;
    m.begin();
    m.plain(0.5, 0.0);  // frame 0
    for (int i = 1; i <= 30; ++i) m.plain(0.0, 0.0);
    Values v = m.fetch();
    // Only the outer coefficients have seen the impulse so far.
    EXPECT_LT(v[MeterMeasurement::kOutPeakL], 0.11f);
    EXPECT_EQ(v[MeterMeasurement::kOutRmsL], 0.0f);
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], 0.5f);  // input meters do not lag
    m.plain(0.0, 0.0);                               // frame 31: the impulse is the centre sample
    v = m.fetch();
    EXPECT_EQ(v[MeterMeasurement::kOutPeakL], 0.5f);
    EXPECT_GT(v[MeterMeasurement::kOutRmsL], 0.0f);
}

TEST(MeterOversampledPeaks, ClearForgetsTheHistory) {
    Meters m;
    m.parameters.meterOvs = true;
    m.begin();
    m.plain(0.5, 0.5);
    m.fetch();
    m.meters.clear();
    for (int i = 0; i < 40; ++i) m.plain(0.0, 0.0);
    // Without the clear the impulse would pass the centre at the 31st of these frames.
    EXPECT_EQ(m.fetch()[MeterMeasurement::kOutPeakL], 0.0f);
}

}  // namespace
