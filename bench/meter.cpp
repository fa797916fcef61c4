// Per-frame cost of the final stages: requantization with the longest noise-shaping
// loop (type C, 12 taps, 16 bits, autoblack on) and the meter measurement with and
// without the inter-sample output peaks. Each iteration runs one 512-frame block.
#include <benchmark/benchmark.h>

#include <cmath>
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
    for (auto _ : state) {
        requantizer.beginBlock(parameters, rates);
        for (std::size_t i = 0; i < kBlock; ++i) {
            requantizer.frame(left[i], right[i], outLeft[i], outRight[i], generator);
        }
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
