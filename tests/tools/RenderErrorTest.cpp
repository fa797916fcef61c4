// Bad input of every kind: a one-line error that names the file or value and
// the reason, a non-zero exit, and nothing written under the output name (nor
// any temporary file left beside it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class RenderErrorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input_ = dir_.file("in.wav");
        output_ = dir_.file("out.wav");
        writeAudio(input_, makeSignal(44100, 2, 1000, 21));
    }

    // Runs and checks the common rules; `mention` must appear in the message.
    void expectFailure(const std::vector<std::string>& args, const std::string& mention,
                       const std::string& reason = "") {
        const RunResult run = runTool(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_EQ(run.err.rfind("tarvel-render: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(mention), std::string::npos) << run.err;
        if (!reason.empty()) {
            EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        }
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_FALSE(fileExists(output_));
        for (const auto& name : dir_.entries()) {
            EXPECT_EQ(name.find(".partial"), std::string::npos) << "left behind: " << name;
        }
    }

    std::vector<std::string> withDelay(std::vector<std::string> args) {
        args.insert(args.begin(), {"--plugin", testPlugin("tq-test-delay")});
        return args;
    }

    TempDir dir_;
    std::string input_;
    std::string output_;
};

TEST_F(RenderErrorTest, MissingInput) {
    expectFailure(withDelay({dir_.file("nope.wav"), output_}), "nope.wav", "No such file");
}

TEST_F(RenderErrorTest, InputThatIsNotSound) {
    writeBytes(dir_.file("text.wav"), {'h', 'e', 'l', 'l', 'o', '\n'});
    expectFailure(withDelay({dir_.file("text.wav"), output_}), "text.wav");
}

TEST_F(RenderErrorTest, InputThatIsADirectory) {
    std::filesystem::create_directory(dir_.file("folder"));
    expectFailure(withDelay({dir_.file("folder"), output_}), "folder", "not a regular file");
}

TEST_F(RenderErrorTest, InputWithThreeChannels) {
    writeAudio(dir_.file("three.wav"), makeSignal(44100, 3, 100, 22));
    expectFailure(withDelay({dir_.file("three.wav"), output_}), "three.wav", "3 channels");
}

TEST_F(RenderErrorTest, InputRateOutsideTheRange) {
    writeAudio(dir_.file("slow.wav"), makeSignal(4000, 2, 100, 23));
    expectFailure(withDelay({dir_.file("slow.wav"), output_}), "slow.wav", "4000 Hz");
}

TEST_F(RenderErrorTest, InputWithoutFrames) {
    writeAudio(dir_.file("empty.wav"), Audio{});
    expectFailure(withDelay({dir_.file("empty.wav"), output_}), "empty.wav", "no audio");
}

TEST_F(RenderErrorTest, MissingPlugin) {
    expectFailure({"--plugin", dir_.file("none.so"), input_, output_}, "none.so", "No such file");
}

TEST_F(RenderErrorTest, PluginThatIsNotALibrary) {
    writeBytes(dir_.file("fake.so"), {'n', 'o', 't', ' ', 'e', 'l', 'f'});
    expectFailure({"--plugin", dir_.file("fake.so"), input_, output_}, "fake.so");
}

TEST_F(RenderErrorTest, LibraryWithoutEntry) {
    expectFailure({"--plugin", testPlugin("tq-test-no-entry"), input_, output_}, "tq-test-no-entry",
                  "neither VSTPluginMain nor main");
}

TEST_F(RenderErrorTest, EntryReturningNull) {
    expectFailure({"--plugin", testPlugin("tq-test-null"), input_, output_}, "tq-test-null",
                  "returned no effect");
}

TEST_F(RenderErrorTest, WrongMagic) {
    expectFailure({"--plugin", testPlugin("tq-test-wrong-magic"), input_, output_},
                  "tq-test-wrong-magic", "magic");
}

TEST_F(RenderErrorTest, DoubleWithAFloatOnlyPlugin) {
    expectFailure({"--plugin", testPlugin("tq-test-float-only"), "--double", input_, output_},
                  "tq-test-float-only", "double");
}

TEST_F(RenderErrorTest, UnknownParameterName) {
    expectFailure(withDelay({"--set", "Volume=0.5", input_, output_}), "Volume",
                  "unknown parameter");
}

TEST_F(RenderErrorTest, UnknownValueText) {
    expectFailure(withDelay({"--set", "Mode=loud", input_, output_}), "loud");
    expectFailure(withDelay({"--set", "Gain=1.5", input_, output_}), "1.5");
    expectFailure(withDelay({"--set", "Gain=nan", input_, output_}), "nan");
    expectFailure(withDelay({"--set", "Gain=n:1.5", input_, output_}), "n:1.5", "0 to 1");
    expectFailure(withDelay({"--set", "Gain=n:", input_, output_}), "Gain", "0 to 1");
    expectFailure(withDelay({"--set", "Gain=n:nan", input_, output_}), "n:nan");
    expectFailure(withDelay({"--set", "Gain", input_, output_}), "NAME=VALUE");
    expectFailure(withDelay({"--set", "=0.5", input_, output_}), "NAME=VALUE");
}

TEST_F(RenderErrorTest, UnknownValueTextListsTheChoices) {
    const RunResult run = runTool(withDelay({"--set", "Delay=2", input_, output_}));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("'0' '1' '100' '1000'"), std::string::npos) << run.err;
}

TEST_F(RenderErrorTest, OutputInAMissingDirectory) {
    output_ = dir_.file("missing/out.wav");
    expectFailure(withDelay({input_, output_}), "missing/out.wav", "No such file");
}

TEST_F(RenderErrorTest, OutputBelowAFile) {
    writeBytes(dir_.file("plain"), {'x'});
    output_ = dir_.file("plain/out.wav");
    expectFailure(withDelay({input_, output_}), "plain/out.wav", "Not a directory");
}

TEST_F(RenderErrorTest, OutputThatIsADirectory) {
    std::filesystem::create_directory(dir_.file("adir"));
    const RunResult run = runTool(withDelay({input_, dir_.file("adir")}));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("adir"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir_.file("adir")));
}

