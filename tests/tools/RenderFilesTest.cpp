// Files that are not plain files: outputs through links, into pipes, devices and
// standard output; inputs and presets that are pipes, directories or standard input;
// signals and file-size limits in the middle of a render; truncated and non-finite input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

// A render that would hang gets this long before SIGALRM ends it.
constexpr unsigned kHangGuardSeconds = 60;

class RenderFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input_ = dir_.file("in.wav");
        writeAudio(input_, makeSignal(44100, 2, 3000, 31));
    }

    std::vector<std::string> withDelay(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--plugin", testPlugin("tq-test-delay")});
        return args;
    }

    // The bytes a plain render of the input into a new regular file gives.
    std::string referenceBytes() {
        const std::string reference = dir_.file("reference.wav");
        EXPECT_EQ(runTool(withDelay({input_, reference})).exitCode, 0);
        return readText(reference);
    }

    void expectNoTemporaryFiles() const {
        for (const auto& name : dir_.entries()) {
            EXPECT_EQ(name.find(".partial"), std::string::npos) << "left behind: " << name;
        }
    }

    static mode_t typeOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
        return info.st_mode & S_IFMT;
    }

    TempDir dir_;
    std::string input_;
};

// --- outputs ---

TEST_F(RenderFilesTest, OutputThroughASymbolicLinkReplacesTheTargetAndKeepsTheLink) {
    const std::string expected = referenceBytes();
    std::filesystem::create_directory(dir_.file("store"));
    writeBytes(dir_.file("store/master.wav"), {'o', 'l', 'd'});
    ASSERT_EQ(symlink("store/master.wav", dir_.file("link.wav").c_str()), 0);
    // A chain of two links, the second one absolute.
    ASSERT_EQ(symlink(dir_.file("link.wav").c_str(), dir_.file("chain.wav").c_str()), 0);

    ASSERT_EQ(runTool(withDelay({input_, dir_.file("chain.wav")})).exitCode, 0);
    EXPECT_EQ(typeOf(dir_.file("link.wav")), S_IFLNK);
    EXPECT_EQ(typeOf(dir_.file("chain.wav")), S_IFLNK);
    EXPECT_EQ(readText(dir_.file("store/master.wav")), expected);
    for (const auto& entry : std::filesystem::directory_iterator(dir_.file("store"))) {
        EXPECT_EQ(entry.path().filename(), "master.wav") << "temporary left in the target's folder";
    }

    // A dangling link: the file it names is created, and the link stays.
    ASSERT_EQ(symlink("store/new.wav", dir_.file("dangling.wav").c_str()), 0);
    ASSERT_EQ(runTool(withDelay({input_, dir_.file("dangling.wav")})).exitCode, 0);
    EXPECT_EQ(typeOf(dir_.file("dangling.wav")), S_IFLNK);
    EXPECT_EQ(readText(dir_.file("store/new.wav")), expected);
}

