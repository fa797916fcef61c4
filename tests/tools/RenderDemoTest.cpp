// The built-in demo: both files written in the current directory, the report
// printed, and nothing written when the effect cannot be loaded.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

TEST(RenderDemo, WritesBothFilesAndTheReport) {
    TempDir dir;
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-delay"), "--json"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Audio in = readAudio(dir.file("demo-in.wav"));
    const Audio out = readAudio(dir.file("demo-out.wav"));
    EXPECT_EQ(in.sampleRate, 44100);
    EXPECT_EQ(in.channels, 2);
    EXPECT_NEAR(static_cast<double>(in.frames()) / in.sampleRate, 20.0, 0.5);
    ASSERT_EQ(out.samples.size(), in.samples.size());
    EXPECT_TRUE(out.samples == in.samples);  // a pure delay, compensated

    const Json report = Json::parse(run.out);
    EXPECT_EQ(report["input_file"].text, "demo-in.wav");
    EXPECT_EQ(report["output_file"].text, "demo-out.wav");
    // Hot programme: above full scale, with inter-sample overs on top.
    const double samplePeak = report["input"]["sample_peak_dbfs"].number;
    EXPECT_NEAR(samplePeak, 1.5, 0.01);
    EXPECT_GT(report["input"]["true_peak_dbtp"].number, samplePeak + 0.5);
    EXPECT_GT(report["input"]["overs"].number, 0);
    EXPECT_GT(report["input"]["integrated_lufs"].number, -20.0);
}

TEST(RenderDemo, IsTheSameOnEveryRun) {
    TempDir first;
    TempDir second;
    ASSERT_EQ(runTool({"--plugin", testPlugin("tq-test-delay")}, first.path()).exitCode, 0);
    ASSERT_EQ(runTool({"--plugin", testPlugin("tq-test-delay")}, second.path()).exitCode, 0);
    // Byte for byte: no time stamps or other run-dependent data in the files.
    EXPECT_TRUE(readText(first.file("demo-in.wav")) == readText(second.file("demo-in.wav")));
    EXPECT_TRUE(readText(first.file("demo-out.wav")) == readText(second.file("demo-out.wav")));
}

TEST(RenderDemo, HasTransients) {
    TempDir dir;
    ASSERT_EQ(runTool({"--plugin", testPlugin("tq-test-delay")}, dir.path()).exitCode, 0);
    const Audio in = readAudio(dir.file("demo-in.wav"));
    // Kick attacks: the level jumps by far more within a millisecond than a
    // steady tone could.
    double largestJump = 0.0;
    const int window = in.sampleRate / 1000;
    for (std::int64_t n = window; n < in.frames(); n += window) {
        largestJump =
            std::max(largestJump, std::fabs(in.at(n, 0)) - std::fabs(in.at(n - window, 0)));
    }
    EXPECT_GT(largestJump, 0.5);
}

TEST(RenderDemo, BrokenPluginWritesNothing) {
    TempDir dir;
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-null")}, dir.path());
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(RenderDemo, TableReportIsPrinted) {
    TempDir dir;
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-delay")}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("demo-in.wav -> demo-out.wav"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("+1.50"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tq::tooltest
