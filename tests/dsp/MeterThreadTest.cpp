// Runs the audio side and the fetch side of the meters on two threads at once, as
// the effect does. Under ThreadSanitizer (the tsan build runs tests named *Thread*)
// any unsynchronised access between them is reported.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "dsp/CalibrationGenerator.h"
#include "dsp/EngineSettings.h"
#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"

namespace {

using tq::MeterMeasurement;
using Values = std::array<float, MeterMeasurement::kValueCount>;

bool plausible(const Values& v) {
    for (float x : v) {
        if (!std::isfinite(x) || x < 0.0f) return false;
    }
    return v[MeterMeasurement::kInPeakL] <= 1.0f && v[MeterMeasurement::kOutPeakR] <= 1.0f &&
           v[MeterMeasurement::kAttL] <= 1.0f && v[MeterMeasurement::kAttR] <= 1.0f;
}

TEST(MeterThreadSafety, FetchWhileAudioRunsFramesAndCalibration) {
    tq::EngineParameters parameters;
    tq::RateSettings rates;
    rates.update(48000, 2);
    MeterMeasurement meters;
    tq::NoiseGenerator generator;
    tq::CalibrationGenerator calibration;

    std::atomic<bool> audioDone{false};
    std::atomic<int> fetches{0};
    std::atomic<int> blocks{0};

    std::thread audio([&] {
        std::vector<float> left(256), right(256);
        int frame = 0;
        // Keeps running until the other side has fetched often enough (relaxed, so the
        // handshake itself orders nothing that ThreadSanitizer should see).
        for (int block = 0; block < 400 || fetches.load(std::memory_order_relaxed) < 200; ++block) {
            meters.beginBlock(parameters, rates, 1.0);
            if (block % 5 == 4) {
                calibration.process(left.data(), right.data(), 256, 2, 0, generator, meters);
            } else {
                for (int i = 0; i < 256; ++i, ++frame) {
                    const double x = 0.9 * std::sin(0.01 * frame);
                    meters.frame(x, -x, 0.8, 0.7, 0.9, 0.85, 0.95, 0.8 * x, -0.7 * x, true);
                }
            }
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
        audioDone = true;
    });

    // The user-interface side changes display settings while audio runs.
    std::thread settings([&] {
        int i = 0;
        while (!audioDone) {
            parameters.meterOvs = (i & 1) != 0;
            parameters.postMeter = (i & 2) != 0;
            parameters.attShow = i & 7;
            parameters.attHoldResetSerial.fetch_add(1);
            ++i;
            std::this_thread::yield();
        }
    });

    bool allPlausible = true;
    do {
        Values v{};
        meters.fetch(v.data());
        allPlausible = allPlausible && plausible(v);
        fetches.fetch_add(1, std::memory_order_relaxed);
        std::this_thread::yield();
    } while (!audioDone);
    audio.join();
    settings.join();

    EXPECT_TRUE(allPlausible);
    EXPECT_GE(fetches.load(), 200);
    EXPECT_GE(blocks.load(), 400);
    Values last{};
    meters.fetch(last.data());
    EXPECT_TRUE(plausible(last));
    EXPECT_GT(last[MeterMeasurement::kOutRmsL], 0.0f);
}

}  // namespace
