// How long one process() call can take while another thread changes parameters without
// pause: the audio thread's worst case, not its average. The effect runs at 192000 Hz
// with 512-frame blocks (2.67 ms of audio each) on loud programme material; a second
// thread either switches TransShape between "hard" and "soft" (each switch rebuilds the
// smoothing kernel and resets the signal state) or sets Drive, Release, Transient,
// NoiseShape and the meter switches in turn.
//
// Calls are made at the pace of a host's audio thread (one block every 2.67 ms), each is
// timed on its own; the counters give the worst and the median call in
// milliseconds and how many switches the other thread made. The reported time per
// iteration is the mean call. Effects run with a private per-user store, so a run
// neither reads nor changes the user's settings.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "effect/ParameterModel.h"
#include "effect/Plugin.h"

namespace {

constexpr int kBlock = 512;
constexpr int kBlocks = 32;  // the programme cycles through this many blocks
constexpr float kRate = 192000.0f;
constexpr auto kBlockPeriod = std::chrono::microseconds(kBlock * 1000000 / 192000);

vst::intptr hostCallback(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

struct Programme {
    std::vector<float> left;
    std::vector<float> right;
    Programme() : left(kBlock * kBlocks), right(kBlock * kBlocks) {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (int i = 0; i < kBlock * kBlocks; ++i) {
            const float burst = (i / 3000) % 2 == 0 ? 1.5f : 0.3f;
            left[static_cast<std::size_t>(i)] = 0.8f * std::sin(0.0071f * i) + burst * noise(random);
            right[static_cast<std::size_t>(i)] = 0.7f * std::sin(0.0043f * i) + burst * noise(random);
        }
    }
};

// Switches TransShape back and forth until told to stop.
void hammerTransShape(Plugin& plugin, const std::atomic<bool>& running, std::atomic<long>& count) {
    bool soft = false;
    while (running.load(std::memory_order_relaxed)) {
        soft = !soft;
        plugin.setParameter(tq::kTransShape, soft ? 0.9f : 0.1f);
        count.fetch_add(1, std::memory_order_relaxed);
    }
}

// Sets the parameters whose changes do more than one store, and some that do one.
void hammerOthers(Plugin& plugin, const std::atomic<bool>& running, std::atomic<long>& count) {
    constexpr int kIndices[] = {tq::kDrive,      tq::kRelease,  tq::kTransient, tq::kNoiseShape,
                                tq::kOutput,     tq::kLink,     tq::kAttShow,   tq::kMeterOvs,
                                tq::kDetectorOrder};
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    while (running.load(std::memory_order_relaxed)) {
        for (const int index : kIndices) plugin.setParameter(index, value(random));
        count.fetch_add(1, std::memory_order_relaxed);
    }
}

template <typename Hammer>
void worstProcessCall(benchmark::State& state, Hammer hammer) {
    Plugin plugin(hostCallback, tq::Flavour::Paired);
    plugin.setSampleRate(kRate);
    plugin.setParameter(tq::kTransShape, 0.9f);  // soft: the longest kernel
    const Programme programme;
    std::vector<float> outLeft(kBlock), outRight(kBlock);
    float* outputs[2] = {outLeft.data(), outRight.data()};

    std::atomic<bool> running{true};
    std::atomic<long> changes{0};
    std::thread other([&] { hammer(plugin, running, changes); });

    std::vector<double> calls;
    calls.reserve(static_cast<std::size_t>(state.max_iterations));
    int block = 0;
    auto due = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // Blocks come at the pace of audio, as from a host: between them the other
        // thread has the machine to itself.
        due += kBlockPeriod;
        std::this_thread::sleep_until(due);
        const std::size_t offset = static_cast<std::size_t>(block) * kBlock;
        float* inputs[2] = {const_cast<float*>(programme.left.data() + offset),
                            const_cast<float*>(programme.right.data() + offset)};
        const auto start = std::chrono::steady_clock::now();
        plugin.processReplacing(inputs, outputs, kBlock);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        calls.push_back(elapsed.count() * 1e3);
        benchmark::DoNotOptimize(outLeft.data());
        block = (block + 1) % kBlocks;
    }
    running = false;
    other.join();

    std::sort(calls.begin(), calls.end());
    state.counters["worst_ms"] = calls.back();
    state.counters["median_ms"] = calls[calls.size() / 2];
    state.counters["changes"] = static_cast<double>(changes.load());
}

void hammeredByTransShape(benchmark::State& state) { worstProcessCall(state, hammerTransShape); }
void hammeredByOtherParameters(benchmark::State& state) {
    worstProcessCall(state, hammerOthers);
}

// A private, empty per-user store for the run.
class PrivateStore {
public:
    PrivateStore() {
        char pattern[] = "/tmp/tq-bench-contention-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            directory_ = pattern;
            setenv("XDG_CONFIG_HOME", pattern, 1);
        }
    }
    ~PrivateStore() {
        std::error_code ignored;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
    }
    PrivateStore(const PrivateStore&) = delete;
    PrivateStore& operator=(const PrivateStore&) = delete;

private:
    std::string directory_;
};

}  // namespace

// A fixed number of calls: a starved call can take hundreds of milliseconds, so letting
// the library pick the count by time would stop after a handful of them.
BENCHMARK(hammeredByTransShape)->UseManualTime()->Iterations(1500)->Unit(benchmark::kMillisecond);
BENCHMARK(hammeredByOtherParameters)
    ->UseManualTime()
    ->Iterations(1500)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    const PrivateStore store;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
