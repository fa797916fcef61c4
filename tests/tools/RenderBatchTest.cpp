// Batches: several inputs or folders, collision-free output names, parallel renders
// that each have their own instance of the effect, partial failure and the summary.
#include <gtest/gtest.h>

#include <filesystem>

#include "Batch.h"
#include "ToolError.h"
#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

// --- names, without rendering ---

std::vector<std::string> outputsOf(const std::vector<BatchJob>& jobs) {
    std::vector<std::string> outputs;
    for (const auto& job : jobs) outputs.push_back(job.output);
    return outputs;
}

TEST(RenderBatchPlan, NamesThatWouldCollideTakeTheInputsExtensionThenANumber) {
    using V = std::vector<std::string>;
    EXPECT_EQ(outputsOf(planBatch({"d/m.mp3", "d/m.flac", "d/n.wav"}, "", FileFormat::wav)),
              (V{"d/m-mp3-render.wav", "d/m-flac-render.wav", "d/n-render.wav"}));
    // The format's extension, and the inputs' folders.
    EXPECT_EQ(outputsOf(planBatch({"a/m.wav", "b/m.wav"}, "", FileFormat::flac)),
              (V{"a/m-render.flac", "b/m-render.flac"}));
    // One output folder for inputs of the same name from different folders.
    TempDir out;
    EXPECT_EQ(outputsOf(planBatch({"a/m.wav", "b/m.wav", "m.flac"}, out.path(), FileFormat::wav)),
              (V{out.file("m-wav-render.wav"), out.file("m-wav-render-2.wav"),
                 out.file("m-flac-render.wav")}));
    // An output never takes the name of an input of the batch.
    EXPECT_EQ(outputsOf(planBatch({"x.wav", "x-render.wav"}, "", FileFormat::wav)),
              (V{"x-wav-render.wav", "x-render-render.wav"}));
    EXPECT_EQ(outputsOf(planBatch({"./y.wav", "y.aiff", "y"}, "", FileFormat::wav)),
              (V{"./y-wav-render.wav", "y-aiff-render.wav", "y-render.wav"}));
}

TEST(RenderBatchPlan, FoldersGiveTheirSoundFilesOnly) {
    TempDir dir;
    for (const char* name : {"b.flac", "a.wav", "c.AIFF", "d.mp3", ".hidden.wav", "notes.txt",
                             "a-render.wav", "e.w64"}) {
        writeBytes(dir.file(name), {'x'});
    }
    std::filesystem::create_directory(dir.file("inner.wav"));
    const auto jobs = planBatch({dir.path()}, "", FileFormat::wav);
    std::vector<std::string> inputs;
    for (const auto& job : jobs) inputs.push_back(job.input);
    EXPECT_EQ(inputs,
              (std::vector<std::string>{dir.file("a.wav"), dir.file("b.flac"), dir.file("c.AIFF"),
                                        dir.file("d.mp3"), dir.file("e.w64")}));
    TempDir empty;
    EXPECT_THROW(planBatch({empty.path()}, "", FileFormat::wav), ToolError);
    EXPECT_THROW(planBatch({"x.wav"}, dir.file("notes.txt"), FileFormat::wav), ToolError);
}

// --- end to end ---

class RenderBatchTest : public ::testing::Test {
  protected:
    std::vector<std::string> withDelay(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--plugin", testPlugin("tq-test-delay")});
        return args;
    }

    // The bytes one render of `input` on its own gives.
    std::string singleRender(const std::string& input) {
        const std::string output = reference_.file("single.wav");
        EXPECT_EQ(runTool(withDelay({input, output})).exitCode, 0);
        return readText(output);
    }

    TempDir dir_;
    TempDir reference_;
};

TEST_F(RenderBatchTest, EveryFileRendersAsItWouldAloneWhateverTheThreadCount) {
    // Different rates, channels and formats; the delay plug-in carries state from block
    // to block, so a shared instance would leak one file's tail into the next.
    writeAudio(dir_.file("m.wav"), makeSignal(44100, 2, 30000, 51));
    writeAudio(dir_.file("m.flac"), makeSignal(96000, 1, 20000, 52),
               SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    writeAudio(dir_.file("n.aiff"), makeSignal(48000, 2, 10000, 53),
               SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    const std::vector<std::string> inputs = {dir_.file("m.wav"), dir_.file("m.flac"),
                                             dir_.file("n.aiff")};
    const std::vector<std::string> outputs = {
        dir_.file("m-wav-render.wav"), dir_.file("m-flac-render.wav"), dir_.file("n-render.wav")};
    for (const std::string jobs : {"1", "3"}) {
        std::vector<std::string> args = {"-j", jobs};
        args.insert(args.end(), inputs.begin(), inputs.end());
        const RunResult run = runTool(withDelay(args));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("3 of 3 files rendered"), std::string::npos) << run.out;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            EXPECT_EQ(readText(outputs[i]), singleRender(inputs[i]))
                << outputs[i] << " -j " << jobs;
            std::filesystem::remove(outputs[i]);
        }
    }
}

