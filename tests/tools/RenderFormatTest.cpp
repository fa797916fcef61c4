// Output formats chosen by the name or --format, the formats that cannot be written,
// and the effect's requantization matched to the file's sample word.
#include <gtest/gtest.h>
#include <sndfile.h>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

bool libraryWrites(int format, int sampleRate) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = format;
    return sf_format_check(&info) != 0;
}

class RenderFormatTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input_ = dir_.file("in.wav");
        writeAudio(input_, makeSignal(48000, 2, 24000, 41));
    }

    std::vector<std::string> withDelay(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--plugin", testPlugin("tq-test-delay")});
        return args;
    }

    // Renders into `name` and answers the container and encoding libsndfile finds there.
    int renderedFormat(const std::vector<std::string>& extra, const std::string& name) {
        std::vector<std::string> args = extra;
        args.push_back(input_);
        args.push_back(dir_.file(name));
        const RunResult run = runTool(withDelay(args));
        EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
        if (run.exitCode != 0) return 0;
        const Audio audio = readAudio(dir_.file(name));
        EXPECT_EQ(audio.channels, 2) << name;
        EXPECT_EQ(audio.sampleRate, 48000) << name;
        return audio.format;
    }

    TempDir dir_;
    std::string input_;
};

TEST_F(RenderFormatTest, TheExtensionChoosesTheFormat) {
    EXPECT_EQ(renderedFormat({}, "a.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(renderedFormat({}, "b.FLAC"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(renderedFormat({}, "c.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    EXPECT_EQ(renderedFormat({}, "d.aif"), SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    EXPECT_EQ(renderedFormat({}, "e.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    if (libraryWrites(SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000)) {
        EXPECT_EQ(renderedFormat({}, "f.opus"), SF_FORMAT_OGG | SF_FORMAT_OPUS);
    }
    if (libraryWrites(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 48000)) {
        EXPECT_EQ(renderedFormat({}, "g.mp3") & SF_FORMAT_TYPEMASK, SF_FORMAT_MPEG);
    }
    // A name without an extension is WAV; --format overrides any name.
    EXPECT_EQ(renderedFormat({}, "plain"), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(renderedFormat({"--format", "flac"}, "h.wav"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(renderedFormat({"--format", "aiff", "--subtype", "pcm16"}, "i.data"),
              SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
}

TEST_F(RenderFormatTest, FormatsThatCannotBeWrittenAreErrorsAndLeaveNothing) {
    struct Refusal {
        std::vector<std::string> args;
        std::string output;
        std::string reason;
    };
    const std::vector<Refusal> refusals = {
        {{}, "x.m4a", "'.m4a' is not a format"},
        {{}, "x.wav.gz", "'.gz' is not a format"},
        {{"--subtype", "pcm16"}, "x.mp3", "--subtype does not apply to mp3"},
        {{"--subtype", "pcm24"}, "x.ogg", "--subtype does not apply to ogg"},
        {{"--subtype", "float"}, "x.flac", "FLAC stores integer samples only"},
    };
    for (const auto& refusal : refusals) {
        std::vector<std::string> args = refusal.args;
        args.push_back(input_);
        args.push_back(dir_.file(refusal.output));
        const RunResult run = runTool(withDelay(args));
        EXPECT_EQ(run.exitCode, 1) << refusal.output;
        EXPECT_NE(run.err.find(refusal.reason), std::string::npos) << run.err;
        EXPECT_FALSE(fileExists(dir_.file(refusal.output))) << refusal.output;
    }
    // Opus takes only its own rates; the library says which.
    writeAudio(input_, makeSignal(44100, 2, 4000, 42));
    const RunResult opus = runTool(withDelay({input_, dir_.file("x.opus")}));
    EXPECT_EQ(opus.exitCode, 1);
    EXPECT_NE(opus.err.find("x.opus"), std::string::npos) << opus.err;
    EXPECT_FALSE(fileExists(dir_.file("x.opus")));
    for (const auto& name : dir_.entries()) {
        EXPECT_EQ(name.find(".partial"), std::string::npos) << "left behind: " << name;
    }
}

// With the real plug-in: its Quantize and Bits follow --subtype unless set by hand.
class RenderWordLengthTest : public RenderFormatTest {
  protected:
    void SetUp() override {
        if (!realPluginLoads()) GTEST_SKIP() << "the plug-in cannot be created yet";
        RenderFormatTest::SetUp();
    }

    RunResult renderReal(std::vector<std::string> args, const std::string& name) {
        args.insert(args.begin(), {"--plugin", TQ_PLUGIN_PATH, "--set", "NoiseShape=type C"});
        args.push_back(input_);
        args.push_back(dir_.file(name));
        return runTool(args);
    }
};

TEST_F(RenderWordLengthTest, IntegerSubtypesSwitchOnMatchingRequantization) {
    for (const std::string bits : {"16", "24"}) {
        const std::string subtype = "pcm" + bits;
        const RunResult automatic = renderReal({"--subtype", subtype}, "auto" + bits + ".wav");
        ASSERT_EQ(automatic.exitCode, 0) << automatic.err;
        EXPECT_EQ(automatic.err.find("warning"), std::string::npos) << automatic.err;
        const RunResult byHand =
            renderReal({"--subtype", subtype, "--set", "Quantize=on", "--set", "Bits=" + bits},
                       "hand" + bits + ".wav");
        ASSERT_EQ(byHand.exitCode, 0) << byHand.err;
        EXPECT_EQ(readText(dir_.file("auto" + bits + ".wav")),
                  readText(dir_.file("hand" + bits + ".wav")))
            << subtype;
    }
    // An explicit Quantize wins: off gives the writer's plain rounding instead.
    ASSERT_EQ(renderReal({"--subtype", "pcm16", "--set", "Quantize=off"}, "off.wav").exitCode, 0);
    EXPECT_NE(readText(dir_.file("off.wav")), readText(dir_.file("auto16.wav")));
}

TEST_F(RenderWordLengthTest, SixteenBitContentInATwentyFourBitFileIsWarnedAbout) {
    const RunResult run = renderReal({"--subtype", "pcm24", "--set", "Bits=16"}, "mixed.wav");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("16 bits"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("24-bit"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tq::tooltest
