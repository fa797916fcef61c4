// The report: levels measured on known signals, the latency, the JSON document.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

Audio sine(int sampleRate, int channels, double seconds, double amplitude, double frequency) {
    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels = channels;
    const auto frames = static_cast<std::int64_t>(seconds * sampleRate);
    for (std::int64_t n = 0; n < frames; ++n) {
        const double value = amplitude * std::sin(2.0 * M_PI * frequency * n / sampleRate);
        for (int c = 0; c < channels; ++c) audio.samples.push_back(value);
    }
    return audio;
}

Json renderJson(const TempDir& dir, const Audio& input, std::vector<std::string> extra = {}) {
    writeAudio(dir.file("in.wav"), input);
    std::vector<std::string> args = {"--plugin", testPlugin("tq-test-delay"), "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(dir.file("in.wav"));
    args.push_back(dir.file("out.wav"));
    const RunResult run = runTool(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return Json::parse(run.out);
}

TEST(RenderReport, JsonDescribesTheRender) {
    TempDir dir;
    const Json report = renderJson(dir, sine(48000, 2, 3.0, 0.5, 997.0), {"--block", "256"});
    EXPECT_EQ(report["input_file"].text, dir.file("in.wav"));
    EXPECT_EQ(report["output_file"].text, dir.file("out.wav"));
    EXPECT_EQ(report["effect_name"].text, "Test Delay");
    EXPECT_EQ(report["preset"].kind, Json::Kind::null);
    EXPECT_EQ(report["sample_rate"].number, 48000);
    EXPECT_EQ(report["input_channels"].number, 2);
    EXPECT_EQ(report["output_channels"].number, 2);
    EXPECT_EQ(report["frames"].number, 144000);
    EXPECT_EQ(report["block_size"].number, 256);
    EXPECT_EQ(report["precision"].text, "float");
    EXPECT_EQ(report["latency_frames"].number, 100);
    EXPECT_EQ(report["latency_changed"].kind, Json::Kind::boolean);
    EXPECT_FALSE(report["latency_changed"].boolean);
    // Input plus the flushed latency, in whole blocks.
    EXPECT_EQ(report["processed_frames"].number, 144128);
    EXPECT_GT(report["cpu_seconds"].number, 0.0);
    EXPECT_GT(report["ns_per_frame"].number, 0.0);
    EXPECT_GT(report["realtime_factor"].number, 0.0);
}

TEST(RenderReport, LevelsOfAKnownSine) {
    TempDir dir;
    // A full-scale 1 kHz sine in one channel reads -3.01 LUFS by design; two
    // channels add 3.01 dB, so a -6.02 dBFS sine in both reads -6.02 LUFS.
    const Json report = renderJson(dir, sine(48000, 2, 5.0, 0.5, 997.0));
    const Json& in = report["input"];
    const Json& out = report["output"];
    EXPECT_NEAR(in["sample_peak_dbfs"].number, -6.02, 0.01);
    EXPECT_NEAR(in["true_peak_dbtp"].number, -6.02, 0.05);
    EXPECT_NEAR(in["integrated_lufs"].number, -6.02, 0.1);
    EXPECT_EQ(in["overs"].number, 0);
    // A pure delay: the output measures the same.
    EXPECT_EQ(out["sample_peak_dbfs"].number, in["sample_peak_dbfs"].number);
    EXPECT_NEAR(out["integrated_lufs"].number, in["integrated_lufs"].number, 0.01);
}

TEST(RenderReport, MonoIsMeasuredAsMono) {
    TempDir dir;
    const Json mono = renderJson(dir, sine(48000, 1, 5.0, 0.5, 997.0));
    const Json stereo = renderJson(dir, sine(48000, 2, 5.0, 0.5, 997.0));
    // One channel of the same signal carries half the power of two.
    EXPECT_NEAR(mono["input"]["integrated_lufs"].number,
                stereo["input"]["integrated_lufs"].number - 3.01, 0.02);
    EXPECT_EQ(mono["input"]["measured_as"].text, "mono");
    EXPECT_EQ(stereo["input"]["measured_as"].text, "stereo");
    const Json monoOut = renderJson(dir, sine(48000, 1, 5.0, 0.5, 997.0), {"--mono-out"});
    EXPECT_EQ(monoOut["output"]["measured_as"].text, "mono");
    EXPECT_NEAR(monoOut["output"]["integrated_lufs"].number,
                monoOut["input"]["integrated_lufs"].number, 0.01);
}

TEST(RenderReport, SilenceAndOversAreReported) {
    TempDir dir;
    const Json silent = renderJson(dir, sine(44100, 2, 1.0, 0.0, 100.0));
    EXPECT_EQ(silent["input"]["sample_peak_dbfs"].kind, Json::Kind::null);
    EXPECT_EQ(silent["input"]["integrated_lufs"].kind, Json::Kind::null);
    const Json hot = renderJson(dir, sine(44100, 2, 1.0, 2.0, 1000.0));
    EXPECT_NEAR(hot["input"]["sample_peak_dbfs"].number, 6.02, 0.01);
    EXPECT_GT(hot["input"]["overs"].number, 0);
    EXPECT_EQ(hot["output"]["overs"].number, hot["input"]["overs"].number);
}

TEST(RenderReport, InterSamplePeaksShowInTruePeak) {
    TempDir dir;
    // A quarter-rate sine sampled 45 degrees off its crests: 3 dB between samples.
    Audio audio;
    audio.sampleRate = 44100;
    audio.channels = 2;
    for (int n = 0; n < 44100; ++n) {
        const double value = std::sin(M_PI / 2.0 * n + M_PI / 4.0);
        audio.samples.push_back(value);
        audio.samples.push_back(value);
    }
    const Json report = renderJson(dir, audio);
    EXPECT_NEAR(report["input"]["sample_peak_dbfs"].number, -3.01, 0.01);
    EXPECT_GT(report["input"]["true_peak_dbtp"].number, -0.5);
}

TEST(RenderReport, TableNamesEveryFigure) {
    TempDir dir;
    writeAudio(dir.file("in.wav"), sine(44100, 2, 1.0, 0.5, 440.0));
    const RunResult run =
        runTool({"--plugin", testPlugin("tq-test-delay"), dir.file("in.wav"), dir.file("out.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* word :
         {"Test Delay", "sample peak", "dBFS", "true peak", "dBTP", "loudness", "LUFS",
          "latency       100 frames", "realtime", "ns per frame", "-6.02"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word << "\n" << run.out;
    }
    // No progress bar when standard error is not a terminal.
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST(RenderReport, ProgressBarOnATerminalForLongFiles) {
    TempDir dir;
    writeAudio(dir.file("long.wav"), sine(8000, 2, 6.0, 0.5, 440.0));
    writeAudio(dir.file("short.wav"), sine(8000, 2, 4.0, 0.5, 440.0));
    const std::string plugin = testPlugin("tq-test-delay");
    const RunResult longRun =
        runToolOnTerminal({"--plugin", plugin, dir.file("long.wav"), dir.file("a.wav")});
    ASSERT_EQ(longRun.exitCode, 0) << longRun.err;
    EXPECT_NE(longRun.err.find("rendering ["), std::string::npos) << longRun.err;
    EXPECT_NE(longRun.err.find("100%"), std::string::npos) << longRun.err;
    // The report itself stays on standard output, untouched by the bar.
    EXPECT_EQ(longRun.out.find("rendering"), std::string::npos);

    const RunResult shortRun =
        runToolOnTerminal({"--plugin", plugin, dir.file("short.wav"), dir.file("b.wav")});
    ASSERT_EQ(shortRun.exitCode, 0) << shortRun.err;
    EXPECT_EQ(shortRun.err.find("rendering"), std::string::npos) << shortRun.err;
}

TEST(RenderReport, HelpListsTheOptions) {
    const RunResult run = runTool({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--plugin", "--block", "--double", "--mono-out", "--set", "--preset",
                               "--list", "--json", "--format", "--subtype"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace tq::tooltest