TEST_F(RenderErrorTest, FlacCannotHoldFloat) {
    expectFailure(withDelay({"--subtype", "float", input_, dir_.file("out.flac")}), "out.flac",
                  "FLAC");
    EXPECT_FALSE(fileExists(dir_.file("out.flac")));
}

TEST_F(RenderErrorTest, BadOptions) {
    expectFailure(withDelay({"--block", "0", input_, output_}), "'0'");
    expectFailure(withDelay({"--block", "-4", input_, output_}), "'-4'");
    expectFailure(withDelay({"--block", "12x", input_, output_}), "'12x'");
    expectFailure(withDelay({"--block", "65537", input_, output_}), "'65537'");
    expectFailure(withDelay({"--block"}), "--block needs a value");
    expectFailure(withDelay({"--format", "m4a", input_, output_}), "'m4a'");
    expectFailure(withDelay({"--subtype", "pcm8", input_, output_}), "'pcm8'");
    expectFailure(withDelay({"--loud", input_, output_}), "--loud");
    expectFailure(withDelay({"--double=yes", input_, output_}), "--double");
    expectFailure(withDelay({input_, dir_.file("second.wav"), "-o", output_}), "exactly one");
}

TEST_F(RenderErrorTest, FailedRenderKeepsTheOldOutput) {
    writeBytes(output_, {'o', 'l', 'd'});
    const RunResult run = runTool(withDelay({"--set", "Mode=loud", input_, output_}));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(readText(output_), "old");
    const RunResult badInput = runTool(withDelay({dir_.file("nope.wav"), output_}));
    EXPECT_NE(badInput.exitCode, 0);
    EXPECT_EQ(readText(output_), "old");
}

TEST_F(RenderErrorTest, UnusablePresets) {
    std::vector<float> values(26, 0.5f);
    auto shortRecord = presetRecord(values);
    shortRecord.resize(100);
    writeBytes(dir_.file("short.tarvel"), shortRecord);
    expectFailure(withDelay({"--preset", dir_.file("short.tarvel"), input_, output_}),
                  "short.tarvel", "100 bytes");

    auto wrongMagic = presetRecord(values);
    wrongMagic[0] = 'X';
    writeBytes(dir_.file("magic.tarvel"), wrongMagic);
    expectFailure(withDelay({"--preset", dir_.file("magic.tarvel"), input_, output_}),
                  "magic.tarvel", "TRql");

    writeBytes(dir_.file("bank.tvb"), presetRecord(values, false, '7'));
    expectFailure(withDelay({"--preset", dir_.file("bank.tvb"), input_, output_}), "bank.tvb",
                  "bank");

    values[7] = 3.0f;
    writeBytes(dir_.file("range.tarvel"), presetRecord(values));
    expectFailure(withDelay({"--preset", dir_.file("range.tarvel"), input_, output_}),
                  "range.tarvel", "outside 0..1");

    values[7] = 0.5f;
    writeBytes(dir_.file("good.tarvel"), presetRecord(values));
    expectFailure({"--plugin", testPlugin("tq-test-float-only"), "--preset",
                   dir_.file("good.tarvel"), input_, output_},
                  "good.tarvel", "TqFo");
    expectFailure(withDelay({"--preset", dir_.file("absent.tarvel"), input_, output_}),
                  "absent.tarvel", "No such file");
}

}  // namespace
}  // namespace tq::tooltest
