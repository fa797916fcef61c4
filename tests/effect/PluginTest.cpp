// The effect object driven directly: parameters, programs, lifecycle, dispatch.
#include "effect/Plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "effect/ParameterModel.h"

namespace {

std::atomic<int> gUpdateDisplayCalls{0};
std::atomic<int> gSecondPinAnswer{0};  // 0: connected

vst::intptr hostCallback(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    switch (opcode) {
        case vst::audioMasterVersion:
            return 2400;
        case vst::audioMasterUpdateDisplay:
            gUpdateDisplayCalls.fetch_add(1);
            return 0;
        case vst::audioMasterPinConnected:
            return gSecondPinAnswer.load();
        default:
            return 0;
    }
}

std::string display(Plugin& plugin, int index) {
    char text[64] = {};
    plugin.getParameterDisplay(index, text);
    return text;
}

std::string programName(Plugin& plugin) {
    char text[64] = {};
    plugin.getProgramName(text);
    return text;
}

class PluginTest : public ::testing::TestWithParam<tq::Flavour> {
protected:
    void SetUp() override { gSecondPinAnswer = 0; }
    Plugin plugin{hostCallback, GetParam()};
};

TEST_P(PluginTest, StartsWithProgramCurrent) {
    EXPECT_EQ(plugin.flavour(), GetParam());
    EXPECT_EQ(programName(plugin), "Current");
    EXPECT_EQ(plugin.currentSlot(), 0);
    EXPECT_FLOAT_EQ(plugin.getParameter(tq::kRelease), 0.7237f);
    EXPECT_EQ(display(plugin, tq::kRelease), "199.9867");
    EXPECT_EQ(display(plugin, tq::kTransShape), "hard");
    EXPECT_EQ(plugin.smoothingLength(), 8);
    EXPECT_EQ(plugin.transientRingLength(), 114);
    EXPECT_EQ(plugin.getAeffect()->initialDelay, 159);
    EXPECT_EQ(plugin.rateBand(), 0);
}

TEST_P(PluginTest, SteppedParametersAndTheOldLayoutConversion) {
    plugin.setParameter(tq::kScale, 1.0f);
    EXPECT_EQ(display(plugin, tq::kScale), "K-20");
    plugin.setParameter(tq::kScale, 0.6667f);
    EXPECT_EQ(display(plugin, tq::kScale), "K-20");
    plugin.setParameter(tq::kScale, 0.6666f);
    EXPECT_EQ(display(plugin, tq::kScale), "K-14");

    // Old layout: Bits step 1 of 4 meant 8 bits.
    plugin.setParameter(tq::kBits, 0.3f);
    plugin.setParameter(tq::kScale, 0.8f);  // old step 3 of 4: K-20
    plugin.setParameter(tq::kLayoutMarker, 0.0f);
    EXPECT_EQ(display(plugin, tq::kQuantize), "on");
    EXPECT_EQ(display(plugin, tq::kBits), "8");
    EXPECT_EQ(display(plugin, tq::kAutoblack), "off");
    EXPECT_EQ(display(plugin, tq::kAttShow), "12L");
    EXPECT_EQ(display(plugin, tq::kAttZoom), "24dB");
    EXPECT_EQ(display(plugin, tq::kPostMeter), "post");
    EXPECT_EQ(display(plugin, tq::kMeterType), "k-system");
    EXPECT_EQ(display(plugin, tq::kScale), "K-20");
    EXPECT_FLOAT_EQ(plugin.getParameter(tq::kLayoutMarker), 0.015f);

    plugin.setParameter(tq::kBits, 0.1f);
    plugin.setParameter(tq::kScale, 0.1f);  // old step 0: peak
    plugin.setParameter(tq::kLayoutMarker, 0.0f);
    EXPECT_EQ(display(plugin, tq::kQuantize), "off");
    EXPECT_EQ(display(plugin, tq::kBits), "16");
    EXPECT_EQ(display(plugin, tq::kMeterType), "peak");
    EXPECT_EQ(display(plugin, tq::kScale), "K-14");

    // At or above 0.01 nothing is converted.
    plugin.setParameter(tq::kBits, 0.1f);
    plugin.setParameter(tq::kQuantize, 1.0f);
    plugin.setParameter(tq::kLayoutMarker, 0.015f);
    EXPECT_EQ(display(plugin, tq::kQuantize), "on");
    EXPECT_FLOAT_EQ(plugin.getParameter(tq::kBits), 0.1f);
}

// Hosts often hand over a buffer that was never cleared: every text call must leave a
// terminated string in it, and write nothing past the terminator.
TEST_P(PluginTest, ParameterTextsAreAlwaysTerminated) {
    constexpr char kSentinel = '\x5A';
    using TextCall = void (Plugin::*)(vst::int32, char*);
    struct Case {
        const char* what;
        TextCall call;
        vst::int32 index;
        std::string expected;
    };
    const Case cases[] = {
        {"label of Output", &Plugin::getParameterLabel, tq::kOutput, "dB"},
        {"label of TransShape", &Plugin::getParameterLabel, tq::kTransShape, ""},
        {"label of the layout marker", &Plugin::getParameterLabel, tq::kLayoutMarker, ""},
        {"label of -1", &Plugin::getParameterLabel, -1, ""},
        {"label of 26", &Plugin::getParameterLabel, tq::kNumParameters, ""},
        {"display of Bits", &Plugin::getParameterDisplay, tq::kBits, "16"},
        {"display of AttShow", &Plugin::getParameterDisplay, tq::kAttShow, "12L"},
        {"display of a dummy", &Plugin::getParameterDisplay, tq::kDummyFirst, ""},
        {"display of the layout marker", &Plugin::getParameterDisplay, tq::kLayoutMarker, ""},
        {"display of -1", &Plugin::getParameterDisplay, -1, ""},
        {"display of 26", &Plugin::getParameterDisplay, tq::kNumParameters, ""},
        {"name of DetectorOrder", &Plugin::getParameterName, tq::kDetectorOrder, "DetectorOrder"},
        {"name of -1", &Plugin::getParameterName, -1, ""},
        {"name of 26", &Plugin::getParameterName, tq::kNumParameters, ""},
    };
    for (const Case& c : cases) {
        char text[64];
        std::memset(text, kSentinel, sizeof(text));
        (plugin.*c.call)(c.index, text);
        const std::size_t length = c.expected.size();
        EXPECT_EQ(std::string(text, length), c.expected) << c.what;
        EXPECT_EQ(text[length], '\0') << c.what;
        for (std::size_t i = length + 1; i < sizeof(text); ++i) {
            ASSERT_EQ(text[i], kSentinel) << c.what << ": byte " << i << " written";
        }
    }
}

TEST_P(PluginTest, EngineValuesFollowTheParameters) {
    const tq::EngineParameters& engine = plugin.engineParameters();
    plugin.setParameter(tq::kLeveller, 0.25f);
    EXPECT_EQ(display(plugin, tq::kLeveller), "-12.0411");
    EXPECT_NEAR(engine.levellerGain.load(), std::pow(2.0, -1.5), 1e-12);
    EXPECT_TRUE(engine.levellerEngaged.load());
    plugin.setParameter(tq::kLeveller, 1.0f);
    EXPECT_FALSE(engine.levellerEngaged.load());
    plugin.setParameter(tq::kOutput, 0.999167f);
    EXPECT_EQ(display(plugin, tq::kOutput), "-0.01002");
    plugin.setParameter(tq::kPower, 0.2f);
    EXPECT_EQ(engine.powerGain.load(), 0.0);
    plugin.setParameter(tq::kRelease, 0.5f);
    // Release coefficients run from the release time down to 2 ms.
    const double rate = 44100.0;
    EXPECT_NEAR(engine.release[0].load(), 1.0 - std::exp(-1000.0 / (tq::releaseTimeFor(0.5f) * rate)), 1e-15);
    EXPECT_NEAR(engine.release[7].load(), 1.0 - std::exp(-1000.0 / (2.0 * rate)), 1e-12);
    EXPECT_NEAR(engine.attack[0].load(), 1.0 - std::exp(-1000.0 / (32.0 * rate)), 1e-15);
    EXPECT_NEAR(engine.attack[7].load(), 1.0 - std::exp(-1000.0 / (1.0 * rate)), 1e-12);
}

TEST_P(PluginTest, NoiseShapeSelectionFollowsTheRate) {
    const tq::EngineParameters& engine = plugin.engineParameters();
    plugin.setParameter(tq::kNoiseShape, 0.9f);  // type C at 44100
    EXPECT_EQ(engine.noiseShapeSet.load(), tq::selectNoiseShapeSet(3, 44100, -1));
    const int typeC44 = engine.noiseShapeSet.load();
    plugin.setSampleRate(32000.0f);
    plugin.setParameter(tq::kNoiseShape, 0.6f);  // type B: no table at 32000
    EXPECT_EQ(engine.noiseShapeSet.load(), typeC44);
    plugin.setSampleRate(176400.0f);
    EXPECT_EQ(engine.noiseShapeSet.load(), tq::selectNoiseShapeSet(2, 176400, -1));
    plugin.setParameter(tq::kNoiseShape, 0.0f);
    EXPECT_EQ(engine.noiseShapeSet.load(), tq::kNoiseShapeOff);
}

TEST_P(PluginTest, SampleRateBands) {
    plugin.setParameter(tq::kTransShape, 1.0f);  // soft
    plugin.setSampleRate(88200.0f);
    EXPECT_EQ(plugin.rateBand(), 1);
    EXPECT_EQ(plugin.getAeffect()->initialDelay, 287);
    EXPECT_EQ(plugin.smoothingLength(), 128);
    EXPECT_EQ(plugin.transientRingLength(), 2);
    plugin.setSampleRate(176400.0f);
    EXPECT_EQ(plugin.rateBand(), 2);
    EXPECT_EQ(plugin.getAeffect()->initialDelay, 543);
    EXPECT_EQ(plugin.smoothingLength(), 256);
    plugin.setParameter(tq::kTransShape, 0.0f);
    EXPECT_EQ(plugin.smoothingLength(), 32);
    EXPECT_EQ(plugin.transientRingLength(), 450);
    plugin.setSampleRate(250000.0f);
    EXPECT_EQ(plugin.integerSampleRate(), 44100);
    EXPECT_EQ(plugin.getAeffect()->initialDelay, 159);
    EXPECT_FLOAT_EQ(plugin.getSampleRate(), 250000.0f);  // the host's value is kept
    plugin.setSampleRate(0.0f);
    EXPECT_EQ(plugin.integerSampleRate(), 44100);
    plugin.setSampleRate(96000.7f);
    EXPECT_EQ(plugin.integerSampleRate(), 96000);
}

TEST_P(PluginTest, ProgramSlots) {
    plugin.selectSlot(5);
    plugin.setCurrentName(plugin.programs()[5].name);
    EXPECT_EQ(programName(plugin), "Loudness 1");
    EXPECT_EQ(plugin.currentSlot(), 5);
    EXPECT_STREQ(plugin.programs()[0].name, "Loudness 1");
    EXPECT_EQ(std::memcmp(plugin.programs()[0].values, plugin.programs()[5].values,
                          sizeof(plugin.programs()[5].values)),
              0);
    EXPECT_FLOAT_EQ(plugin.getParameter(tq::kLeveller), 0.5f);

    const tq::ProgramRecord slot7 = plugin.programs()[7];
    plugin.setParameter(tq::kDrive, 0.9f);
    EXPECT_FLOAT_EQ(plugin.programs()[5].values[tq::kDrive], 0.9f);
    EXPECT_FLOAT_EQ(plugin.programs()[0].values[tq::kDrive], 0.9f);
    EXPECT_EQ(std::memcmp(&slot7, &plugin.programs()[7], sizeof(slot7)), 0);
    plugin.selectSlot(7);
    plugin.selectSlot(5);
    EXPECT_FLOAT_EQ(plugin.getParameter(tq::kDrive), 0.9f);

    char longName[] = "abcdefghijklmnopqrstuvwxyz0123";
    plugin.setProgramName(longName);
    EXPECT_EQ(programName(plugin), "abcdefghijklmnopqrstuvwx");
    EXPECT_STREQ(plugin.programs()[0].name, "Loudness 1");  // host renames the current slot only

    plugin.selectSlot(10);
    EXPECT_EQ(display(plugin, tq::kOversample), "on");
    EXPECT_EQ(display(plugin, tq::kMeterOvs), "on");
    EXPECT_EQ(display(plugin, tq::kNoiseShape), "type C");
    plugin.selectSlot(23);
    EXPECT_EQ(display(plugin, tq::kLink), "0.000000");
    EXPECT_EQ(display(plugin, tq::kNoiseShape), "off");
    const int before = gUpdateDisplayCalls.load();
    plugin.selectSlot(99);  // limited to the last slot
    EXPECT_EQ(plugin.currentSlot(), 23);
    EXPECT_GT(gUpdateDisplayCalls.load(), before);
}

TEST_P(PluginTest, FactoryNamesFollowTheTwentyFourByteRule) {
    const tq::ProgramRecord& record = plugin.programs()[10];
    EXPECT_STREQ(record.name, "CD Master 3 [recon]");
    for (int i = 19; i < 24; ++i) EXPECT_EQ(record.name[i], '\0');
    char exact[] = "exactly twenty-four char";
    plugin.setProgramName(exact);
    char text[64];
    std::memset(text, 'z', sizeof(text));
    plugin.getProgramName(text);
    EXPECT_STREQ(text, exact);
}

template <typename Sample>
std::vector<Sample> render(Plugin& plugin, const std::vector<Sample>& left,
                           const std::vector<Sample>& right, int block) {
    std::vector<Sample> outLeft(left.size()), outRight(right.size()), result;
    for (std::size_t start = 0; start < left.size(); start += static_cast<std::size_t>(block)) {
        const int frames = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(block), left.size() - start));
        Sample* inputs[2] = {const_cast<Sample*>(left.data() + start), const_cast<Sample*>(right.data() + start)};
        Sample* outputs[2] = {outLeft.data() + start, outRight.data() + start};
        if constexpr (std::is_same_v<Sample, float>) {
            plugin.processReplacing(inputs, outputs, frames);
        } else {
            plugin.processDoubleReplacing(inputs, outputs, frames);
        }
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        result.push_back(outLeft[i]);
        result.push_back(outRight[i]);
    }
    return result;
}

