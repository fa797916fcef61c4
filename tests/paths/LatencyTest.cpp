// The latency the effect reports is the sum of its stages' delays, and an impulse
// through the whole path comes out exactly that many frames later.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "dsp/HalfbandInterpolator.h"
#include "paths/EngineTestRig.h"

namespace tq {
namespace {

using testing::EngineRig;
using testing::EngineSetup;
using testing::kFlavours;
using testing::kRates;
using testing::StereoSignal;

// The frame of the largest output magnitude, and how large the rest of the output is
// beside it.
struct Arrival {
    int frame = -1;
    double peak = 0.0;
    double largestElsewhere = 0.0;
};

Arrival arrivalOf(const std::vector<double>& out) {
    Arrival arrival;
    for (int i = 0; i < static_cast<int>(out.size()); ++i) {
        const double magnitude = std::fabs(out[static_cast<std::size_t>(i)]);
        if (magnitude > arrival.peak) {
            arrival.largestElsewhere = std::max(arrival.largestElsewhere, arrival.peak);
            arrival.peak = magnitude;
            arrival.frame = i;
        } else {
            arrival.largestElsewhere = std::max(arrival.largestElsewhere, magnitude);
        }
    }
    return arrival;
}

TEST(Latency, ReportedLatencyIsTheSumOfTheStagesDelays) {
    for (int rate : kRates) {
        RateSettings rates;
        rates.update(rate, 0);
        EXPECT_EQ(rates.latency(), rates.lookAhead + HalfbandInterpolator::kCentreDelay) << rate;
    }
    RateSettings lowest;
    lowest.update(44100, 2);
    EXPECT_EQ(lowest.latency(), 159);
    RateSettings highest;
    highest.update(192000, 2);
    EXPECT_EQ(highest.latency(), 543);
}

// An impulse well below full scale passes the limiter untouched: it must arrive at the
// frame the latency promises, on both channels, in every setting that changes how the
// detector and the gain are formed.
TEST(Latency, AnImpulseArrivesAfterExactlyTheReportedLatency) {
    constexpr int kImpulseFrame = 700;
    constexpr double kImpulse = 0.25;
    for (Flavour flavour : kFlavours) {
        for (int rate : kRates) {
            for (int shape = 0; shape < 3; ++shape) {
                for (int variant = 0; variant < 4; ++variant) {
                    EngineSetup setup;
                    setup.rate = rate;
                    setup.transShape = shape;
                    setup.oversample = variant == 1;
                    setup.detectorOrder = variant == 2 ? 1 : 0;
                    setup.power = variant != 3;
                    EngineRig rig(flavour, setup);
                    const std::string what =
                        std::string(flavour == Flavour::Paired ? "paired" : "scalar") + " rate " +
                        std::to_string(rate) + " shape " + std::to_string(shape) + " variant " +
                        std::to_string(variant);

                    RateSettings rates;
                    rates.update(rate, shape);
                    const int stages = rates.lookAhead + HalfbandInterpolator::kCentreDelay;
                    ASSERT_EQ(rig.latency(), stages) << what;

                    StereoSignal in = testing::silence(kImpulseFrame + 2 * stages + 300);
                    in.left[kImpulseFrame] = kImpulse;
                    in.right[kImpulseFrame] = -kImpulse;
                    const StereoSignal out = rig.run(in, 100);
                    for (const std::vector<double>* channel : {&out.left, &out.right}) {
                        const Arrival arrival = arrivalOf(*channel);
                        EXPECT_EQ(arrival.frame - kImpulseFrame, stages) << what;
                        EXPECT_NEAR(arrival.peak, kImpulse, 1e-9) << what;
                        EXPECT_LT(arrival.largestElsewhere, 1e-9 * kImpulse) << what;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace tq
