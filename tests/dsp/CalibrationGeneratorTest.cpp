#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "dsp/CalibrationGenerator.h"
#include "dsp/EngineSettings.h"
#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"

namespace {

using tq::CalibrationGenerator;
using tq::MeterMeasurement;
using tq::NoiseGenerator;
using Values = std::array<float, MeterMeasurement::kValueCount>;

constexpr int kK12 = 0;
constexpr int kK14 = 1;
constexpr int kK20 = 2;

struct Calibration {
    tq::EngineParameters parameters;
    tq::RateSettings rates;
    NoiseGenerator generator;
    MeterMeasurement meters;
    CalibrationGenerator calibration;

    Calibration() {
        rates.update(44100, 2);
        suspend();
    }
    void suspend() {
        generator.reseed();
        meters.reset();
        meters.clear();
        calibration.reset();
    }
    template <typename Sample>
    void run(Sample* left, Sample* right, int frames, int mode, int scale) {
        meters.beginBlock(parameters, rates, 1.0);
        calibration.process(left, right, frames, mode, scale, generator, meters);
    }
    Values fetch() {
        Values v{};
        meters.fetch(v.data());
        return v;
    }
};

// The Voss generator written out from its rules, with its own random source.
struct DirectPink {
    NoiseGenerator generator;
    double rowsL[8] = {};
    double rowsR[8] = {};
    double sumL = 0.0;
    double sumR = 0.0;
    unsigned counter = 0;

    int row() const {
        int i = 0;
        while (i < 7 && (counter & (1u << i)) == 0) ++i;
        return i;
    }
    double sample(double sum, double white, double level) const {
        const double sqrt2 = static_cast<double>(std::sqrt(2.0f));
        return (sum + white) * 0.1 / (sqrt2 * 1.7320508) * level;
    }
    void update(double* rows, double& sum, int i) {
        const double u = generator.nextUniform();
        sum = sum - rows[i] + u;
        rows[i] = u;
    }
    double mono(double level) {
        update(rowsL, sumL, row());
        const double white = generator.nextUniform();
        counter = (counter + 1) & 0xFF;
        return sample(sumL, white, level);
    }
    void stereo(double level, double& l, double& r) {
        const int i = row();
        update(rowsL, sumL, i);
        update(rowsR, sumR, i);
        const double whiteL = generator.nextUniform();
        const double whiteR = generator.nextUniform();
        counter = (counter + 1) & 0xFF;
        l = sample(sumL, whiteL, level);
        r = sample(sumR, whiteR, level);
    }
};

// ---------------------------------------------------------------------------
// Sequence

TEST(CalibrationSequence, RowIndexIsTrailingZerosCappedAtSeven) {
    EXPECT_EQ(CalibrationGenerator::rowIndex(0), 7);
    EXPECT_EQ(CalibrationGenerator::rowIndex(1), 0);
    EXPECT_EQ(CalibrationGenerator::rowIndex(255), 0);
    EXPECT_EQ(CalibrationGenerator::rowIndex(2), 1);
    EXPECT_EQ(CalibrationGenerator::rowIndex(12), 2);
    EXPECT_EQ(CalibrationGenerator::rowIndex(64), 6);
    EXPECT_EQ(CalibrationGenerator::rowIndex(96), 5);
    EXPECT_EQ(CalibrationGenerator::rowIndex(128), 7);
}

TEST(CalibrationSequence, CounterKeepsEightBits) {
    Calibration c;
    std::vector<double> out(300);
    c.run(out.data(), static_cast<double*>(nullptr), 300, CalibrationGenerator::kLeft, kK20);
    EXPECT_EQ(c.calibration.counter(), 300 - 256);
}

TEST(CalibrationSequence, LeftModeFollowsTheVossRulesExactly) {
    for (int scale : {kK12, kK14, kK20}) {
        Calibration c;
        DirectPink direct;
        const double level = scale == kK12 ? 2.5118864315 : (scale == kK14 ? 2.0 : 1.0);
        std::vector<double> left(1000), right(1000, 7.0);
        c.run(left.data(), right.data(), 1000, CalibrationGenerator::kLeft, scale);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(left[static_cast<std::size_t>(i)], direct.mono(level)) << i;
            ASSERT_EQ(right[static_cast<std::size_t>(i)], 0.0) << i;
        }
    }
}

TEST(CalibrationSequence, UncorrelatedModeDrawsRowsThenWhitesLeftFirst) {
    Calibration c;
    DirectPink direct;
    std::vector<double> left(3000), right(3000);
    c.run(left.data(), right.data(), 3000, CalibrationGenerator::kBothUncorrelated, kK14);
    for (std::size_t i = 0; i < 3000; ++i) {
        double l = 0.0, r = 0.0;
        direct.stereo(2.0, l, r);
        ASSERT_EQ(left[i], l) << i;
        ASSERT_EQ(right[i], r) << i;
    }
    EXPECT_NE(left, right);
}

