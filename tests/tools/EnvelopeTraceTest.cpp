// The level trace behind the gain-reduction figures and the plot.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "EnvelopeTrace.h"

namespace tq {
namespace {

std::vector<double> noise(std::size_t samples, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> result(samples);
    for (double& sample : result) sample = value(random);
    return result;
}

TEST(EnvelopeTrace, ChunkingDoesNotChangeTheWindows) {
    const int rate = 44100;  // 220-frame windows: blocks never line up with them
    const std::int64_t frames = rate + 77;
    const std::vector<double> input = noise(static_cast<std::size_t>(frames), 1);
    const std::vector<double> output = noise(static_cast<std::size_t>(frames * 2), 2);
    EnvelopeTrace whole(rate, 1, 2);
    whole.addInput(input.data(), frames);
    whole.addOutput(output.data(), frames);

    EnvelopeTrace pieces(rate, 1, 2);
    std::int64_t in = 0;
    std::int64_t out = 0;
    for (std::int64_t step = 1; in < frames || out < frames; step = step * 7 % 509 + 1) {
        // The output lags behind, as it does while latency is dropped.
        const std::int64_t inStep = std::min(step, frames - in);
        pieces.addInput(input.data() + in, inStep);
        in += inStep;
        const std::int64_t outStep = std::min(step / 2 + (in == frames ? frames : 0), frames - out);
        pieces.addOutput(output.data() + out * 2, outStep);
        out += outStep;
    }
    ASSERT_EQ(pieces.windows().size(), whole.windows().size());
    for (std::size_t i = 0; i < whole.windows().size(); ++i) {
        EXPECT_EQ(pieces.windows()[i].inputPeak, whole.windows()[i].inputPeak) << i;
        EXPECT_EQ(pieces.windows()[i].outputPeak, whole.windows()[i].outputPeak) << i;
        EXPECT_NEAR(pieces.windows()[i].inputPower, whole.windows()[i].inputPower, 1e-12) << i;
        EXPECT_NEAR(pieces.windows()[i].outputPower, whole.windows()[i].outputPower, 1e-12) << i;
    }
}

TEST(EnvelopeTrace, ReductionAgainstTheStaticGain) {
    const int rate = 48000;
    const std::int64_t frames = rate;
    std::vector<double> input(static_cast<std::size_t>(frames));
    std::vector<double> output(static_cast<std::size_t>(frames));
    for (std::int64_t n = 0; n < frames; ++n) {
        const double tone = std::sin(2.0 * M_PI * 1000.0 * n / rate);
        const bool silent = n < rate / 4;
        input[static_cast<std::size_t>(n)] = silent ? 0.0 : 0.5 * tone;
        // Raised by 12 dB, held at full scale: 6 dB of reduction; the first
        // half second after the silence is passed unreduced.
        output[static_cast<std::size_t>(n)] = silent ? 0.0 : n < rate / 2 ? 2.0 * tone : tone;
    }
    EnvelopeTrace trace(rate, 1, 1);
    trace.addInput(input.data(), frames);
    trace.addOutput(output.data(), frames);
    const std::vector<double> reduction = trace.gainReductionDb(20.0 * std::log10(4.0));
    EXPECT_TRUE(std::isnan(reduction.front()));  // silence is no measure
    EXPECT_NEAR(reduction[reduction.size() / 2 - 10], 0.0, 1e-6);
    EXPECT_NEAR(reduction.back(), 6.02, 0.01);
    const GainReductionSummary summary = trace.summarizeGainReduction(20.0 * std::log10(4.0));
    EXPECT_NEAR(summary.maxDb, 6.02, 0.01);
    // Two thirds of the sounding windows reduce by 6 dB, one third not at all.
    EXPECT_NEAR(summary.averageDb, 6.02 * 2.0 / 3.0, 0.05);
}

}  // namespace
}  // namespace tq
