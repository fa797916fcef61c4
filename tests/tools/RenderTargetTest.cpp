// Loudness targets and the true-peak ceiling, end to end through the project's
// own plug-in: the written file is measured here again with libebur128, so the
// tool's own report is not taken on trust.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

struct Measured {
    double loudness = 0.0;
    double truePeakDb = 0.0;
};

Measured measure(const Audio& audio) {
    ebur128_state* state = ebur128_init(static_cast<unsigned>(audio.channels),
                                        static_cast<unsigned long>(audio.sampleRate),
                                        EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_double(state, audio.samples.data(),
                              static_cast<std::size_t>(audio.frames()));
    Measured result;
    ebur128_loudness_global(state, &result.loudness);
    double peak = 0.0;
    for (int c = 0; c < audio.channels; ++c) {
        double value = 0.0;
        ebur128_true_peak(state, static_cast<unsigned>(c), &value);
        peak = std::max(peak, value);
    }
    result.truePeakDb = 20.0 * std::log10(peak);
    ebur128_destroy(&state);
    return result;
}

// Quiet, mono, with pauses: noise shaped into syllables of about 4 per second.
Audio speechLike() {
    Audio audio;
    audio.sampleRate = 44100;
    audio.channels = 1;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    double low = 0.0;
    for (int n = 0; n < 44100 * 12; ++n) {
        const double t = n / 44100.0;
        const double syllable = std::max(0.0, std::sin(2.0 * M_PI * 4.0 * t));
        const double phrase = std::fmod(t, 3.0) < 2.2 ? 1.0 : 0.0;  // pauses between phrases
        low += 0.08 * (noise(random) - low);                        // voiced energy sits low
        const double voice = low + 0.15 * std::sin(2.0 * M_PI * 140.0 * t);
        audio.samples.push_back(static_cast<float>(0.4 * syllable * syllable * phrase * voice));
    }
    return audio;
}

// Dense stereo programme with sharp kicks far above the body: needs limiting
// to be loud.
Audio musicLike() {
    Audio audio;
    audio.sampleRate = 48000;
    audio.channels = 2;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    for (int n = 0; n < 48000 * 12; ++n) {
        const double t = n / 48000.0;
        const double beat = std::fmod(t, 0.5);
        const double kick = std::exp(-beat * 30.0) *
                            std::sin(2.0 * M_PI * (50.0 + 120.0 * std::exp(-beat * 40.0)) * beat);
        const double bass = 0.15 * std::sin(2.0 * M_PI * 55.0 * t);
        for (int c = 0; c < 2; ++c) {
            const double pad =
                0.08 * noise(random) + 0.06 * std::sin(2.0 * M_PI * (440.0 + 3.0 * c) * t);
            audio.samples.push_back(static_cast<float>(0.9 * kick + bass + pad));
        }
    }
    return audio;
}

// A 1 kHz tone switched on and off every half second.
Audio sineBurst() {
    Audio audio;
    audio.sampleRate = 48000;
    audio.channels = 2;
    for (int n = 0; n < 48000 * 10; ++n) {
        const double t = n / 48000.0;
        const double on = std::fmod(t, 1.0) < 0.5 ? 1.0 : 0.0;
        const double value = 0.1 * on * std::sin(2.0 * M_PI * 1000.0 * t);
        audio.samples.push_back(value);
        audio.samples.push_back(value);
    }
    return audio;
}

class RenderTargetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!realPluginLoads()) GTEST_SKIP() << "the plug-in cannot be created yet";
    }
    RunResult render(const Audio& input, std::vector<std::string> extra,
                     const std::string& plugin = TQ_PLUGIN_PATH) {
        writeAudio(dir_.file("in.wav"), input);
        std::vector<std::string> args = {"--plugin", plugin, "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(dir_.file("in.wav"));
        args.push_back(dir_.file("out.wav"));
        return runTool(args);
    }
    TempDir dir_;
};

TEST_F(RenderTargetTest, StreamingMasterOfSeveralProgrammes) {
    struct Case {
        const char* name;
        Audio input;
        double target;
        double ceiling;
    };
    const Case cases[] = {
        {"speech", speechLike(), -14.0, -1.0},    {"speech", speechLike(), -16.0, -2.0},
        {"music", musicLike(), -14.0, -1.0},      {"music", musicLike(), -9.0, -1.0},
        {"sine burst", sineBurst(), -14.0, -1.0}, {"sine burst", sineBurst(), -23.0, -1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.target));
        const RunResult run = render(c.input, {"--target-lufs", std::to_string(c.target),
                                               "--ceiling-dbtp", std::to_string(c.ceiling)});
        ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
        const Measured out = measure(readAudio(dir_.file("out.wav")));
        EXPECT_NEAR(out.loudness, c.target, 0.1);
        EXPECT_LE(out.truePeakDb, c.ceiling);
        const Json report = Json::parse(run.out);
        const Json& mastering = report["mastering"];
        EXPECT_TRUE(mastering["reached"].boolean);
        EXPECT_LE(mastering["passes"].number, 4);
        EXPECT_EQ(mastering["target_lufs"].number, c.target);
        EXPECT_EQ(mastering["ceiling_dbtp"].number, c.ceiling);
        // The gain used is the one the settings list shows.
        for (const Json& setting : report["settings"].items) {
            if (setting["name"].text == "Drive") {
                EXPECT_NEAR(std::stod(setting["display"].text), mastering["drive_db"].number, 1e-3);
            }
            if (setting["name"].text == "Output") {
                EXPECT_NEAR(std::stod(setting["display"].text), mastering["output_db"].number,
                            1e-3);
            }
        }
        // Only the final result is left behind.
        EXPECT_EQ(dir_.entries().size(), 2u);
    }
}

