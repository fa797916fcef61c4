// End-to-end renders through the pure-delay test plug-in: whatever the rate,
// channel count, sample format, block size or latency, a delay that the host
// compensates must give back the input exactly.
#include <gtest/gtest.h>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

void expectSameAudio(const Audio& expected, const Audio& actual) {
    ASSERT_EQ(expected.sampleRate, actual.sampleRate);
    ASSERT_EQ(expected.channels, actual.channels);
    ASSERT_EQ(expected.frames(), actual.frames());
    for (std::size_t i = 0; i < expected.samples.size(); ++i) {
        ASSERT_EQ(expected.samples[i], actual.samples[i]) << "sample " << i;
    }
}

// Renders `input` (written as `format`) and returns what the tool wrote.
Audio renderThroughDelay(const TempDir& dir, const Audio& input, int format,
                         std::vector<std::string> extra = {}) {
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");
    writeAudio(in, input, format);
    std::vector<std::string> args = {"--plugin", testPlugin("tq-test-delay")};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(in);
    args.push_back(out);
    const RunResult run = runTool(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readAudio(out);
}

struct RenderCase {
    int sampleRate;
    int channels;
    int format;
};

class RenderCaseTest : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderCaseTest, PureDelayRendersEqualToTheInput) {
    const RenderCase c = GetParam();
    TempDir dir;
    const Audio input = makeSignal(c.sampleRate, c.channels, c.sampleRate / 4 + 37, 11);
    writeAudio(dir.file("reference.wav"), input, c.format);
    const Audio reference = readAudio(dir.file("reference.wav"));  // as quantised by the format
    const Audio output = renderThroughDelay(dir, input, c.format);
    // A mono file comes back in stereo: both outputs carry the one input.
    if (c.channels == 1) {
        ASSERT_EQ(output.channels, 2);
        for (std::int64_t n = 0; n < output.frames(); ++n) {
            ASSERT_EQ(output.at(n, 0), reference.at(n, 0)) << n;
            ASSERT_EQ(output.at(n, 1), reference.at(n, 0)) << n;
        }
        return;
    }
    expectSameAudio(reference, output);
}

INSTANTIATE_TEST_SUITE_P(RatesChannelsFormats, RenderCaseTest,
                         ::testing::Values(RenderCase{44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                           RenderCase{44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                           RenderCase{44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                           RenderCase{44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                           RenderCase{96000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                           RenderCase{96000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                           RenderCase{192000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                           RenderCase{192000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                           RenderCase{5000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                           RenderCase{48000, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                                           RenderCase{44100, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                                           RenderCase{44100, 1, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                                           RenderCase{200000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}));

TEST(RenderAlignment, EveryLatencyIsCompensated) {
    TempDir dir;
    const Audio input = makeSignal(48000, 2, 4800, 3);
    for (const char* delay : {"0", "1", "100", "1000"}) {
        SCOPED_TRACE(delay);
        expectSameAudio(input, renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                                  {"--set", std::string("Delay=") + delay}));
    }
}

TEST(RenderAlignment, LatencySettledInTheFirstProcessCallIsCompensated) {
    TempDir dir;
    const Audio input = makeSignal(48000, 2, 4800, 17);
    for (const char* block : {"1", "64", "512"}) {
        SCOPED_TRACE(block);
        expectSameAudio(input, renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                                  {"--set", "Late=on", "--block", block}));
    }
}

TEST(RenderAlignment, FileShorterThanTheLatencyKeepsItsLength) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 10, 4);
    expectSameAudio(input, renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                              {"--set", "Delay=1000", "--block", "64"}));
}

TEST(RenderBlocks, OneFrameAndOddBlockSizesGiveIdenticalOutput) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 5000, 5);
    const Audio reference = renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    expectSameAudio(input, reference);
    for (const char* block : {"1", "3", "7", "511", "1001", "4097", "65536"}) {
        SCOPED_TRACE(block);
        expectSameAudio(reference, renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                                      {"--block", block, "--set", "Delay=1000"}));
    }
}

TEST(RenderPrecision, DoubleFlagUsesTheDoublePathAndStaysExact) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 3000, 6);
    expectSameAudio(input,
                    renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, {"--double"}));
    // The tag mode writes a constant that says which process entry ran.
    const Audio floatTag = renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                              {"--set", "Mode=tag", "--set", "Delay=0"});
    const Audio doubleTag =
        renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                           {"--double", "--set", "Mode=tag", "--set", "Delay=0"});
    for (double v : floatTag.samples) ASSERT_EQ(v, 0.25);
    for (double v : doubleTag.samples) ASSERT_EQ(v, 0.5);
}

TEST(RenderChannels, MonoOutWritesOutputOneOnly) {
    TempDir dir;
    const Audio stereo = makeSignal(44100, 2, 2000, 7);
    const Audio output =
        renderThroughDelay(dir, stereo, SF_FORMAT_WAV | SF_FORMAT_FLOAT, {"--mono-out"});
    ASSERT_EQ(output.channels, 1);
    ASSERT_EQ(output.frames(), stereo.frames());
    for (std::int64_t n = 0; n < output.frames(); ++n) ASSERT_EQ(output.at(n, 0), stereo.at(n, 0));

    const Audio mono = makeSignal(44100, 1, 2000, 8);
    const Audio monoOut =
        renderThroughDelay(dir, mono, SF_FORMAT_WAV | SF_FORMAT_FLOAT, {"--mono-out"});
    expectSameAudio(mono, monoOut);
}

