#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "platform/UserStore.h"
#include "support/TempConfig.h"

namespace {

using tq::UserStore;
using tqtest::readBytes;
using tqtest::writeBytes;

class UserStoreTest : public ::testing::Test {
  protected:
    tqtest::TempDirectory config;
    tqtest::ScopedEnvironment xdg{"XDG_CONFIG_HOME", config.path().c_str()};
    std::string root() const { return config.path() + "/Tarvel/Tarvelquolt/"; }
};

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

std::vector<std::string> directoryEntries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// --- where the store lives ---

TEST_F(UserStoreTest, RootFollowsXdgConfigHome) {
    EXPECT_EQ(UserStore::rootDirectory(), root());
    EXPECT_EQ(UserStore().directory(), root());
    EXPECT_EQ(UserStore("PREFS").directory(), root() + "PREFS/");
}

TEST_F(UserStoreTest, RootFallsBackToHomeWhenXdgIsEmptyUnsetOrRelative) {
    tqtest::ScopedEnvironment home("HOME", "/home/someone");
    {
        tqtest::ScopedEnvironment empty("XDG_CONFIG_HOME", "");
        EXPECT_EQ(UserStore::rootDirectory(), "/home/someone/.config/Tarvel/Tarvelquolt/");
    }
    {
        tqtest::ScopedEnvironment unset("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(UserStore::rootDirectory(), "/home/someone/.config/Tarvel/Tarvelquolt/");
    }
    {
        tqtest::ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(UserStore::rootDirectory(), "/home/someone/.config/Tarvel/Tarvelquolt/");
    }
}

TEST_F(UserStoreTest, TrailingSlashInXdgIsNotDoubled) {
    tqtest::ScopedEnvironment slash("XDG_CONFIG_HOME", (config.path() + "/").c_str());
    EXPECT_EQ(UserStore::rootDirectory(), root());
}

TEST_F(UserStoreTest, SubKeyThatIsNotAPlainNameHasNoDirectory) {
    EXPECT_TRUE(UserStore("../escape").directory().empty());
    EXPECT_FALSE(UserStore("..").writeInt32("x", 1));
    EXPECT_FALSE(UserStore().writeInt32("../x", 1));
    EXPECT_FALSE(UserStore().writeInt32("", 1));
}

// --- file layout ---

TEST_F(UserStoreTest, BinaryValueIsOneFileOfRawBytes) {
    const auto bytes = pattern(133, 3);
    ASSERT_TRUE(UserStore().writeRecord("MemoA", bytes.data(), bytes.size()));
    EXPECT_EQ(readBytes(root() + "MemoA"), bytes);
}

TEST_F(UserStoreTest, StringValueHasNoTerminator) {
    ASSERT_TRUE(UserStore().writeString("CurrDir", "/music/presets/"));
    const auto bytes = readBytes(root() + "CurrDir");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "/music/presets/");
}

TEST_F(UserStoreTest, IntegerValueIsFourBytesLittleEndian) {
    ASSERT_TRUE(UserStore("PREFS").writeInt32("Metering_Type", 0x04030201));
    EXPECT_EQ(readBytes(root() + "PREFS/Metering_Type"),
              (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04}));
    ASSERT_TRUE(UserStore("PREFS").writeInt32("Metering_Post", -2));
    EXPECT_EQ(readBytes(root() + "PREFS/Metering_Post"),
              (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(UserStoreTest, WritingLeavesNoTemporaryFiles) {
    const auto bytes = pattern(3077, 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(UserStore().writeRecord("DefaultBank", bytes.data(), 3077));
    EXPECT_EQ(directoryEntries(root()), std::vector<std::string>{"DefaultBank"});
}

TEST_F(UserStoreTest, NewValueFileGetsUmaskModeAndReplacedFileKeepsItsMode) {
    const mode_t old = ::umask(022);
    ASSERT_TRUE(UserStore().writeString("CurrBank", "a.tvb"));
    struct stat info {};
    ASSERT_EQ(::stat((root() + "CurrBank").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ASSERT_EQ(::chmod((root() + "CurrBank").c_str(), 0600), 0);
    ASSERT_TRUE(UserStore().writeString("CurrBank", "b.tvb"));
    ASSERT_EQ(::stat((root() + "CurrBank").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ::umask(old);
}

TEST_F(UserStoreTest, SymbolicLinkValueIsFollowedAndStaysALink) {
    ASSERT_TRUE(UserStore().createKey());
    const std::string target = config / "elsewhere";
    writeBytes(target, "old", 3);
    ASSERT_EQ(::symlink(target.c_str(), (root() + "CurrPreset").c_str()), 0);
    ASSERT_TRUE(UserStore().writeString("CurrPreset", "new.tarvel"));
    EXPECT_TRUE(std::filesystem::is_symlink(root() + "CurrPreset"));
    EXPECT_EQ(UserStore().readString("CurrPreset", 512), "new.tarvel");
}

TEST_F(UserStoreTest, ValuesThatAreNotRegularFilesAreNeverReplaced) {
    ASSERT_TRUE(UserStore().createKey());
    // A FIFO named as the value, and values linked to a FIFO, a directory and nothing.
    const std::string fifo = config / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((root() + "MemoA").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.c_str(), (root() + "CurrDir").c_str()), 0);
    const std::string folder = config / "folder";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::symlink(folder.c_str(), (root() + "CurrBank").c_str()), 0);
    ASSERT_EQ(::symlink((config / "absent").c_str(), (root() + "CurrPreset").c_str()), 0);

    EXPECT_FALSE(UserStore().writeString("MemoA", "x"));
    EXPECT_FALSE(UserStore().writeString("CurrDir", "/somewhere"));
    EXPECT_FALSE(UserStore().writeString("CurrBank", "b.tvb"));
    EXPECT_FALSE(UserStore().writeString("CurrPreset", "p.tarvel"));

    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_fifo(root() + "MemoA"));
    EXPECT_TRUE(std::filesystem::is_symlink(root() + "CurrDir"));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_TRUE(std::filesystem::is_symlink(root() + "CurrPreset"));
    EXPECT_FALSE(std::filesystem::exists(config / "absent"));
    // Nothing half-made is left beside the values either.
    for (const auto& name : directoryEntries(root())) EXPECT_NE(name.front(), '.') << name;
}

// --- reading ---

TEST_F(UserStoreTest, RecordRoundTrip) {
    const auto bytes = pattern(3077, 9);
    ASSERT_TRUE(UserStore().writeRecord("DefaultBank", bytes.data(), bytes.size()));
    std::vector<std::uint8_t> read(3077, 0xAA);
    EXPECT_TRUE(UserStore().readRecord("DefaultBank", read.data(), read.size()));
    EXPECT_EQ(read, bytes);
}

TEST_F(UserStoreTest, MissingRecordReadsAsZeros) {
    std::vector<std::uint8_t> read(133, 0xAA);
    EXPECT_FALSE(UserStore().readRecord("MemoB", read.data(), read.size()));
    EXPECT_EQ(read, std::vector<std::uint8_t>(133, 0));
}

TEST_F(UserStoreTest, ShortRecordReadsAsMissing) {
    const auto bytes = pattern(132, 5);
    ASSERT_TRUE(UserStore().writeRecord("MemoA", bytes.data(), bytes.size()));
    std::vector<std::uint8_t> read(133, 0xAA);
    EXPECT_FALSE(UserStore().readRecord("MemoA", read.data(), read.size()));
    EXPECT_EQ(read, std::vector<std::uint8_t>(133, 0));
}

TEST_F(UserStoreTest, LongRecordIsReadToTheRecordSizeOnly) {
    const auto bytes = pattern(500, 5);
    ASSERT_TRUE(UserStore().writeRecord("MemoA", bytes.data(), bytes.size()));
    std::vector<std::uint8_t> read(134, 0xAA);
    EXPECT_TRUE(UserStore().readRecord("MemoA", read.data(), 133));
    EXPECT_TRUE(std::equal(read.begin(), read.begin() + 133, bytes.begin()));
    EXPECT_EQ(read[133], 0xAA) << "read past the record size";
}

TEST_F(UserStoreTest, DirectoryValueReadsAsMissing) {
    std::filesystem::create_directories(root() + "MemoA");
    std::vector<std::uint8_t> read(133, 0xAA);
    EXPECT_FALSE(UserStore().readRecord("MemoA", read.data(), read.size()));
    EXPECT_EQ(read, std::vector<std::uint8_t>(133, 0));
    EXPECT_FALSE(UserStore().readString("MemoA", 512));
    EXPECT_FALSE(UserStore().readInt32("MemoA"));
}

TEST_F(UserStoreTest, FifoValueReadsAsMissingWithoutWaitingForAWriter) {
    ASSERT_TRUE(UserStore().createKey());
    ASSERT_EQ(::mkfifo((root() + "MemoA").c_str(), 0600), 0);
    std::vector<std::uint8_t> read(133, 0xAA);
    EXPECT_FALSE(UserStore().readRecord("MemoA", read.data(), read.size()));
}

TEST_F(UserStoreTest, StringLimitsIncludeTheTerminator) {
    ASSERT_TRUE(UserStore().writeString("CurrBank", std::string(511, 'b')));
    EXPECT_EQ(UserStore().readString("CurrBank", 512), std::string(511, 'b'));
    ASSERT_TRUE(UserStore().writeString("CurrBank", std::string(512, 'b')));
    EXPECT_FALSE(UserStore().readString("CurrBank", 512)) << "over-long text must not be cut";
    EXPECT_FALSE(UserStore().readString("NoSuchValue", 512));
}

TEST_F(UserStoreTest, StringEndsAtItsFirstZeroByte) {
    ASSERT_TRUE(UserStore().writeRecord("CurrPreset", "abc\0def", 7));
    EXPECT_EQ(UserStore().readString("CurrPreset", 512), "abc");
    ASSERT_TRUE(UserStore().writeString("CurrPreset", ""));
    EXPECT_EQ(UserStore().readString("CurrPreset", 512), "");
}

TEST_F(UserStoreTest, IntegerMustBeExactlyFourBytes) {
    const UserStore prefs("PREFS");
    ASSERT_TRUE(prefs.writeInt32("Metering_Scale", -7));
    EXPECT_EQ(prefs.readInt32("Metering_Scale"), -7);
    ASSERT_TRUE(prefs.writeRecord("Metering_Scale", "\x01\x00\x00", 3));
    EXPECT_FALSE(prefs.readInt32("Metering_Scale"));
    ASSERT_TRUE(prefs.writeRecord("Metering_Scale", "\x01\x00\x00\x00\x00", 5));
    EXPECT_FALSE(prefs.readInt32("Metering_Scale"));
    EXPECT_FALSE(prefs.readInt32("Metering_Type"));
}

// --- deleting ---

TEST_F(UserStoreTest, DeleteRemovesTheValueAndAMissingValueIsFine) {
    EXPECT_TRUE(UserStore().deleteValue("DefaultPreset"));
    ASSERT_TRUE(UserStore().writeString("DefaultPreset", "x"));
    EXPECT_TRUE(UserStore().deleteValue("DefaultPreset"));
    EXPECT_FALSE(std::filesystem::exists(root() + "DefaultPreset"));
    EXPECT_TRUE(UserStore().deleteValue("DefaultPreset"));
}

// --- failures ---

TEST_F(UserStoreTest, WriteFailsWhenTheRootCannotBeCreated) {
    const std::string file = config / "plain-file";
    writeBytes(file, "x", 1);
    tqtest::ScopedEnvironment blocked("XDG_CONFIG_HOME", file.c_str());
    EXPECT_FALSE(UserStore().createKey());
    EXPECT_FALSE(UserStore().writeString("CurrDir", "/x/"));
    EXPECT_FALSE(UserStore("PREFS").writeInt32("Metering_Type", 1));
    std::vector<std::uint8_t> read(133, 0xAA);
    EXPECT_FALSE(UserStore().readRecord("MemoA", read.data(), read.size()));
}

TEST_F(UserStoreTest, FailedReplaceLeavesNoTemporaryFile) {
    // A directory where the value should be: the rename cannot replace it.
    std::filesystem::create_directories(root() + "MemoA");
    const auto bytes = pattern(133, 1);
    EXPECT_FALSE(UserStore().writeRecord("MemoA", bytes.data(), bytes.size()));
    EXPECT_EQ(directoryEntries(root()), std::vector<std::string>{"MemoA"});
    EXPECT_TRUE(std::filesystem::is_directory(root() + "MemoA"));
}

TEST_F(UserStoreTest, WriteThatRunsOutOfSpaceKeepsTheOldValue) {
    const auto oldBytes = pattern(3077, 1);
    ASSERT_TRUE(UserStore().writeRecord("DefaultBank", oldBytes.data(), oldBytes.size()));
    const int status = tqtest::runWithFileSizeLimit(1000, [] {
        const auto newBytes = pattern(3077, 2);
        return UserStore().writeRecord("DefaultBank", newBytes.data(), newBytes.size()) ? 1 : 0;
    });
    EXPECT_EQ(status, 0) << "a write cut short by the file size limit answered success";
    EXPECT_EQ(readBytes(root() + "DefaultBank"), oldBytes);
    EXPECT_EQ(directoryEntries(root()), std::vector<std::string>{"DefaultBank"});
}

// --- two processes at once ---

TEST_F(UserStoreTest, ConcurrentWritersNeverLeaveATornRecord) {
    constexpr std::size_t kSize = 3077;
    constexpr int kWrites = 300;
    const auto first = std::vector<std::uint8_t>(kSize, 'A');
    const auto second = std::vector<std::uint8_t>(kSize, 'B');
    ASSERT_TRUE(UserStore().writeRecord("DefaultBank", first.data(), kSize));

    std::array<pid_t, 2> writers{};
    for (int w = 0; w < 2; ++w) {
        writers[static_cast<std::size_t>(w)] = ::fork();
        if (writers[static_cast<std::size_t>(w)] == 0) {
            const auto& bytes = w == 0 ? first : second;
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                if (!UserStore().writeRecord("DefaultBank", bytes.data(), kSize)) ++failures;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    // Read while both write: every read must see one whole record.
    int torn = 0;
    int missing = 0;
    std::vector<std::uint8_t> read(kSize);
    for (int i = 0; i < 2 * kWrites; ++i) {
        if (!UserStore().readRecord("DefaultBank", read.data(), kSize)) {
            ++missing;
            continue;
        }
        if (read != first && read != second) ++torn;
    }
    for (const pid_t writer : writers) {
        int status = 0;
        ::waitpid(writer, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(missing, 0);
    const auto final = readBytes(root() + "DefaultBank");
    EXPECT_TRUE(final == first || final == second);
    EXPECT_EQ(directoryEntries(root()), std::vector<std::string>{"DefaultBank"});
}

}  // namespace