TEST_F(RenderTargetTest, TargetAloneKeepsTheOutputLevelAsSet) {
    const RunResult run = render(speechLike(), {"--target-lufs", "-20", "--set", "Output=n:0.75"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NEAR(measure(readAudio(dir_.file("out.wav"))).loudness, -20.0, 0.1);
    const Json report = Json::parse(run.out);
    EXPECT_NEAR(report["mastering"]["output_db"].number, -3.01, 0.01);
    EXPECT_EQ(report["mastering"]["ceiling_dbtp"].kind, Json::Kind::null);
}

TEST_F(RenderTargetTest, CeilingAloneLowersOutputByTheOvershoot) {
    // Hot: the limiter holds the samples at full scale but not what lies between.
    const Audio hot = makeSignal(44100, 2, 44100 * 4, 5, 1.8);
    const RunResult plain = render(hot, {});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    const double overshoot = Json::parse(plain.out)["output"]["true_peak_dbtp"].number + 1.0;
    ASSERT_GT(overshoot, 0.0);

    const RunResult run = render(hot, {"--ceiling-dbtp", "-1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json report = Json::parse(run.out);
    EXPECT_EQ(report["mastering"]["passes"].number, 2);
    EXPECT_NEAR(report["mastering"]["output_db"].number, -overshoot, 0.05);
    EXPECT_EQ(report["mastering"]["drive_db"].number, 0.0);
    EXPECT_LE(measure(readAudio(dir_.file("out.wav"))).truePeakDb, -1.0);

    // Already under the ceiling: one pass, the output as a plain render makes it.
    const Audio quiet = makeSignal(44100, 2, 44100 * 2, 6, 0.3);
    ASSERT_EQ(render(quiet, {}).exitCode, 0);
    const std::string reference = readText(dir_.file("out.wav"));
    const RunResult single = render(quiet, {"--ceiling-dbtp", "-1"});
    ASSERT_EQ(single.exitCode, 0) << single.err;
    EXPECT_EQ(Json::parse(single.out)["mastering"]["passes"].number, 1);
    EXPECT_TRUE(readText(dir_.file("out.wav")) == reference);
}

TEST_F(RenderTargetTest, RefusalsAndMisses) {
    // Louder than any Drive can make it: the closest pass is written and the
    // exit status says the target was missed.
    const RunResult far = render(sineBurst(), {"--target-lufs", "0", "--ceiling-dbtp", "-1"});
    EXPECT_NE(far.exitCode, 0);
    EXPECT_NE(far.err.find("misses the target"), std::string::npos) << far.err;
    EXPECT_FALSE(Json::parse(far.out)["mastering"]["reached"].boolean);
    EXPECT_LE(measure(readAudio(dir_.file("out.wav"))).truePeakDb, -1.0);

    TempDir other;
    writeAudio(other.file("in.wav"), sineBurst());
    // An effect without Drive and Output levels cannot be steered.
    RunResult run = runTool({"--plugin", testPlugin("tq-test-delay"), "--target-lufs", "-14",
                             other.file("in.wav"), other.file("out.wav")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("'Drive' and 'Output'"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(other.file("out.wav")));
    // Silence has no loudness to steer by.
    Audio silence = sineBurst();
    for (double& sample : silence.samples) sample = 0.0;
    writeAudio(other.file("silent.wav"), silence);
    run = runTool({"--plugin", TQ_PLUGIN_PATH, "--target-lufs", "-14", other.file("silent.wav"),
                   other.file("out.wav")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("silent"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(other.file("out.wav")));
    for (const char* bad : {"loud", "5", "-100", "nan"}) {
        run = runTool({"--plugin", TQ_PLUGIN_PATH, "--target-lufs", bad, other.file("in.wav")});
        EXPECT_NE(run.exitCode, 0) << bad;
        EXPECT_NE(run.err.find("--target-lufs"), std::string::npos) << run.err;
    }
    run = runTool({"--plugin", TQ_PLUGIN_PATH, "--ceiling-dbtp", "1", other.file("in.wav")});
    EXPECT_NE(run.exitCode, 0);
}

TEST_F(RenderTargetTest, AutoOutGivesWayToTheCeilingTrim) {
    const RunResult run = render(
        musicLike(), {"--set", "AutoOut=on", "--target-lufs", "-12", "--ceiling-dbtp", "-1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("AutoOut"), std::string::npos);
    const Measured out = measure(readAudio(dir_.file("out.wav")));
    EXPECT_NEAR(out.loudness, -12.0, 0.1);
    EXPECT_LE(out.truePeakDb, -1.0);
}

TEST_F(RenderTargetTest, DemoIsMasteredForStreaming) {
    // What make run does: the built-in programme, hotter than the target, comes
    // out at -14 LUFS under -1 dBTP, with its plot.
    const RunResult run = runTool({"--plugin", TQ_PLUGIN_PATH, "--target-lufs", "-14",
                                   "--ceiling-dbtp", "-1", "--plot", "demo-master.png"},
                                  dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Measured in = measure(readAudio(dir_.file("demo-in.wav")));
    const Measured out = measure(readAudio(dir_.file("demo-out.wav")));
    EXPECT_GT(in.truePeakDb, 0.0);
    EXPECT_NEAR(out.loudness, -14.0, 0.1);
    EXPECT_LE(out.truePeakDb, -1.0);
    EXPECT_GT(readText(dir_.file("demo-master.png")).size(), 1000u);
    for (const char* line : {"target        -14.00 LUFS, ceiling -1.00 dBTP: reached",
                             "plot          demo-master.png"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
    }
}

}  // namespace
}  // namespace tq::tooltest
