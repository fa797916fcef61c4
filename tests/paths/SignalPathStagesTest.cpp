// The stages around the engine: requantization, meters and calibration as the signal
// path runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paths/EngineTestRig.h"

namespace tq {
namespace {

using testing::EngineRig;
using testing::kFlavours;
using testing::StereoSignal;

TEST(SignalPathStages, QuantizeOnGivesSixteenBitSteps) {
    for (Flavour flavour : kFlavours) {
        EngineRig rig(flavour);
        rig.parameters().quantize = true;
        rig.parameters().bits = 1;
        const StereoSignal in = testing::loudNoise(3000, 2.0, 12);
        const StereoSignal out = rig.run(in, 500);
        bool nonZero = false;
        for (int i = 0; i < in.frames(); ++i) {
            const double steps = out.left[i] * 32768.0;
            ASSERT_EQ(steps, std::floor(steps)) << i;
            ASSERT_LE(std::fabs(out.left[i]), 1.0);
            nonZero = nonZero || out.left[i] != 0.0;
        }
        EXPECT_TRUE(nonZero);
    }
}

// The dither of a whole 64-frame chunk is made in one run, of a shorter one word by word.
// Whatever the host's buffer sizes, the requantized output is the engine's own output
// (Quantize off; the limiter keeps it within full scale, so the clip leaves it alone) put
// through a requantizer one frame at a time, drawing its words one by one.
TEST(SignalPathStages, QuantizedOutputIsTheFrameByFrameRequantizerForAnyBufferSize) {
    constexpr int kBits8 = 0;
    const int shapeSet = selectNoiseShapeSet(3, 44100, kNoiseShapeOff);
    const StereoSignal in = testing::loudNoise(3000, 1.5, 31);
    for (Flavour flavour : kFlavours) {
        EngineRig plain(flavour);
        const StereoSignal engineOutput = plain.run(in, 3000);

        EngineParameters parameters;
        parameters.quantize = true;
        parameters.bits = kBits8;
        parameters.noiseShapeSet = shapeSet;
        RateSettings rates;
        rates.update(44100, 2);
        Requantizer requantizer;
        requantizer.reset();
        requantizer.clear();
        requantizer.beginBlock(parameters, rates);
        NoiseGenerator generator;
        StereoSignal expected = engineOutput;
        for (int i = 0; i < in.frames(); ++i) {
            ASSERT_LE(std::fabs(engineOutput.left[i]), 1.0);
            requantizer.frame(engineOutput.left[i], engineOutput.right[i], expected.left[i],
                              expected.right[i], generator);
        }

        for (int block : {3000, 1, 63, 64, 65, 200}) {
            EngineRig rig(flavour);
            rig.parameters().quantize = true;
            rig.parameters().bits = kBits8;
            rig.parameters().noiseShapeSet = shapeSet;
            const StereoSignal out = rig.run(in, block);
            ASSERT_EQ(out.left, expected.left) << "block " << block;
            ASSERT_EQ(out.right, expected.right) << "block " << block;
        }
    }
}

TEST(SignalPathStages, MetersFollowInputAndOutputAndShowNoAttenuationBelowFullScale) {
    for (Flavour flavour : kFlavours) {
        EngineRig rig(flavour);
        StereoSignal in{std::vector<double>(4000, 0.5), std::vector<double>(4000, -0.25)};
        rig.run(in, 256);
        float values[10];
        rig.path().fetchMeters(values);
        EXPECT_FLOAT_EQ(values[MeterMeasurement::kInPeakL], 0.5f);
        EXPECT_FLOAT_EQ(values[MeterMeasurement::kInPeakR], 0.25f);
        EXPECT_FLOAT_EQ(values[MeterMeasurement::kOutPeakL], 0.5f);
        EXPECT_FLOAT_EQ(values[MeterMeasurement::kOutPeakR], 0.25f);
        EXPECT_FLOAT_EQ(values[MeterMeasurement::kAttL], 1.0f);
        EXPECT_FLOAT_EQ(values[MeterMeasurement::kAttR], 1.0f);
    }
}

TEST(SignalPathStages, AttenuationShowsTheLimiterGainAndStaysOneWithPowerOff) {
    for (Flavour flavour : kFlavours) {
        for (bool power : {true, false}) {
            testing::EngineSetup setup;
            setup.power = power;
            EngineRig rig(flavour, setup);
            StereoSignal in{std::vector<double>(4000, 2.0), std::vector<double>(4000, 2.0)};
            rig.run(in, 256);
            float values[10];
            rig.path().fetchMeters(values);
            if (power) {
                EXPECT_NEAR(values[MeterMeasurement::kAttL], 0.5f, 1e-6);
            } else {
                EXPECT_EQ(values[MeterMeasurement::kAttL], 1.0f);
                // The output meters see the bypassed dry input, before the final clip.
                EXPECT_FLOAT_EQ(values[MeterMeasurement::kOutPeakL], 2.0f);
            }
        }
    }
}

TEST(SignalPathStages, CalibrationWritesNoiseAndLeavesTheEngineWhereItWas) {
    for (Flavour flavour : kFlavours) {
        EngineRig calibrated(flavour);
        EngineRig plain(flavour);
        const StereoSignal in = testing::loudNoise(3000, 2.0, 30);
        calibrated.run(in);
        plain.run(in);
        calibrated.parameters().calibrate = 1;  // left
        std::vector<double> l(2000), r(2000, 9.0);
        calibrated.path().calibrate(l.data(), r.data(), 2000);
        double loudest = 0.0;
        for (int i = 0; i < 2000; ++i) {
            ASSERT_EQ(r[i], 0.0) << i;
            loudest = std::max(loudest, std::fabs(l[i]));
        }
        EXPECT_GT(loudest, 0.05);
        EXPECT_LT(loudest, 0.93);
        calibrated.parameters().calibrate = 0;
        const StereoSignal more = testing::loudNoise(3000, 2.0, 31);
        EXPECT_EQ(calibrated.run(more).left, plain.run(more).left);
        // Calibration with nothing to do is safe.
        calibrated.path().calibrate(static_cast<float*>(nullptr), nullptr, 10);
        calibrated.path().calibrate(l.data(), r.data(), 0);
    }
}

TEST(SignalPathStages, FlavoursAgreeWithRequantizationAndMeters) {
    testing::EngineSetup setup;
    setup.drive = 4.0;
    setup.oversample = true;
    EngineRig scalar(Flavour::Scalar, setup);
    EngineRig paired(Flavour::Paired, setup);
    for (EngineRig* rig : {&scalar, &paired}) {
        rig->parameters().quantize = true;
        rig->parameters().bits = 2;
        rig->parameters().noiseShapeSet = selectNoiseShapeSet(2, 44100, kNoiseShapeOff);
        rig->parameters().meterOvs = true;
    }
    const StereoSignal in = testing::loudNoise(5000, 1.0, 50);
    const StereoSignal a = scalar.run(in, 300);
    const StereoSignal b = paired.run(in, 300);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
    float ma[10];
    float mb[10];
    scalar.path().fetchMeters(ma);
    paired.path().fetchMeters(mb);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ma[i], mb[i]) << i;
}

TEST(SignalPathStages, AutoOutMovesTheOutputGainTowardsTheInverseDrive) {
    testing::EngineSetup setup;
    setup.drive = 0.5;
    setup.autoOut = true;
    EngineRig rig(Flavour::Paired, setup);
    StereoSignal in{std::vector<double>(20000, 0.3), std::vector<double>(20000, 0.3)};
    const StereoSignal out = rig.run(in, 1024);
    // drive 0.5 then 1/0.5: the level comes back to the input's.
    EXPECT_NEAR(out.left.back(), 0.3, 1e-9);
}

}  // namespace
}  // namespace tq