TEST_F(RenderBatchTest, OneFailureDoesNotStopTheOthers) {
    writeAudio(dir_.file("good1.wav"), makeSignal(44100, 2, 5000, 54));
    writeAudio(dir_.file("good2.wav"), makeSignal(44100, 2, 6000, 55));
    writeBytes(dir_.file("text.wav"), {'n', 'o', 't', ' ', 's', 'o', 'u', 'n', 'd'});
    const RunResult run = runTool(
        withDelay({"--outdir", dir_.file("out"), dir_.file("good1.wav"), dir_.file("missing.wav"),
                   dir_.file("text.wav"), dir_.file("good2.wav")}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("2 of 4 files rendered, some FAILED"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("missing.wav"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("text.wav"), std::string::npos) << run.err;
    EXPECT_EQ(readText(dir_.file("out/good1-render.wav")), singleRender(dir_.file("good1.wav")));
    EXPECT_EQ(readText(dir_.file("out/good2-render.wav")), singleRender(dir_.file("good2.wav")));
    EXPECT_FALSE(fileExists(dir_.file("out/missing-render.wav")));
    EXPECT_FALSE(fileExists(dir_.file("out/text-render.wav")));
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file("out"))) {
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
    }
}

TEST_F(RenderBatchTest, AFolderAndJsonForTheWholeBatch) {
    std::filesystem::create_directory(dir_.file("album"));
    writeAudio(dir_.file("album/1.wav"), makeSignal(44100, 2, 4000, 56));
    writeAudio(dir_.file("album/2.wav"), makeSignal(44100, 2, 4000, 57));
    writeBytes(dir_.file("album/cover.jpg"), {'j'});
    const RunResult run = runTool(withDelay({"--json", dir_.file("album")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json document = Json::parse(run.out);
    ASSERT_EQ(document["files"].items.size(), 2u);
    EXPECT_EQ(document["files"].items[0]["output_file"].text, dir_.file("album/1-render.wav"));
    EXPECT_EQ(document["rendered"].number, 2);
    EXPECT_EQ(document["failed"].number, 0);
    EXPECT_TRUE(fileExists(dir_.file("album/2-render.wav")));

    // A second run leaves the first run's outputs out of the batch.
    const RunResult again = runTool(withDelay({"--json", dir_.file("album")}));
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Json::parse(again.out)["files"].items.size(), 2u);
    EXPECT_FALSE(fileExists(dir_.file("album/1-render-render.wav")));
}

TEST_F(RenderBatchTest, APresetOnStandardInputReachesEveryFile) {
    writeAudio(dir_.file("a.wav"), makeSignal(44100, 2, 4000, 59));
    writeAudio(dir_.file("b.wav"), makeSignal(44100, 2, 5000, 60));
    writeBytes(reference_.file("p.tarvel"), presetRecord(std::vector<float>(26, 0.25f)));
    RunSetup setup;
    setup.inputFromPipe = true;
    setup.inputBytes = readText(reference_.file("p.tarvel"));
    const RunResult run = runToolWith(withDelay({"--preset", "-", "-j", "2", dir_.file("a.wav"),
                                                 dir_.file("b.wav"), "--outdir", dir_.file("out")}),
                                      setup);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string name : {"a", "b"}) {
        const std::string single = reference_.file(name + "-single.wav");
        ASSERT_EQ(runTool(withDelay({"--preset", reference_.file("p.tarvel"),
                                     dir_.file(name + ".wav"), single}))
                      .exitCode,
                  0);
        EXPECT_EQ(readText(dir_.file("out/" + name + "-render.wav")), readText(single)) << name;
    }
}

TEST_F(RenderBatchTest, VersionNamesTheToolAndTheEffect) {
    const RunResult run = runTool(withDelay({"--version"}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("tarvel-render ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("tq-test-delay"), std::string::npos) << run.out;
}

TEST_F(RenderBatchTest, DashOGivesASingleInputItsOutput) {
    writeAudio(dir_.file("in.wav"), makeSignal(44100, 2, 4000, 58));
    const RunResult run = runTool(withDelay({dir_.file("in.wav"), "-o", dir_.file("master.flac")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readAudio(dir_.file("master.flac")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(run.out.find("files rendered"), std::string::npos) << "a single file is no batch";
}

}  // namespace
}  // namespace tq::tooltest
