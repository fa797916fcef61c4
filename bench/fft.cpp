// Cost of one block convolution step of the gain smoothing: forward transform, spectral
// product and inverse transform, at the block sizes of the "soft" setting at 44.1 kHz
// (M = 128) and 192 kHz (M = 512). The scalar flavour does one channel per call, the paired
// flavour both. Then one whole overlap-add block as the convolver runs it, in the plain and
// (where the processor has it) the AVX2 build, at the sizes of "hard" (M = 16 at 44.1 kHz,
// 32 at 96 kHz, 64 at 192 kHz) and "soft" at 44.1 kHz.
#include <benchmark/benchmark.h>

#include <array>
#include <random>

#include "paths/RealFft.h"
#include "paths/WideBuild.h"

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

using OverlapAdd = void (*)(const double*, const double*, double*, double*, double*);

void overlapAddBlock(benchmark::State& state, const tq::RealFftSize* fft, OverlapAdd entry) {
    if (entry == nullptr) {
        state.SkipWithError("no such build here");
        return;
    }
    Buffer input, kernel, tail, output, work;
    fillBlock(*fft, 2, input, kernel);
    if (entry == fft->overlapAddWide && fft->prepareWideKernel != nullptr) {
        Buffer spectrum = kernel;
        fft->prepareWideKernel(spectrum.v.data(), kernel.v.data());
    }
    for (auto _ : state) {
        entry(input.v.data(), kernel.v.data(), tail.v.data(), output.v.data(), work.v.data());
        benchmark::DoNotOptimize(output.v.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * fft->size / 2);  // frames
}

void BM_PairedOverlapAdd(benchmark::State& state) {
    const tq::RealFftSize* fft = tq::pairedFftForKernel(static_cast<int>(state.range(0)) / 2);
    overlapAddBlock(state, fft, fft->overlapAdd);
}

void BM_PairedOverlapAddWide(benchmark::State& state) {
    const tq::RealFftSize* fft = tq::pairedFftForKernel(static_cast<int>(state.range(0)) / 2);
    overlapAddBlock(state, fft, tq::wideBuildAvailable() ? fft->overlapAddWide : nullptr);
}

BENCHMARK(BM_ScalarForwardMultiplyInverse)->ArgName("M")->Arg(128)->Arg(512);
BENCHMARK(BM_PairedForwardMultiplyInverse)->ArgName("M")->Arg(128)->Arg(512);
BENCHMARK(BM_PairedOverlapAdd)->ArgName("M")->Arg(16)->Arg(32)->Arg(64)->Arg(128);
BENCHMARK(BM_PairedOverlapAddWide)->ArgName("M")->Arg(16)->Arg(32)->Arg(64)->Arg(128);

}  // namespace

BENCHMARK_MAIN();