std::vector<float> noise(std::size_t frames, unsigned seed, float amplitude) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(-amplitude, amplitude);
    std::vector<float> samples(frames);
    for (float& sample : samples) sample = distribution(generator);
    return samples;
}

TEST_P(PluginTest, PowerOffDelaysByTheReportedLatency) {
    plugin.setParameter(tq::kPower, 0.0f);
    plugin.setParameter(tq::kDrive, 1.0f);
    const auto left = noise(2000, 1, 0.9f), right = noise(2000, 2, 0.9f);
    const auto out = render(plugin, left, right, 333);
    const int latency = plugin.getAeffect()->initialDelay;
    for (int i = 0; i < 2000; ++i) {
        const float expectedLeft = i >= latency ? left[static_cast<std::size_t>(i - latency)] : 0.0f;
        const float expectedRight = i >= latency ? right[static_cast<std::size_t>(i - latency)] : 0.0f;
        ASSERT_EQ(out[static_cast<std::size_t>(2 * i)], expectedLeft) << i;
        ASSERT_EQ(out[static_cast<std::size_t>(2 * i + 1)], expectedRight) << i;
    }
}

TEST_P(PluginTest, TransShapeResetsOnlyOnAChange) {
    Plugin reference(hostCallback, GetParam());
    const auto left = noise(1500, 3, 2.0f), right = noise(1500, 4, 2.0f);
    const std::vector<float> firstLeft(left.begin(), left.begin() + 700);
    const std::vector<float> firstRight(right.begin(), right.begin() + 700);
    const std::vector<float> restLeft(left.begin() + 700, left.end());
    const std::vector<float> restRight(right.begin() + 700, right.end());
    render(plugin, firstLeft, firstRight, 64);
    render(reference, firstLeft, firstRight, 64);
    plugin.setParameter(tq::kTransShape, 0.1f);  // still "hard"
    EXPECT_EQ(render(plugin, restLeft, restRight, 64), render(reference, restLeft, restRight, 64));

    plugin.setParameter(tq::kTransShape, 0.5f);  // "med": state cleared
    Plugin fresh(hostCallback, GetParam());
    fresh.setParameter(tq::kTransShape, 0.5f);
    EXPECT_EQ(render(plugin, restLeft, restRight, 64), render(fresh, restLeft, restRight, 64));
}