TEST_F(RenderFilesTest, ExistingOutputKeepsItsMode) {
    const std::string output = dir_.file("private.wav");
    writeBytes(output, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(output.c_str(), 0600), 0);
    ASSERT_EQ(runTool(withDelay({input_, output})).exitCode, 0);
    struct stat info {};
    ASSERT_EQ(stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(readAudio(output).frames(), 3000);

    // A new file gets what a plain create gives under the umask.
    const mode_t mask = umask(022);
    umask(mask);
    ASSERT_EQ(runTool(withDelay({input_, dir_.file("new.wav")})).exitCode, 0);
    ASSERT_EQ(stat(dir_.file("new.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
}

TEST_F(RenderFilesTest, NamedPipeOutputIsWrittenAsAStream) {
    const std::string expected = referenceBytes();
    const std::string fifo = dir_.file("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        const int fd = open(fifo.c_str(), O_RDONLY);
        if (fd < 0) return;
        char buffer[4096];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(got));
        }
        close(fd);
    });
    RunSetup setup;
    setup.alarmSeconds = kHangGuardSeconds;
    const RunResult run = runToolWith(withDelay({input_, fifo}), setup);
    reader.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(typeOf(fifo), S_IFIFO);
    EXPECT_EQ(received, expected);
    expectNoTemporaryFiles();
}

TEST_F(RenderFilesTest, CharacterDeviceOutputIsWrittenIntoAndKept) {
    // A null device of our own, so nothing outside the test is at stake.
    const std::string device = dir_.file("null");
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    }
    const int probe = open(device.c_str(), O_WRONLY);
    if (probe < 0) GTEST_SKIP() << "device nodes do not open here (nodev)";
    close(probe);
    const RunResult run = runTool(withDelay({input_, device}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(typeOf(device), S_IFCHR);
    expectNoTemporaryFiles();
}

TEST_F(RenderFilesTest, DashAndDevStdoutWriteTheSoundToStandardOutput) {
    const std::string expected = referenceBytes();
    for (const std::string name : {"-", "/dev/stdout"}) {
        const RunResult run = runTool(withDelay({input_, name}));
        EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
        EXPECT_EQ(run.out, expected) << name;
        // The report moves to standard error so it does not corrupt the sound.
        EXPECT_NE(run.err.find("true peak"), std::string::npos) << name << ": " << run.err;
    }
    expectNoTemporaryFiles();
}

// --- inputs and presets ---

TEST_F(RenderFilesTest, NamedPipeInputAndPresetAreRefusedWithoutWaiting) {
    const std::string fifo = dir_.file("in.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunSetup setup;
    setup.alarmSeconds = kHangGuardSeconds;
    const RunResult input = runToolWith(withDelay({fifo, dir_.file("out.wav")}), setup);
    EXPECT_EQ(input.exitCode, 1) << input.err;
    EXPECT_NE(input.err.find("named pipe"), std::string::npos) << input.err;

    const RunResult preset =
        runToolWith(withDelay({"--preset", fifo, input_, dir_.file("out.wav")}), setup);
    EXPECT_EQ(preset.exitCode, 1) << preset.err;
    EXPECT_NE(preset.err.find("in.fifo"), std::string::npos) << preset.err;
    EXPECT_NE(preset.err.find("named pipe"), std::string::npos) << preset.err;
    EXPECT_FALSE(fileExists(dir_.file("out.wav")));
}

TEST_F(RenderFilesTest, PresetThatIsADirectoryNamesTheReason) {
    std::filesystem::create_directory(dir_.file("presets"));
    const RunResult run =
        runTool(withDelay({"--preset", dir_.file("presets"), input_, dir_.file("out.wav")}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("is a directory"), std::string::npos) << run.err;
}

TEST_F(RenderFilesTest, DashReadsTheInputFromStandardInputFileOrPipe) {
    const std::string expected = referenceBytes();
    RunSetup fromFile;
    fromFile.inputFile = input_;
    ASSERT_EQ(runToolWith(withDelay({"-", dir_.file("a.wav")}), fromFile).exitCode, 0);
    EXPECT_EQ(readText(dir_.file("a.wav")), expected);

    RunSetup fromPipe;
    fromPipe.inputFromPipe = true;
    fromPipe.inputBytes = readText(input_);
    fromPipe.alarmSeconds = kHangGuardSeconds;
    const RunResult piped = runToolWith(withDelay({"-", dir_.file("b.wav")}), fromPipe);
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(readText(dir_.file("b.wav")), expected);

    // Without OUTPUT there is no name to derive one from.
    const RunResult unnamed = runToolWith(withDelay({"-"}), fromFile);
    EXPECT_EQ(unnamed.exitCode, 1);
    EXPECT_NE(unnamed.err.find("OUTPUT"), std::string::npos) << unnamed.err;
}

TEST_F(RenderFilesTest, DashReadsThePresetFromStandardInput) {
    writeBytes(dir_.file("p.tarvel"), presetRecord(std::vector<float>(26, 0.25f)));
    ASSERT_EQ(
        runTool(withDelay({"--preset", dir_.file("p.tarvel"), input_, dir_.file("file.wav")}))
            .exitCode,
        0);
    RunSetup setup;
    setup.inputFromPipe = true;
    setup.inputBytes = readText(dir_.file("p.tarvel"));
    const RunResult run =
        runToolWith(withDelay({"--preset", "-", input_, dir_.file("piped.wav")}), setup);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readText(dir_.file("piped.wav")), readText(dir_.file("file.wav")));
    EXPECT_NE(readText(dir_.file("piped.wav")), referenceBytes()) << "the preset changed nothing";
    EXPECT_EQ(runTool(withDelay({"--preset", "-", "-", dir_.file("o.wav")})).exitCode, 1);
}

TEST_F(RenderFilesTest, PresetNameControlCharactersAreShownEscaped) {
    writeBytes(dir_.file("p.tarvel"),
               presetRecord(std::vector<float>(26, 0.25f), false, '!', "Bell\a\x1b[2Jx"));
    const RunResult run =
        runTool(withDelay({"--preset", dir_.file("p.tarvel"), input_, dir_.file("o.wav")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Bell\\x07\\x1b[2Jx"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.out.find('\a'), std::string::npos);
}

// --- truncated and non-finite input ---

struct TruncationCase {
    const char* name;
    int format;
};

class RenderTruncationTest : public RenderFilesTest,
                             public ::testing::WithParamInterface<TruncationCase> {};

TEST_P(RenderTruncationTest, IsReportedWithBothCountsAndRefusedWhenStrict) {
    const std::string cut = dir_.file(std::string("cut.") + GetParam().name);
    writeAudio(cut, makeSignal(44100, 2, 40000, 32), GetParam().format);
    const auto size = std::filesystem::file_size(cut);
    std::filesystem::resize_file(cut, size / 2);

    const RunResult run = runTool(withDelay({"--json", cut, dir_.file("out.wav")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("40000"), std::string::npos) << run.err;
    const Json report = Json::parse(run.out);
    EXPECT_EQ(report["declared_frames"].number, 40000);
    const double held = report["frames"].number;
    EXPECT_GT(held, 0);
    EXPECT_LT(held, 40000);
    EXPECT_NE(run.err.find(std::to_string(static_cast<long>(held))), std::string::npos) << run.err;
    EXPECT_EQ(readAudio(dir_.file("out.wav")).frames(), static_cast<std::int64_t>(held));

    const RunResult table = runTool(withDelay({cut, dir_.file("table.wav")}));
    EXPECT_NE(table.out.find("truncated"), std::string::npos) << table.out;

    const RunResult strict = runTool(withDelay({"--strict", cut, dir_.file("strict.wav")}));
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_NE(strict.err.find("truncated"), std::string::npos) << strict.err;
    EXPECT_FALSE(fileExists(dir_.file("strict.wav")));
    expectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(
    Containers, RenderTruncationTest,
    ::testing::Values(TruncationCase{"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                      TruncationCase{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      TruncationCase{"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24},
                      TruncationCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RenderFilesTest, CompleteFilesAreNotCalledTruncated) {
    const RunResult run = runTool(withDelay({"--strict", input_, dir_.file("out.wav")}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(run.out.find("truncated"), std::string::npos);
}

TEST_F(RenderFilesTest, NonFiniteSamplesAreCountedApartFromOvers) {
    Audio audio = makeSignal(44100, 2, 20000, 33, 0.5);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < 300; ++i) audio.samples[100 + 7 * i] = nan;
    for (std::size_t i = 0; i < 50; ++i) audio.samples[9000 + 5 * i] = (i % 2) ? inf : -inf;
    audio.samples[15000] = 1.5;  // one real over
    writeAudio(dir_.file("nan.wav"), audio);

    const RunResult run = runTool(withDelay({"--json", dir_.file("nan.wav"), dir_.file("o.wav")}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json report = Json::parse(run.out);
    EXPECT_EQ(report["input"]["non_finite_samples"].number, 350);
    EXPECT_EQ(report["input"]["overs"].number, 1);
    EXPECT_NEAR(report["input"]["sample_peak_dbfs"].number, 20 * std::log10(1.5), 1e-3);
    EXPECT_EQ(report["input"]["integrated_lufs"].kind, Json::Kind::number);

    const RunResult table = runTool(withDelay({dir_.file("nan.wav"), dir_.file("t.wav")}));
    EXPECT_NE(table.out.find("NaN/inf samples"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("350"), std::string::npos) << table.out;
}

// --- signals and limits ---

class RenderSignalTest : public RenderFilesTest, public ::testing::WithParamInterface<int> {};

TEST_P(RenderSignalTest, TemporaryOutputIsRemoved) {
    // Long enough at one frame per block that the signal lands mid-render.
    writeAudio(input_, makeSignal(96000, 2, 96000 * 30, 25), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::string output = dir_.file("out.wav");
    const std::string plugin = testPlugin("tq-test-delay");
    const pid_t child = fork();
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        dup2(devNull, 2);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        execl(TQ_RENDER_PATH, TQ_RENDER_PATH, "--plugin", plugin.c_str(), "--block", "1",
              input_.c_str(), output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    bool started = false;
    bool exited = false;
    int status = 0;
    while (!started && !exited) {
        for (const auto& name : dir_.entries()) {
            started = started || name.find(".partial") != std::string::npos;
        }
        exited = waitpid(child, &status, WNOHANG) == child;
        if (!started && !exited) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (exited) GTEST_SKIP() << "the render ended before it could be interrupted";
    kill(child, GetParam());
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        GTEST_SKIP() << "the render ended before the signal arrived";
    }
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), GetParam()) << "the signal must still end the process";
    EXPECT_FALSE(fileExists(output));
    expectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(Terminating, RenderSignalTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                           SIGALRM, SIGPIPE, SIGVTALRM, SIGXCPU),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(RenderFilesTest, FileSizeLimitIsAnErrorNotASignal) {
    writeAudio(input_, makeSignal(44100, 2, 44100 * 4, 34));
    RunSetup setup;
    setup.fileSizeLimit = 256 * 1024;  // the float output needs about 1.4 MB
    const RunResult run = runToolWith(withDelay({input_, dir_.file("big.wav")}), setup);
    EXPECT_EQ(run.exitCode, 1) << "ended by signal " << run.exitCode - 128;
    EXPECT_NE(run.err.find("big.wav"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("too large"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(dir_.file("big.wav")));
    expectNoTemporaryFiles();
}

}  // namespace
}  // namespace tq::tooltest
