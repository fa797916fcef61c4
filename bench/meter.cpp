// Per-frame cost of the final stages: requantization with the longest noise-shaping
// loop (type C, 12 taps, 16 bits, autoblack on) and the meter measurement with and
// without the inter-sample output peaks. Each iteration runs one 512-frame block.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/EngineSettings.h"
#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"

namespace {

constexpr int kBlock = 512;

std::vector<double> testSignal(double phase) {
    std::vector<double> signal(kBlock);
    for (int i = 0; i < kBlock; ++i)
        signal[static_cast<std::size_t>(i)] = 0.7 * std::sin(0.013 * i + phase);
    return signal;
}

void requantizeTypeC(benchmark::State& state) {
    tq::EngineParameters parameters;
    tq::RateSettings rates;
    rates.update(44100, 2);
    parameters.quantize = true;
    parameters.bits = 1;
    parameters.autoblack = true;
    parameters.noiseShapeSet = tq::selectNoiseShapeSet(3, 44100, tq::kNoiseShapeOff);
    tq::Requantizer requantizer;
    tq::NoiseGenerator generator;
    requantizer.reset();
    requantizer.clear();
    const std::vector<double> left = testSignal(0.0);
    const std::vector<double> right = testSignal(1.0);
    std::vector<double> outLeft(kBlock), outRight(kBlock);
    // As the engine runs it: the block in runs of 64 frames, each run's words from a
    // NoiseRun, converted before its frames.
    alignas(16) std::array<std::uint32_t, tq::NoiseRun::kWords> words{};
    for (auto _ : state) {
        requantizer.beginBlock(parameters, rates);
        tq::RequantizerFrames frames = requantizer.frames();
        for (int start = 0; start < kBlock; start += tq::RequantizerFrames::kRun) {
            tq::NoiseRun run = tq::NoiseRun::startingAt(generator);
            for (int i = 0; i < tq::NoiseRun::kStretch; ++i) run.step(words.data() + 4 * i);
            run.finish(generator);
            frames.prepareDither(words.data(), tq::RequantizerFrames::kRun);
            for (int i = 0; i < tq::RequantizerFrames::kRun; ++i) {
                const auto n = static_cast<std::size_t>(start + i);
                const tq::DoublePair y = frames.frame<false>(tq::DoublePair(left[n], right[n]), i);
                outLeft[n] = y.left();
                outRight[n] = y.right();
            }
            frames.endRun(tq::RequantizerFrames::kRun);
        }
        requantizer.endBlock(frames);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(requantizeTypeC);

void measureMeters(benchmark::State& state) {
    tq::EngineParameters parameters;
    tq::RateSettings rates;
    rates.update(44100, 2);
    parameters.meterOvs = state.range(0) != 0;
    tq::MeterMeasurement meters;
    const std::vector<double> left = testSignal(0.0);
    const std::vector<double> right = testSignal(1.0);
    for (auto _ : state) {
        meters.beginBlock(parameters, rates, 1.0);
        for (std::size_t i = 0; i < kBlock; ++i) {
            meters.frame(left[i], right[i], 0.9, 0.8, 0.95, 0.9, 1.0, left[i], right[i], true);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(measureMeters)->Arg(0)->Arg(1)->ArgName("meterOvs");

}  // namespace

BENCHMARK_MAIN();