TEST_P(PluginTest, FloatAndDoubleAgree) {
    plugin.selectSlot(10);
    Plugin twin(hostCallback, GetParam());
    twin.selectSlot(10);
    const auto left = noise(3000, 5, 3.0f), right = noise(3000, 6, 3.0f);
    const auto single = render(plugin, left, right, 512);
    const std::vector<double> leftD(left.begin(), left.end()), rightD(right.begin(), right.end());
    const auto twice = render(twin, leftD, rightD, 512);
    for (std::size_t i = 0; i < single.size(); ++i) {
        ASSERT_NEAR(single[i], twice[i], 1e-6) << i;
    }
}

TEST_P(PluginTest, MonoInputAndSingleOutput) {
    const auto left = noise(600, 7, 0.5f), right = noise(600, 8, 0.5f);
    Plugin mono(hostCallback, GetParam());
    gSecondPinAnswer = 1;  // input 2 and output 2 reported as not connected
    const auto monoOut = render(mono, left, right, 600);
    gSecondPinAnswer = 0;
    const auto stereoOut = render(plugin, left, left, 600);
    // Only the left input is read; both channels go to the first output, left last.
    std::vector<float> expectedFirst, actualFirst;
    for (std::size_t i = 0; i < 600; ++i) {
        expectedFirst.push_back(stereoOut[2 * i]);
        actualFirst.push_back(monoOut[2 * i]);
    }
    EXPECT_EQ(actualFirst, expectedFirst);
}

