// Cost of the limiter signal path per stereo frame (the "frame" counter reads as time
// per frame). Each iteration processes one 512-frame host block of loud programme
// material (a sine with noise bursts, so the limiter works).
//
// Default: the settings of the initial program (Drive 0 dB, Transient 0.02, Release
// 200 ms, TransShape hard, L/R Link 1) at 44100 Hz. Variants: Oversample on; TransShape
// soft at 192000 Hz; everything on (Oversample, MeterOvs, Quantize 16 bit with
// NoiseShape type C).
//
// Each benchmark runs five times and reports mean, median, spread and minimum. On a
// shared machine other guests' load only ever adds time, so the minimum is the closest
// reading of the code's own cost, and the median what a busy hour gives.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/EngineSettings.h"
#include "paths/SignalPath.h"

namespace {

constexpr int kBlock = 512;
constexpr int kBlocks = 64;  // the signal cycles through this many different blocks

struct Variant {
    int rate = 44100;
    int transShape = 0;
    bool oversample = false;
    bool finalStages = false;  // MeterOvs, Quantize 16 bit, NoiseShape type C
};

template <typename Sample>
struct Programme {
    std::vector<Sample> left;
    std::vector<Sample> right;
    Programme() : left(kBlock * kBlocks), right(kBlock * kBlocks) {
        std::mt19937 random(1);
        std::uniform_real_distribution<double> noise(-1.0, 1.0);
        for (int i = 0; i < kBlock * kBlocks; ++i) {
            const double burst = (i / 700) % 3 == 0 ? 1.5 : 0.2;
            left[i] = static_cast<Sample>(0.8 * std::sin(0.031 * i) + burst * noise(random));
            right[i] = static_cast<Sample>(0.7 * std::sin(0.017 * i) + burst * noise(random));
        }
    }
};

template <typename Sample>
void runPath(benchmark::State& state, tq::Flavour flavour, Variant variant) {
    tq::EngineParameters parameters;
    parameters.driveGain = 1.0;
    parameters.outputGain = 1.0;
    parameters.transientShare = 0.02;
    parameters.releaseMs = 200.0;
    parameters.linkAmount = 1.0;
    parameters.transShape = variant.transShape;
    parameters.oversample = variant.oversample;
    if (variant.finalStages) {
        parameters.meterOvs = true;
        parameters.quantize = true;
        parameters.bits = 1;
        parameters.noiseShapeSet = tq::selectNoiseShapeSet(3, variant.rate, tq::kNoiseShapeOff);
    }
    tq::fillAttackCoefficients(parameters, variant.rate);
    tq::fillReleaseCoefficients(parameters, 200.0, variant.rate);
    tq::SignalPath path(flavour, parameters);
    tq::RateSettings rates;
    rates.update(variant.rate, variant.transShape);
    path.setRateSettings(rates);
    path.suspend();

    const Programme<Sample> programme;
    std::vector<Sample> outLeft(kBlock), outRight(kBlock);
    int block = 0;
    for (auto _ : state) {
        const std::size_t offset = static_cast<std::size_t>(block) * kBlock;
        path.process(programme.left.data() + offset, programme.right.data() + offset,
                     outLeft.data(), outRight.data(), kBlock);
        benchmark::DoNotOptimize(outLeft.data());
        benchmark::DoNotOptimize(outRight.data());
        block = (block + 1) % kBlocks;
    }
    state.counters["frame"] = benchmark::Counter(
        kBlock, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void pairedDefaultFloat(benchmark::State& s) { runPath<float>(s, tq::Flavour::Paired, {}); }
void pairedDefaultDouble(benchmark::State& s) { runPath<double>(s, tq::Flavour::Paired, {}); }
void scalarDefaultFloat(benchmark::State& s) { runPath<float>(s, tq::Flavour::Scalar, {}); }
void scalarDefaultDouble(benchmark::State& s) { runPath<double>(s, tq::Flavour::Scalar, {}); }
void pairedOversample(benchmark::State& s) {
    runPath<float>(s, tq::Flavour::Paired, {44100, 0, true});
}
void scalarOversample(benchmark::State& s) {
    runPath<float>(s, tq::Flavour::Scalar, {44100, 0, true});
}
void pairedSoft192k(benchmark::State& s) {
    runPath<float>(s, tq::Flavour::Paired, {192000, 2, false});
}
void scalarSoft192k(benchmark::State& s) {
    runPath<float>(s, tq::Flavour::Scalar, {192000, 2, false});
}
void pairedAllOn(benchmark::State& s) {
    runPath<float>(s, tq::Flavour::Paired, {44100, 0, true, true});
}
void pairedAllOnDouble(benchmark::State& s) {
    runPath<double>(s, tq::Flavour::Paired, {44100, 0, true, true});
}
void scalarAllOn(benchmark::State& s) {
    runPath<float>(s, tq::Flavour::Scalar, {44100, 0, true, true});
}

double smallest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

}  // namespace

#define TQ_ENGINE_BENCHMARK(function)                                                         \
    BENCHMARK(function)->Repetitions(5)->ReportAggregatesOnly(true)->ComputeStatistics("min", \
                                                                                       smallest)

TQ_ENGINE_BENCHMARK(pairedDefaultFloat);
TQ_ENGINE_BENCHMARK(pairedDefaultDouble);
TQ_ENGINE_BENCHMARK(scalarDefaultFloat);
TQ_ENGINE_BENCHMARK(scalarDefaultDouble);
TQ_ENGINE_BENCHMARK(pairedOversample);
TQ_ENGINE_BENCHMARK(scalarOversample);
TQ_ENGINE_BENCHMARK(pairedSoft192k);
TQ_ENGINE_BENCHMARK(scalarSoft192k);
TQ_ENGINE_BENCHMARK(pairedAllOn);
TQ_ENGINE_BENCHMARK(pairedAllOnDouble);
TQ_ENGINE_BENCHMARK(scalarAllOn);

BENCHMARK_MAIN();
