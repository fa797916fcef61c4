// Renders through the project's own plug-in. They skip while its entry still
// returns null (the effect cannot be created yet).
#include <gtest/gtest.h>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

constexpr const char* kNotCreatedYet =
    "the plug-in's entry returns no effect yet; nothing to render through";

class RealPluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!realPluginLoads()) GTEST_SKIP() << kNotCreatedYet;
    }
    Json render(const Audio& input, std::vector<std::string> extra) {
        writeAudio(dir_.file("in.wav"), input);
        std::vector<std::string> args = {"--plugin", TQ_PLUGIN_PATH, "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(dir_.file("in.wav"));
        args.push_back(dir_.file("out.wav"));
        const RunResult run = runTool(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return Json::parse(run.out);
    }
    TempDir dir_;
};

TEST_F(RealPluginTest, PowerOffRendersEqualToTheInput) {
    for (int rate : {44100, 96000, 192000}) {
        SCOPED_TRACE(rate);
        const Audio input = makeSignal(rate, 2, rate / 2 + 13, 41);
        for (const char* precision : {"--block=512", "--double"}) {
            render(input, {"--set", "Power=off", precision});
            const Audio output = readAudio(dir_.file("out.wav"));
            ASSERT_EQ(output.samples.size(), input.samples.size());
            for (std::size_t i = 0; i < input.samples.size(); ++i) {
                ASSERT_EQ(output.samples[i],
                          static_cast<double>(static_cast<float>(input.samples[i])))
                    << i;
            }
        }
    }
}

TEST_F(RealPluginTest, LatencyFollowsTheRateBand) {
    EXPECT_EQ(render(makeSignal(48000, 2, 4800, 42), {})["latency_frames"].number, 159);
    EXPECT_EQ(render(makeSignal(96000, 2, 9600, 43), {})["latency_frames"].number, 287);
    EXPECT_EQ(render(makeSignal(192000, 2, 19200, 44), {})["latency_frames"].number, 543);
}

TEST_F(RealPluginTest, BlockSizeDoesNotChangeTheOutput) {
    const Audio input = makeSignal(44100, 2, 20000, 45, 1.5);
    render(input, {"--block", "512"});
    const std::string reference = readText(dir_.file("out.wav"));
    for (const char* block : {"1", "7", "333"}) {
        SCOPED_TRACE(block);
        render(input, {"--block", block});
        EXPECT_TRUE(readText(dir_.file("out.wav")) == reference);
    }
}

TEST_F(RealPluginTest, ParametersByDisplayText) {
    const RunResult run =
        runTool({"--plugin", TQ_PLUGIN_PATH, "--list", "--json", "--set", "Oversample=on", "--set",
                 "TransShape=soft", "--set", "Bits=24", "--set", "DetectorOrder=II"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::map<std::string, std::string> display;
    const Json document = Json::parse(run.out);
    for (const auto& p : document["parameters"].items) {
        display[p["name"].text] = p["display"].text;
    }
    EXPECT_EQ(display["Oversample"], "on");
    EXPECT_EQ(display["TransShape"], "soft");
    EXPECT_EQ(display["Bits"], "24");
    EXPECT_EQ(display["DetectorOrder"], "II");
}

TEST_F(RealPluginTest, DefaultDemoRuns) {
    const RunResult run = runTool({}, dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fileExists(dir_.file("demo-in.wav")));
    EXPECT_TRUE(fileExists(dir_.file("demo-out.wav")));
}

}  // namespace
}  // namespace tq::tooltest
