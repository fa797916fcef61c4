// The tool's pieces on their own: command line, names, JSON text, demo signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "DemoProgramme.h"
#include "Options.h"
#include "Report.h"
#include "ToolError.h"

namespace tq {
namespace {

TEST(RenderOptions, DefaultsAndValues) {
    const Options none = parseOptions({});
    EXPECT_EQ(none.blockSize, 512);
    EXPECT_FALSE(none.doublePrecision);
    EXPECT_TRUE(none.inputPath.empty());

    const Options all = parseOptions({"--plugin", "p.so", "--block=33", "--double", "--mono-out",
                                      "--set", "A=1", "--set=B=x", "--preset", "f.tarvel", "--json",
                                      "--format", "flac", "--subtype", "pcm16", "in.wav", "out.x"});
    EXPECT_EQ(all.pluginPath, "p.so");
    EXPECT_EQ(all.blockSize, 33);
    EXPECT_TRUE(all.doublePrecision);
    EXPECT_TRUE(all.monoOut);
    EXPECT_EQ(all.assignments, (std::vector<std::string>{"A=1", "B=x"}));
    EXPECT_EQ(all.presetPath, "f.tarvel");
    EXPECT_TRUE(all.json);
    EXPECT_EQ(effectiveFormat(all, all.outputPath), FileFormat::flac);
    EXPECT_EQ(effectiveSampleFormat(all, FileFormat::flac), SampleFormat::pcm16);
    EXPECT_EQ(all.inputPath, "in.wav");
    EXPECT_EQ(all.outputPath, "out.x");

    // A file name that starts with a dash follows "--".
    EXPECT_EQ(parseOptions({"--", "--odd.wav"}).inputPath, "--odd.wav");
}

TEST(RenderOptions, BatchesAndTheirOptions) {
    const Options two = parseOptions({"in.wav", "out.wav"});
    EXPECT_FALSE(two.batch) << "two names stay INPUT OUTPUT";
    EXPECT_EQ(two.outputPath, "out.wav");
    const Options dashO = parseOptions({"-o", "x.flac", "in.wav"});
    EXPECT_FALSE(dashO.batch);
    EXPECT_EQ(dashO.inputPath, "in.wav");
    EXPECT_EQ(dashO.outputPath, "x.flac");
    const Options three = parseOptions({"-j3", "a", "b", "c"});
    EXPECT_TRUE(three.batch);
    EXPECT_EQ(three.jobs, 3);
    EXPECT_EQ(three.inputPaths, (std::vector<std::string>{"a", "b", "c"}));
    const Options outdir = parseOptions({"--outdir", "d", "-j", "2", "a", "b"});
    EXPECT_TRUE(outdir.batch);
    EXPECT_EQ(outdir.outputDirectory, "d");
    EXPECT_EQ(outdir.inputPaths, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(parseOptions({"--version"}).version);
}

TEST(RenderOptions, Refusals) {
    EXPECT_THROW(parseOptions({"--block", "0"}), ToolError);
    EXPECT_THROW(parseOptions({"--block", "65537"}), ToolError);
    EXPECT_THROW(parseOptions({"--block", ""}), ToolError);
    EXPECT_THROW(parseOptions({"--block", "9999999999999"}), ToolError);
    EXPECT_THROW(parseOptions({"--format", "m4a"}), ToolError);
    EXPECT_THROW(parseOptions({"--list=1"}), ToolError);
    EXPECT_THROW(parseOptions({"--plugin"}), ToolError);
    EXPECT_THROW(parseOptions({"a", "b", "-o", "c"}), ToolError);
    EXPECT_THROW(parseOptions({"a", "-o", "c", "--outdir", "d"}), ToolError);
    EXPECT_THROW(parseOptions({"-j", "0", "a", "b", "c"}), ToolError);
    EXPECT_THROW(parseOptions({"-", "b", "c"}), ToolError);
    EXPECT_THROW(parseOptions({"--what"}), ToolError);
}

TEST(RenderOptions, FormatFollowsTheOutputName) {
    const Options plain = parseOptions({});
    EXPECT_EQ(effectiveFormat(plain, "x.FLAC"), FileFormat::flac);
    EXPECT_EQ(effectiveFormat(plain, "x.wav"), FileFormat::wav);
    EXPECT_EQ(effectiveFormat(plain, "flac"), FileFormat::wav);
    EXPECT_EQ(effectiveSampleFormat(plain, FileFormat::wav), SampleFormat::float32);
    EXPECT_EQ(effectiveSampleFormat(plain, FileFormat::flac), SampleFormat::pcm24);
}

TEST(RenderOptions, DefaultOutputNames) {
    EXPECT_EQ(defaultOutputPath("dir/song.flac", FileFormat::wav), "dir/song-render.wav");
    EXPECT_EQ(defaultOutputPath("song", FileFormat::flac), "song-render.flac");
    EXPECT_EQ(defaultOutputPath("a.b/song", FileFormat::wav), "a.b/song-render.wav");
    EXPECT_EQ(defaultOutputPath("dir/.hidden", FileFormat::wav), "dir/.hidden-render.wav");
}

TEST(RenderJson, StringsAreEscaped) {
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("tab\there"), "\"tab\\u0009here\"");
    EXPECT_EQ(jsonString("\xc2\xb5s"), "\"\xc2\xb5s\"");  // UTF-8 passes
    EXPECT_EQ(jsonString("\xb5s"), "\"\\u00b5s\"");       // a lone Latin-1 byte is escaped
    EXPECT_EQ(jsonString("\xc2"), "\"\\u00c2\"");         // a cut sequence too
}

TEST(RenderDemoProgramme, LengthPeakAndDeterminism) {
    const std::vector<double> first = DemoProgramme::generate();
    const std::vector<double> second = DemoProgramme::generate();
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.size(),
              static_cast<std::size_t>(DemoProgramme::kSeconds * DemoProgramme::kSampleRate *
                                       DemoProgramme::kChannels));
    double peak = 0.0;
    for (double v : first) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, DemoProgramme::kPeak, 1e-12);
    EXPECT_GT(peak, 1.0);
    // The two channels differ (a stereo programme, not dual mono).
    bool differ = false;
    for (std::size_t i = 0; i + 1 < first.size() && !differ; i += 2)
        differ = first[i] != first[i + 1];
    EXPECT_TRUE(differ);
}

}  // namespace
}  // namespace tq