TEST_P(PluginTest, CalibrationIgnoresTheInput) {
    plugin.setParameter(tq::kCalibrate, 0.3f);  // left
    Plugin other(hostCallback, GetParam());
    other.setParameter(tq::kCalibrate, 0.3f);
    const auto out1 = render(plugin, noise(500, 9, 1.0f), noise(500, 10, 1.0f), 100);
    const auto out2 = render(other, std::vector<float>(500, 0.0f), std::vector<float>(500, 0.0f), 100);
    EXPECT_EQ(out1, out2);
    double energy = 0.0;
    for (std::size_t i = 0; i < 500; ++i) {
        energy += out1[2 * i] * out1[2 * i];
        EXPECT_EQ(out1[2 * i + 1], 0.0f);
    }
    EXPECT_GT(energy, 0.0);
}

TEST_P(PluginTest, MetersAreFetchedThroughTheEffect) {
    plugin.setParameter(tq::kPower, 0.0f);
    render(plugin, std::vector<float>(2000, 0.5f), std::vector<float>(2000, 0.25f), 256);
    float values[10];
    plugin.fetchMeters(values);
    EXPECT_NEAR(values[0], 0.5f, 1e-6);
    EXPECT_NEAR(values[1], 0.25f, 1e-6);
    EXPECT_EQ(values[8], 1.0f);
    plugin.fetchMeters(nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, PluginTest,
                         ::testing::Values(tq::Flavour::Scalar, tq::Flavour::Paired),
                         [](const auto& info) {
                             return info.param == tq::Flavour::Scalar ? "Scalar" : "Paired";
                         });

// Automates every parameter from one thread while another processes audio; the
// thread-sanitizer build runs this. Changes land in the middle of blocks (a change of
// detector order ends one stretch of frames and starts another): every output sample
// stays a number within full scale.
TEST(PluginThreadSafety, AutomationWhileProcessing) {
    Plugin plugin(hostCallback);
    std::atomic<bool> running{true};
    std::atomic<int> badSamples{0};
    std::thread audio([&] {
        std::vector<float> in(300), outLeft(300), outRight(300);
        for (std::size_t i = 0; i < in.size(); ++i) in[i] = 0.9f * std::sin(0.05f * i) + 0.3f;
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        while (running.load()) {
            plugin.processReplacing(inputs, outputs, 300);
            for (std::size_t i = 0; i < in.size(); ++i) {
                if (!(std::fabs(outLeft[i]) <= 1.0f) || !(std::fabs(outRight[i]) <= 1.0f)) {
                    badSamples.fetch_add(1);
                }
            }
        }
    });
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int round = 0; round < 300; ++round) {
        for (int index = 0; index < tq::kNumParameters; ++index) {
            if (index == tq::kCalibrate && round % 2 == 0) continue;
            plugin.setParameter(index, value(generator));
        }
        float meters[10];
        plugin.fetchMeters(meters);
    }
    running = false;
    audio.join();
    EXPECT_EQ(badSamples.load(), 0);
}

}  // namespace

