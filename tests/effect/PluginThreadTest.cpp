// The effect driven from several threads at once, as VST hosts do: automation and the
// user's changes from different threads, program changes, rate and TransShape changes,
// all while the audio thread processes. The thread-sanitizer build runs these (their
// names contain "Thread").
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "effect/ParameterModel.h"
#include "effect/Plugin.h"
#include "presets/PresetFile.h"

namespace {

// Called by the host callback while the effect is inside a block (it asks whether the
// second pins are connected while it holds the processing lock).
std::function<void()> gInsideBlock;

vst::intptr hostCallback(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    switch (opcode) {
        case vst::audioMasterVersion:
            return 2400;
        case vst::audioMasterPinConnected:
            if (gInsideBlock) {
                const auto hook = std::move(gInsideBlock);
                gInsideBlock = nullptr;
                hook();
            }
            return 0;
        default:
            return 0;
    }
}

std::vector<float> noise(int frames, unsigned seed, float peak) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-peak, peak);
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (float& sample : samples) sample = distribution(generator);
    return samples;
}

// Interleaved left/right output of processReplacing over the whole signal.
std::vector<float> render(Plugin& plugin, const std::vector<float>& left,
                          const std::vector<float>& right, int block) {
    std::vector<float> out;
    std::vector<float> inL(left), inR(right), outL(left.size()), outR(left.size());
    for (std::size_t start = 0; start < left.size(); start += static_cast<std::size_t>(block)) {
        const int frames = static_cast<int>(std::min<std::size_t>(block, left.size() - start));
        float* inputs[2] = {inL.data() + start, inR.data() + start};
        float* outputs[2] = {outL.data() + start, outR.data() + start};
        plugin.processReplacing(inputs, outputs, frames);
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        out.push_back(outL[i]);
        out.push_back(outR[i]);
    }
    return out;
}

// Processes blocks until told to stop; counts samples that are not numbers within full
// scale.
class AudioThread {
public:
    explicit AudioThread(Plugin& plugin)
        : thread_([this, &plugin] {
              const std::vector<float> signal = noise(256, 1, 2.0f);
              std::vector<float> in(signal), outLeft(256), outRight(256);
              float* inputs[2] = {in.data(), in.data()};
              float* outputs[2] = {outLeft.data(), outRight.data()};
              while (running_.load()) {
                  plugin.processReplacing(inputs, outputs, 256);
                  for (std::size_t i = 0; i < 256; ++i) {
                      if (!(std::fabs(outLeft[i]) <= 1.0f) || !(std::fabs(outRight[i]) <= 1.0f)) {
                          badSamples_.fetch_add(1);
                      }
                  }
              }
          }) {}
    ~AudioThread() { stop(); }
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    int stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        return badSamples_.load();
    }

private:
    std::atomic<bool> running_{true};
    std::atomic<int> badSamples_{0};
    std::thread thread_;
};

// The parameters both setter threads fight over: each of them does more than one store.
constexpr int kContested[] = {tq::kRelease, tq::kTransient, tq::kNoiseShape, tq::kDrive,
                              tq::kOutput,  tq::kLeveller,  tq::kAttShow,    tq::kBits,
                              tq::kLink};

void hammer(Plugin& plugin, unsigned seed, int rounds) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int round = 0; round < rounds; ++round) {
        for (const int index : kContested) plugin.setParameter(index, value(generator));
    }
}

// Two setter threads, a program-changing thread (which also copies records out of and
// into the table, as the preset files do), a rate and TransShape thread and the audio
// thread, all at once.
TEST(PluginThreadSafety, SettersProgramsRatesAndAudioTogether) {
    Plugin plugin(hostCallback);
    AudioThread audio(plugin);
    std::thread setterA([&] { hammer(plugin, 21, 300); });
    std::thread setterB([&] { hammer(plugin, 22, 300); });
    std::thread programs([&] {
        char name[32];
        for (int round = 0; round < 60; ++round) {
            plugin.selectSlot(round % tq::kProgramCount);
            plugin.getProgramName(name);
            plugin.getProgramNameIndexed(0, round % tq::kProgramCount, name);
            if (round % 10 == 0) plugin.setCurrentName("Hammered");
            if (round % 10 == 5) {
                const tq::BankRecord bank = tq::buildBankRecord(plugin);
                (void)bank;  // only the copy out of the table matters here
                EXPECT_TRUE(tq::loadPresetRecord(plugin, tq::buildPresetRecord(plugin), false));
            }
        }
    });
    std::thread rates([&] {
        constexpr float kRates[] = {44100.0f, 96000.0f, 192000.0f, 48000.0f};
        for (int round = 0; round < 60; ++round) {
            plugin.setParameter(tq::kTransShape, round % 2 == 0 ? 0.9f : 0.1f);
            if (round % 3 == 0) plugin.setSampleRate(kRates[(round / 3) % 4]);
        }
    });
    setterA.join();
    setterB.join();
    programs.join();
    rates.join();
    EXPECT_EQ(audio.stop(), 0);
}