TEST(RenderChannels, HostAnswersWhichPinsAreConnected) {
    TempDir dir;
    const Audio stereo = makeSignal(44100, 2, 600, 15);
    const Audio mono = makeSignal(44100, 1, 600, 16);
    // "pins" writes 0.125 for an unconnected input 2 plus 0.25 for an unconnected output 2.
    struct Case {
        const Audio* input;
        bool monoOut;
        double expected;
    };
    for (const Case c : {Case{&stereo, false, 0.0}, Case{&mono, false, 0.125},
                         Case{&stereo, true, 0.25}, Case{&mono, true, 0.375}}) {
        SCOPED_TRACE(c.expected);
        std::vector<std::string> extra = {"--set", "Mode=pins", "--set", "Delay=0"};
        if (c.monoOut) extra.push_back("--mono-out");
        const Audio output =
            renderThroughDelay(dir, *c.input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, extra);
        ASSERT_EQ(output.channels, c.monoOut ? 1 : 2);
        for (double v : output.samples) ASSERT_EQ(v, c.expected);
    }
}

TEST(RenderChannels, ParametersReachTheAudio) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 2000, 9);
    const Audio inverted =
        renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, {"--set", "Mode=invert"});
    const Audio swapped =
        renderThroughDelay(dir, input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, {"--set", "Mode=swap"});
    for (std::int64_t n = 0; n < input.frames(); ++n) {
        ASSERT_EQ(inverted.at(n, 0), -input.at(n, 0));
        ASSERT_EQ(swapped.at(n, 0), input.at(n, 1));
        ASSERT_EQ(swapped.at(n, 1), input.at(n, 0));
    }
}

TEST(RenderFormats, SubtypesAndFlacAreWrittenAsAsked) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 3000, 10);
    writeAudio(dir.file("in.wav"), input);
    const std::string plugin = testPlugin("tq-test-delay");

    ASSERT_EQ(
        runTool({"--plugin", plugin, "--subtype", "pcm16", dir.file("in.wav"), dir.file("a.wav")})
            .exitCode,
        0);
    const Audio pcm16 = readAudio(dir.file("a.wav"));
    EXPECT_EQ(pcm16.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);

    // FLAC by extension, 24-bit by default.
    ASSERT_EQ(runTool({"--plugin", plugin, dir.file("in.wav"), dir.file("b.flac")}).exitCode, 0);
    const Audio flac = readAudio(dir.file("b.flac"));
    EXPECT_EQ(flac.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);

    ASSERT_EQ(runTool({"--plugin", plugin, "--format", "flac", "--subtype", "pcm16",
                       dir.file("in.wav"), dir.file("c.out")})
                  .exitCode,
              0);
    EXPECT_EQ(readAudio(dir.file("c.out")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);

    ASSERT_EQ(
        runTool({"--plugin", plugin, "--subtype", "pcm24", dir.file("in.wav"), dir.file("d.wav")})
            .exitCode,
        0);
    const Audio pcm24 = readAudio(dir.file("d.wav"));
    EXPECT_EQ(pcm24.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        ASSERT_NEAR(pcm16.samples[i], input.samples[i], 1.0 / 32768.0);
        ASSERT_NEAR(flac.samples[i], input.samples[i], 2.0 / 8388608.0);
        ASSERT_NEAR(pcm24.samples[i], input.samples[i], 1.0 / 8388608.0);
    }
    // Float WAV is the default.
    ASSERT_EQ(runTool({"--plugin", plugin, dir.file("in.wav"), dir.file("e.wav")}).exitCode, 0);
    EXPECT_EQ(readAudio(dir.file("e.wav")).format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

TEST(RenderFormats, DefaultOutputNameIsDerivedFromTheInput) {
    TempDir dir;
    writeAudio(dir.file("song.wav"), makeSignal(44100, 2, 500, 12));
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-delay"), dir.file("song.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fileExists(dir.file("song-render.wav")));
}

TEST(RenderFormats, OutputMayReplaceItsOwnInput) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 3000, 13);
    writeAudio(dir.file("same.wav"), input);
    const RunResult run = runTool(
        {"--plugin", testPlugin("tq-test-delay"), dir.file("same.wav"), dir.file("same.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    expectSameAudio(input, readAudio(dir.file("same.wav")));
}

TEST(RenderPlugins, EntryExportedOnlyAsMainIsFound) {
    TempDir dir;
    const Audio input = makeSignal(44100, 2, 700, 14);
    writeAudio(dir.file("in.wav"), input);
    const RunResult run = runTool(
        {"--plugin", testPlugin("tq-test-main-only"), dir.file("in.wav"), dir.file("out.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    expectSameAudio(input, readAudio(dir.file("out.wav")));
}

}  // namespace
}  // namespace tq::tooltest
