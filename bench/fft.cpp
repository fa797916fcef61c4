// Cost of one block convolution step of the gain smoothing: forward transform, spectral
// product and inverse transform, at the block sizes of the "soft" setting at 44.1 kHz
// (M = 128) and 192 kHz (M = 512). The scalar flavour does one channel per call, the paired
// flavour both.
#include <benchmark/benchmark.h>

#include <array>
#include <random>

#include "paths/RealFft.h"

namespace {

struct alignas(16) Buffer {
    std::array<double, 1024> v{};
};

void fillBlock(const tq::RealFftSize& fft, int doublesPerValue, Buffer& block, Buffer& kernel) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    const int size = fft.size;
    // Zero-padded block and a unit-sum non-negative kernel, as the smoothing uses them.
    for (int k = 0; k < size / 2; ++k) {
        for (int lane = 0; lane < doublesPerValue; ++lane) {
            block.v[(2 * k) * doublesPerValue + lane] = value(random);
            kernel.v[(2 * k) * doublesPerValue + lane] = 2.0 / size;
        }
    }
    fft.forward(kernel.v.data());
    fft.scaleKernelSpectrum(kernel.v.data());
}

void convolveBlock(benchmark::State& state, const tq::RealFftSize* fft, int channels) {
    Buffer block, kernel;
    fillBlock(*fft, channels, block, kernel);
    for (auto _ : state) {
        fft->forward(block.v.data());
        fft->multiplySpectrum(block.v.data(), kernel.v.data());
        fft->inverse(block.v.data());
        benchmark::DoNotOptimize(block.v.data());
        benchmark::ClobberMemory();
    }
    state.counters["channels"] = channels;
    state.SetItemsProcessed(state.iterations() * channels);
}

void BM_ScalarForwardMultiplyInverse(benchmark::State& state) {
    convolveBlock(state, tq::scalarFftForKernel(static_cast<int>(state.range(0)) / 2), 1);
}

void BM_PairedForwardMultiplyInverse(benchmark::State& state) {
    convolveBlock(state, tq::pairedFftForKernel(static_cast<int>(state.range(0)) / 2), 2);
}

BENCHMARK(BM_ScalarForwardMultiplyInverse)->ArgName("M")->Arg(128)->Arg(512);
BENCHMARK(BM_PairedForwardMultiplyInverse)->ArgName("M")->Arg(128)->Arg(512);

}  // namespace

BENCHMARK_MAIN();