// After the hammering every parameter holds one of the last values set, the same in the
// parameter, in the current slot and in slot 0, and the engine runs exactly as an effect
// given those values from the start: no change was half applied or lost.
TEST(PluginThreadSafety, LastValuesWinAfterHammering) {
    Plugin plugin(hostCallback);
    AudioThread audio(plugin);
    std::atomic<bool> programsDone{false};
    std::atomic<bool> shapesDone{false};
    std::thread programs([&] {
        for (int round = 0; round < 40; ++round) plugin.selectSlot(round % tq::kProgramCount);
        plugin.selectSlot(9);
        programsDone = true;
    });
    std::thread shapes([&] {
        for (int round = 0; round < 40; ++round) {
            plugin.setParameter(tq::kTransShape, round % 2 == 0 ? 0.9f : 0.1f);
        }
        while (!programsDone.load()) std::this_thread::yield();
        plugin.setParameter(tq::kTransShape, 0.5f);  // "med", after every slot selection
        shapesDone = true;
    });
    constexpr float kLastA[] = {0.31f, 0.62f, 0.40f, 0.55f, 0.93f, 0.70f, 0.10f, 0.80f, 0.25f};
    constexpr float kLastB[] = {0.77f, 0.18f, 0.90f, 0.45f, 0.66f, 0.85f, 0.60f, 0.20f, 0.75f};
    auto setter = [&](unsigned seed, const float* last) {
        while (!shapesDone.load()) hammer(plugin, seed++, 5);
        hammer(plugin, seed, 30);
        for (std::size_t i = 0; i < std::size(kContested); ++i) {
            plugin.setParameter(kContested[i], last[i]);
        }
    };
    std::thread setterA([&] { setter(31, kLastA); });
    std::thread setterB([&] { setter(32, kLastB); });
    programs.join();
    shapes.join();
    setterA.join();
    setterB.join();
    EXPECT_EQ(audio.stop(), 0);

    EXPECT_EQ(plugin.currentSlot(), 9);
    EXPECT_EQ(plugin.smoothingLength(), 16);
    for (std::size_t i = 0; i < std::size(kContested); ++i) {
        const int index = kContested[i];
        const float value = plugin.getParameter(index);
        EXPECT_TRUE(value == kLastA[i] || value == kLastB[i]) << index << ": " << value;
        EXPECT_EQ(plugin.programs()[9].values[index], value) << index;
        EXPECT_EQ(plugin.programs()[0].values[index], value) << index;
    }

    // The same values given to a new effect, both restarted from cleared state.
    Plugin twin(hostCallback);
    for (int index = 0; index < tq::kNumParameters; ++index) {
        twin.setParameter(index, plugin.getParameter(index));
    }
    plugin.setSampleRate(44100.0f);
    twin.setSampleRate(44100.0f);
    const auto left = noise(3000, 5, 3.0f), right = noise(3000, 6, 3.0f);
    EXPECT_EQ(render(plugin, left, right, 500), render(twin, left, right, 500));
}

// A TransShape change made by another thread while the audio thread is inside a block
// does not touch that block (and does not wait for it to end); the next block starts
// with the new shape from cleared state.
TEST(PluginThreadSafety, TransShapeChangeStartsAtTheNextBlock) {
    for (const tq::Flavour flavour : {tq::Flavour::Scalar, tq::Flavour::Paired}) {
        Plugin plugin(hostCallback, flavour);
        Plugin unchanged(hostCallback, flavour);
        const auto left = noise(1800, 7, 2.0f), right = noise(1800, 8, 2.0f);
        const std::vector<float> firstL(left.begin(), left.begin() + 600);
        const std::vector<float> firstR(right.begin(), right.begin() + 600);
        const std::vector<float> blockL(left.begin() + 600, left.begin() + 900);
        const std::vector<float> blockR(right.begin() + 600, right.begin() + 900);
        const std::vector<float> restL(left.begin() + 900, left.end());
        const std::vector<float> restR(right.begin() + 900, right.end());
        render(plugin, firstL, firstR, 200);
        render(unchanged, firstL, firstR, 200);

        std::atomic<bool> changed{false};
        gInsideBlock = [&] {
            std::thread user([&] {
                plugin.setParameter(tq::kTransShape, 0.9f);  // "soft"
                changed = true;
            });
            user.join();
        };
        const auto during = render(plugin, blockL, blockR, 300);
        gInsideBlock = nullptr;
        EXPECT_EQ(during, render(unchanged, blockL, blockR, 300));
        EXPECT_TRUE(changed.load());
        EXPECT_EQ(plugin.smoothingLength(), 64);

        Plugin fresh(hostCallback, flavour);
        fresh.setParameter(tq::kTransShape, 0.9f);
        EXPECT_EQ(render(plugin, restL, restR, 300), render(fresh, restL, restR, 300));
    }
}

}  // namespace