namespace {

// A private per-user store for one test; the previous setting comes back afterwards.
class TemporaryConfigHome {
public:
    TemporaryConfigHome() {
        char pattern[] = "/tmp/tq-plugin-config-XXXXXX";
        directory_ = mkdtemp(pattern);
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) previous_ = old;
        hadPrevious_ = old != nullptr;
        setenv("XDG_CONFIG_HOME", directory_.c_str(), 1);
    }
    ~TemporaryConfigHome() {
        if (hadPrevious_) {
            setenv("XDG_CONFIG_HOME", previous_.c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        std::filesystem::remove_all(directory_);
    }
    void writeInt(const std::string& key, const std::string& value, std::uint32_t number) {
        const auto folder = std::filesystem::path(directory_) / "Tarvel" / "Tarvelquolt" / key;
        std::filesystem::create_directories(folder);
        const unsigned char bytes[4] = {static_cast<unsigned char>(number),
                                        static_cast<unsigned char>(number >> 8),
                                        static_cast<unsigned char>(number >> 16),
                                        static_cast<unsigned char>(number >> 24)};
        std::ofstream((folder / value).string(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes), 4);
    }

private:
    std::string directory_;
    std::string previous_;
    bool hadPrevious_ = false;
};

TEST(PluginConstruction, StoredMeteringPreferencesReachSlotZero) {
    TemporaryConfigHome home;
    home.writeInt("PREFS", "Metering_Scale", 2);
    home.writeInt("PREFS", "Metering_Type", 1);
    home.writeInt("PREFS", "Metering_Post", 1);
    Plugin plugin(hostCallback);
    EXPECT_EQ(display(plugin, tq::kScale), "K-20");
    EXPECT_EQ(display(plugin, tq::kMeterType), "k-system");
    EXPECT_EQ(display(plugin, tq::kPostMeter), "post");
    EXPECT_FLOAT_EQ(plugin.programs()[0].values[tq::kScale], tq::stepCentre(2, 3));
    EXPECT_EQ(display(plugin, tq::kAttZoom), "24dB");  // not stored: the factory value
}

}  // namespace
