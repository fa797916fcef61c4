#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "presets/FakeProgramHost.h"
#include "presets/PresetFile.h"
#include "support/TempConfig.h"

namespace {

using tq::FileOutcome;
using tqtest::FakeProgramHost;
using tqtest::nameOf;
using tqtest::readBytes;
using tqtest::writeBytes;

class PresetFileTest : public ::testing::Test {
  protected:
    tqtest::TempDirectory dir;
    tqtest::MessageRecorder messages;
    FakeProgramHost host;
    tq::FileLocations locations;
};

std::string currentDirectory() { return std::filesystem::current_path().string(); }

// --- paths ---

TEST(PresetFilePath, SplitKeepsTheSlashWithTheDirectory) {
    const auto split = tq::splitPath("/home/u/presets/loud.tarvel");
    ASSERT_TRUE(split);
    EXPECT_EQ(split->directory, "/home/u/presets/");
    EXPECT_EQ(split->fileName, "loud.tarvel");
    EXPECT_FALSE(tq::splitPath(""));
    EXPECT_FALSE(tq::splitPath("loud.tarvel"));
    EXPECT_EQ(tq::splitPath("/x/")->fileName, "");
}

TEST(PresetFilePath, ExtensionIsAddedOnlyToANameWithoutOne) {
    EXPECT_EQ(tq::withDefaultExtension("/a/loud", "tarvel"), "/a/loud.tarvel");
    EXPECT_EQ(tq::withDefaultExtension("/a/loud.tarvel", "tarvel"), "/a/loud.tarvel");
    EXPECT_EQ(tq::withDefaultExtension("/a/loud.bin", "tvb"), "/a/loud.bin");
    EXPECT_EQ(tq::withDefaultExtension("/a.b/loud", "tvb"), "/a.b/loud.tvb");
    EXPECT_EQ(tq::withDefaultExtension("/a/.hidden", "tvb"), "/a/.hidden.tvb");
    EXPECT_EQ(tq::withDefaultExtension("/a/", "tvb"), "/a/");
}

TEST(PresetFileDialog, TitlesNameTheOperation) {
    using tq::RecordKind;
    EXPECT_EQ(tq::fileDialogTitle(RecordKind::preset, true, false), "Load preset");
    EXPECT_EQ(tq::fileDialogTitle(RecordKind::preset, true, true), "Load preset (endian-reversed)");
    EXPECT_EQ(tq::fileDialogTitle(RecordKind::preset, false, true), "Save preset");
    EXPECT_EQ(tq::fileDialogTitle(RecordKind::bank, true, true), "Load bank (endian-reversed)");
    EXPECT_EQ(tq::fileDialogTitle(RecordKind::bank, false, false), "Save bank");
}

// --- saving and loading ---

TEST_F(PresetFileTest, SavedPresetIsTheRecordAndRemembersTheLocation) {
    const std::string cwd = currentDirectory();
    const tq::FileResult result = tq::savePresetFile(host, dir / "first", &locations);
    EXPECT_EQ(result.outcome, FileOutcome::saved);
    const auto bytes = readBytes(dir / "first.tarvel");
    const tq::PresetRecord record = tq::buildPresetRecord(host);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(record.begin(), record.end()));
    EXPECT_EQ(locations.directory, dir.path() + "/");
    EXPECT_EQ(locations.presetFile, "first.tarvel");
    EXPECT_EQ(locations.bankFile, "");
    EXPECT_EQ(currentDirectory(), cwd) << "the host's current directory must not change";
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(PresetFileTest, PresetRoundTripThroughAFile) {
    host.current = 21;
    host.table[21].values[2] = 0.123f;
    ASSERT_EQ(tq::savePresetFile(host, dir / "love.tarvel").outcome, FileOutcome::saved);
    FakeProgramHost other;
    other.current = 3;
    const tq::FileResult result = tq::loadPresetFile(other, dir / "love.tarvel", false, &locations);
    EXPECT_EQ(result.outcome, FileOutcome::loaded);
    EXPECT_EQ(nameOf(other.table[3]), "Loud Love");
    EXPECT_EQ(other.table[3].values[2], 0.123f);
    EXPECT_EQ(other.calls, (std::vector<std::string>{"name Loud Love", "select 3"}));
    EXPECT_EQ(locations.presetFile, "love.tarvel");
}

TEST_F(PresetFileTest, BankRoundTripThroughAFile) {
    tq::storeProgramName(host.table[17], "Renamed");
    host.table[23].values[0] = 0.5f;
    ASSERT_EQ(tq::saveBankFile(host, dir / "all", &locations).outcome, FileOutcome::saved);
    EXPECT_EQ(locations.bankFile, "all.tvb");
    EXPECT_EQ(readBytes(dir / "all.tvb").size(), 3077u);
    FakeProgramHost other;
    ASSERT_EQ(tq::loadBankFile(other, dir / "all.tvb", false).outcome, FileOutcome::loaded);
    EXPECT_TRUE(tqtest::sameTable(other.table, host.table));
}

TEST_F(PresetFileTest, SaveReplacesAnExistingFile) {
    writeBytes(dir / "old.tarvel", std::vector<std::uint8_t>(500, 0xEE));
    ASSERT_EQ(tq::savePresetFile(host, dir / "old.tarvel").outcome, FileOutcome::saved);
    EXPECT_EQ(readBytes(dir / "old.tarvel").size(), 133u);
}

TEST_F(PresetFileTest, LongerFileLoadsLikeItsFirstRecord) {
    auto bytes = readBytes((tq::savePresetFile(host, dir / "p.tarvel"), dir / "p.tarvel"));
    host.table[0].values[1] = 0.9f;  // differs from the file
    bytes.push_back('!');
    writeBytes(dir / "long.tarvel", bytes);
    ASSERT_EQ(tq::loadPresetFile(host, dir / "long.tarvel", false).outcome, FileOutcome::loaded);
    EXPECT_EQ(host.table[0].values[1], 0.5f);
}

TEST_F(PresetFileTest, TruncatedFilePadsTheMissingValuesWithZeros) {
    tq::savePresetFile(host, dir / "p.tarvel");
    auto bytes = readBytes(dir / "p.tarvel");
    bytes.resize(29 + 8);  // name and two values
    writeBytes(dir / "short.tarvel", bytes);
    ASSERT_EQ(tq::loadPresetFile(host, dir / "short.tarvel", false).outcome, FileOutcome::loaded);
    EXPECT_EQ(host.table[0].values[0], 1.0f);
    EXPECT_EQ(host.table[0].values[1], 0.5f);
    EXPECT_EQ(host.table[0].values[2], 0.0f);
    EXPECT_EQ(host.table[0].values[25], 0.0f);
}

TEST_F(PresetFileTest, FileShorterThanTheMagicIsRefused) {
    writeBytes(dir / "tiny.tarvel", "lqR", 3);
    const tq::ProgramTable before = host.table;
    EXPECT_EQ(tq::loadPresetFile(host, dir / "tiny.tarvel", false).outcome, FileOutcome::refused);
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(PresetFileTest, MissingFileIsRefusedSilently) {
    const tq::ProgramTable before = host.table;
    const tq::FileResult result = tq::loadPresetFile(host, dir / "none.tarvel", false, &locations);
    EXPECT_EQ(result.outcome, FileOutcome::refused);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
    EXPECT_TRUE(messages.messages.empty()) << "loading is silent";
    EXPECT_EQ(locations.presetFile, "none.tarvel") << "the dialog's choice is remembered";
}

TEST_F(PresetFileTest, MissingBankStillReappliesSlotZero) {
    host.current = 6;
    EXPECT_EQ(tq::loadBankFile(host, dir / "none.tvb", false).outcome, FileOutcome::refused);
    EXPECT_EQ(host.calls, std::vector<std::string>{"select 0"});
}

TEST_F(PresetFileTest, DirectoryGivenAsFileIsRefused) {
    std::filesystem::create_directories(dir / "folder.tarvel");
    EXPECT_EQ(tq::loadPresetFile(host, dir / "folder.tarvel", false).outcome, FileOutcome::refused);
}

TEST_F(PresetFileTest, BankFileGivenToLoadPresetIsRefused) {
    tq::saveBankFile(host, dir / "b.tvb");
    const tq::ProgramTable before = host.table;
    EXPECT_EQ(tq::loadPresetFile(host, dir / "b.tvb", false).outcome, FileOutcome::refused);
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
}

TEST_F(PresetFileTest, CancelledDialogDoesNothing) {
    locations.directory = "/kept/";
    EXPECT_EQ(tq::loadPresetFile(host, "", false, &locations).outcome, FileOutcome::cancelled);
    EXPECT_EQ(tq::loadBankFile(host, "name-only.tvb", false, &locations).outcome,
              FileOutcome::cancelled);
    EXPECT_EQ(tq::savePresetFile(host, "", &locations).outcome, FileOutcome::cancelled);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(locations.directory, "/kept/");
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(PresetFileTest, ReadOnlyFileLoadsForAnUnprivilegedUser) {
    // Opening for reading and writing would refuse a file the user may only read. Root
    // may write anything, so the load runs in a child that gives up root.
    tq::savePresetFile(host, dir / "ro.tarvel");
    ASSERT_EQ(::chmod((dir / "ro.tarvel").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string path = dir / "ro.tarvel";
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
            if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
        }
        FakeProgramHost reader;
        reader.current = 1;
        const bool loaded = tq::loadPresetFile(reader, path, false).outcome == FileOutcome::loaded;
        ::_exit(loaded && nameOf(reader.table[1]) == "Current" ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2) << "could not drop privileges";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a read-only preset file was not loaded";
}

// --- failed saves ---

TEST_F(PresetFileTest, SaveIntoMissingDirectoryFailsAndSaysWhy) {
    const std::string path = dir / "no-such-dir/p.tarvel";
    const tq::FileResult result = tq::savePresetFile(host, path);
    EXPECT_EQ(result.outcome, FileOutcome::failed);
    EXPECT_EQ(result.reason, "No such file or directory");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, "Error...");
    EXPECT_NE(messages.messages[0].text.find(path), std::string::npos) << messages.messages[0].text;
    EXPECT_NE(messages.messages[0].text.find("No such file or directory"), std::string::npos);
}

TEST_F(PresetFileTest, SaveBelowARegularFileFails) {
    writeBytes(dir / "plain", "x", 1);
    const tq::FileResult result = tq::saveBankFile(host, dir / "plain/b.tvb");
    EXPECT_EQ(result.outcome, FileOutcome::failed);
    EXPECT_EQ(result.reason, "Not a directory");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_NE(messages.messages[0].text.find("b.tvb"), std::string::npos);
}

TEST_F(PresetFileTest, SaveWithoutFileNameFails) {
    EXPECT_EQ(tq::savePresetFile(host, dir.path() + "/").outcome, FileOutcome::failed);
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST_F(PresetFileTest, SaveThatRunsOutOfSpaceKeepsTheExistingFile) {
    const std::vector<std::uint8_t> old(3077, 0x5A);
    writeBytes(dir / "keep.tvb", old);
    const std::string path = dir / "keep.tvb";
    const int status = tqtest::runWithFileSizeLimit(1000, [&] {
        tqtest::MessageRecorder childMessages;
        FakeProgramHost saver;
        const tq::FileResult result = tq::saveBankFile(saver, path);
        if (result.outcome != FileOutcome::failed) return 1;
        if (childMessages.messages.size() != 1) return 2;
        return 0;
    });
    EXPECT_EQ(status, 0) << "1: the failed save looked like success, 2: no message";
    EXPECT_EQ(readBytes(path), old);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"keep.tvb"}) << "temporary file left behind";
}

}  // namespace