TEST(CalibrationSequence, SquareRootOfTwoIsTakenInSinglePrecision) {
    EXPECT_EQ(CalibrationGenerator::sampleDivisor(), 1.41421353816986083984375 * 1.7320508);
    EXPECT_NE(CalibrationGenerator::sampleDivisor(), std::sqrt(2.0) * 1.7320508);
}

TEST(CalibrationSequence, SameResetGivesTheSameSequence) {
    Calibration c;
    std::vector<double> first(5000), second(5000), scratch(777);
    c.run(first.data(), static_cast<double*>(nullptr), 5000, CalibrationGenerator::kRight, kK20);
    // Different work in between, then a suspend.
    c.run(scratch.data(), scratch.data(), 777, CalibrationGenerator::kBothUncorrelated, kK12);
    c.suspend();
    c.run(second.data(), static_cast<double*>(nullptr), 5000, CalibrationGenerator::kRight, kK20);
    EXPECT_EQ(first, second);
}

TEST(CalibrationSequence, FloatOutputIsTheRoundedDoubleOutput) {
    Calibration c;
    Calibration d;
    std::vector<float> lf(2000), rf(2000);
    std::vector<double> ld(2000), rd(2000);
    c.run(lf.data(), rf.data(), 2000, CalibrationGenerator::kBothUncorrelated, kK12);
    d.run(ld.data(), rd.data(), 2000, CalibrationGenerator::kBothUncorrelated, kK12);
    for (std::size_t i = 0; i < 2000; ++i) {
        ASSERT_EQ(lf[i], static_cast<float>(ld[i]));
        ASSERT_EQ(rf[i], static_cast<float>(rd[i]));
    }
}

// ---------------------------------------------------------------------------
// Outputs

TEST(CalibrationOutputs, SamplesNeverExceedPointNineThree) {
    Calibration c;
    std::vector<double> left(4096), right(4096);
    double largest = 0.0;
    for (int block = 0; block < 200; ++block) {
        c.run(left.data(), right.data(), 4096, CalibrationGenerator::kBothUncorrelated, kK12);
        for (std::size_t i = 0; i < left.size(); ++i) {
            largest = std::max({largest, std::fabs(left[i]), std::fabs(right[i])});
        }
    }
    EXPECT_LE(largest, 0.93);
    EXPECT_GT(largest, 0.4);  // and it is real noise at the K-12 level
}

TEST(CalibrationOutputs, RightModeWritesOnlyOutputTwo) {
    Calibration c;
    std::vector<double> left(1000, 9.0), right(1000);
    c.run(left.data(), right.data(), 1000, CalibrationGenerator::kRight, kK20);
    double energy = 0.0;
    for (std::size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(left[i], 0.0);
        energy += right[i] * right[i];
    }
    EXPECT_GT(energy, 0.0);
}

TEST(CalibrationOutputs, NullOutputTwoIsSafeAndLeavesOutputOneUnchanged) {
    for (int mode : {CalibrationGenerator::kLeft, CalibrationGenerator::kBothUncorrelated,
                     CalibrationGenerator::kRight}) {
        Calibration connected;
        Calibration single;
        std::vector<double> a(500), b(500), r(500);
        connected.run(a.data(), r.data(), 500, mode, kK14);
        single.run(b.data(), static_cast<double*>(nullptr), 500, mode, kK14);
        EXPECT_EQ(a, b) << mode;
        EXPECT_EQ(connected.fetch(), single.fetch()) << mode;
    }
    Calibration none;
    none.run(static_cast<float*>(nullptr), static_cast<float*>(nullptr), 100,
             CalibrationGenerator::kLeft, kK20);
    EXPECT_EQ(none.calibration.counter(), 100);
}

TEST(CalibrationOutputs, UnknownModeWritesSilenceAndDrawsNothing) {
    for (int mode : {CalibrationGenerator::kOff, -1, 4, 99}) {
        Calibration c;
        std::vector<float> left(64, 3.0f), right(64, 3.0f);
        c.run(left.data(), right.data(), 64, mode, kK12);
        for (std::size_t i = 0; i < 64; ++i) {
            ASSERT_EQ(left[i], 0.0f);
            ASSERT_EQ(right[i], 0.0f);
        }
        const NoiseGenerator untouched;
        EXPECT_EQ(c.generator.word1(), untouched.word1());
        EXPECT_EQ(c.calibration.counter(), 0);
    }
}

TEST(CalibrationOutputs, UnknownScaleUsesTheK20Level) {
    EXPECT_EQ(CalibrationGenerator::levelForScale(kK12), 2.5118864315);
    EXPECT_EQ(CalibrationGenerator::levelForScale(kK14), 2.0);
    EXPECT_EQ(CalibrationGenerator::levelForScale(kK20), 1.0);
    EXPECT_EQ(CalibrationGenerator::levelForScale(-3), 1.0);
    EXPECT_EQ(CalibrationGenerator::levelForScale(3), 1.0);
}

TEST(CalibrationOutputs, ZeroOrNegativeFrameCountsDoNothing) {
    Calibration c;
    float sample = 5.0f;
    c.run(&sample, &sample, 0, CalibrationGenerator::kLeft, kK20);
    c.run(&sample, &sample, -10, CalibrationGenerator::kLeft, kK20);
    EXPECT_EQ(sample, 5.0f);
    EXPECT_EQ(c.calibration.counter(), 0);
}

// ---------------------------------------------------------------------------
// Meters

// Average of the output RMS reading over the last `seconds` of `total` seconds,
// fetched every 20 ms like the editor does.
double settledRmsReading(int mode, int scale, std::size_t channel) {
    Calibration c;
    std::vector<double> left(882), right(882);
    double sum = 0.0;
    int count = 0;
    for (int block = 0; block < 50 * 20; ++block) {
        c.run(left.data(), right.data(), 882, mode, scale);
        const Values v = c.fetch();
        if (block >= 50 * 5) {
            sum += v[channel];
            ++count;
        }
    }
    return sum / count;
}

TEST(CalibrationMeters, K20RmsReadingSettlesNearOneTenth) {
    EXPECT_NEAR(settledRmsReading(CalibrationGenerator::kLeft, kK20, MeterMeasurement::kOutRmsL),
                0.1, 0.01);
    EXPECT_NEAR(settledRmsReading(CalibrationGenerator::kBothUncorrelated, kK20,
                                  MeterMeasurement::kOutRmsR),
                0.1, 0.01);
}

TEST(CalibrationMeters, K12RmsReadingSettlesNearQuarter) {
    EXPECT_NEAR(settledRmsReading(CalibrationGenerator::kRight, kK12, MeterMeasurement::kOutRmsR),
                0.251, 0.025);
}

TEST(CalibrationMeters, LeftModeOutputTwoReadsZeroEverywhere) {
    Calibration c;
    std::vector<double> left(4410), right(4410);
    c.run(left.data(), right.data(), 4410, CalibrationGenerator::kLeft, kK12);
    const Values v = c.fetch();
    EXPECT_EQ(v[MeterMeasurement::kInPeakR], 0.0f);
    EXPECT_EQ(v[MeterMeasurement::kOutPeakR], 0.0f);
    EXPECT_EQ(v[MeterMeasurement::kInRmsR], 0.0f);
    EXPECT_EQ(v[MeterMeasurement::kOutRmsR], 0.0f);
    for (double x : right) ASSERT_EQ(x, 0.0);
}

TEST(CalibrationMeters, InputMetersFollowOutputMetersAndHoldsStayAtOne) {
    Calibration c;
    std::vector<double> left(4410), right(4410);
    c.run(left.data(), right.data(), 4410, CalibrationGenerator::kBothUncorrelated, kK14);
    const Values v = c.fetch();
    double peakL = 0.0;
    for (double x : left) peakL = std::max(peakL, std::fabs(x));
    EXPECT_EQ(v[MeterMeasurement::kOutPeakL], static_cast<float>(peakL));
    EXPECT_EQ(v[MeterMeasurement::kInPeakL], v[MeterMeasurement::kOutPeakL]);
    EXPECT_EQ(v[MeterMeasurement::kInPeakR], v[MeterMeasurement::kOutPeakR]);
    EXPECT_EQ(v[MeterMeasurement::kInRmsL], v[MeterMeasurement::kOutRmsL]);
    EXPECT_EQ(v[MeterMeasurement::kInRmsR], v[MeterMeasurement::kOutRmsR]);
    EXPECT_GT(v[MeterMeasurement::kOutRmsR], 0.0f);
    EXPECT_EQ(v[MeterMeasurement::kAttL], 1.0f);
    EXPECT_EQ(v[MeterMeasurement::kAttR], 1.0f);
}

TEST(CalibrationMeters, FetchRestartsCalibrationPeaks) {
    Calibration c;
    std::vector<double> left(4410), right(4410);
    c.run(left.data(), right.data(), 4410, CalibrationGenerator::kLeft, kK20);
    c.fetch();
    c.run(left.data(), right.data(), 1, CalibrationGenerator::kLeft, kK20);
    EXPECT_EQ(c.fetch()[MeterMeasurement::kOutPeakL], static_cast<float>(std::fabs(left[0])));
}

}  // namespace
