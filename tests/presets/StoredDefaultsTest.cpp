#include <gtest/gtest.h>

#include <filesystem>

#include "presets/FakeProgramHost.h"
#include "presets/StoredDefaults.h"
#include "support/TempConfig.h"

namespace {

using tq::StoredDefaults;
using tqtest::FakeProgramHost;
using tqtest::nameOf;
using tqtest::readBytes;
using tqtest::writeBytes;

class StoredDefaultsTest : public ::testing::Test {
  protected:
    tqtest::TempDirectory config;
    tqtest::ScopedEnvironment xdg{"XDG_CONFIG_HOME", config.path().c_str()};
    tqtest::MessageRecorder messages;
    std::string root() const { return config.path() + "/Tarvel/Tarvelquolt/"; }

    // A new instance: factory table, stored defaults loaded.
    void startInstance(FakeProgramHost& host) {
        StoredDefaults defaults(host);
        defaults.loadStoredDefaults();
    }
};

std::string workingDirectory() { return std::filesystem::current_path().string() + "/"; }

TEST_F(StoredDefaultsTest, WithoutStoredValuesOnlySlotZeroIsReapplied) {
    FakeProgramHost host;
    const tq::ProgramTable factory = host.table;
    StoredDefaults defaults(host);
    defaults.loadStoredDefaults();
    EXPECT_EQ(host.calls, std::vector<std::string>{"select 0"});
    EXPECT_TRUE(tqtest::sameTable(host.table, factory));
    EXPECT_EQ(defaults.locations().directory, workingDirectory());
    EXPECT_EQ(defaults.locations().presetFile, "");
    EXPECT_EQ(defaults.locations().bankFile, "");
}

TEST_F(StoredDefaultsTest, DefaultBankValueIsTheBankRecord) {
    FakeProgramHost host;
    StoredDefaults defaults(host);
    ASSERT_TRUE(defaults.storeDefaultBank());
    const tq::BankRecord record = tq::buildBankRecord(host.table);
    EXPECT_EQ(readBytes(root() + "DefaultBank"),
              std::vector<std::uint8_t>(record.begin(), record.end()));
}

TEST_F(StoredDefaultsTest, StoredBankThenPresetAreLoadedByANewInstance) {
    FakeProgramHost first;
    for (int slot = 0; slot < tq::kProgramCount; ++slot) {
        auto& program = first.table[static_cast<std::size_t>(slot)];
        tq::storeProgramName(program, ("Stored " + std::to_string(slot)).c_str());
        program.values[1] = 0.01f * static_cast<float>(slot);
    }
    {
        StoredDefaults defaults(first);
        ASSERT_TRUE(defaults.storeDefaultBank());
        first.current = 0;
        tq::storeProgramName(first.table[0], "Preset on top");
        first.table[0].values[2] = 0.77f;
        ASSERT_TRUE(defaults.storeDefaultPreset());
    }
    FakeProgramHost second;
    startInstance(second);
    // Bank: select 0, then select 0 again; preset: name, select 0.
    EXPECT_EQ(second.calls,
              (std::vector<std::string>{"select 0", "select 0", "name Preset on top", "select 0"}));
    for (int slot = 1; slot < tq::kProgramCount; ++slot) {
        const auto& program = second.table[static_cast<std::size_t>(slot)];
        EXPECT_EQ(nameOf(program), "Stored " + std::to_string(slot));
        EXPECT_EQ(program.values[1], 0.01f * static_cast<float>(slot));
    }
    EXPECT_EQ(nameOf(second.table[0]), "Preset on top");
    EXPECT_EQ(second.table[0].values[2], 0.77f);
    EXPECT_EQ(second.table[0].values[1], 0.0f) << "slot 0 of the bank under the preset";
}

TEST_F(StoredDefaultsTest, ClearedDefaultsAreNotLoaded) {
    FakeProgramHost first;
    tq::storeProgramName(first.table[0], "Cleared");
    {
        StoredDefaults defaults(first);
        ASSERT_TRUE(defaults.storeDefaultPreset());
        ASSERT_TRUE(defaults.storeDefaultBank());
        EXPECT_TRUE(defaults.clearDefaultPreset());
        EXPECT_TRUE(defaults.clearDefaultBank());
        EXPECT_FALSE(std::filesystem::exists(root() + "DefaultPreset"));
        EXPECT_FALSE(std::filesystem::exists(root() + "DefaultBank"));
    }
    FakeProgramHost second;
    startInstance(second);
    EXPECT_EQ(nameOf(second.table[0]), "Current");
}

TEST_F(StoredDefaultsTest, ClearingWhatIsNotStoredDoesNothing) {
    FakeProgramHost host;
    StoredDefaults defaults(host);
    EXPECT_TRUE(defaults.clearDefaultPreset());
    EXPECT_TRUE(defaults.clearDefaultBank());
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(StoredDefaultsTest, ShortStoredPresetIsIgnored) {
    FakeProgramHost first;
    tq::storeProgramName(first.table[0], "Torn");
    const tq::PresetRecord record = tq::buildPresetRecord(first);
    std::filesystem::create_directories(root());
    writeBytes(root() + "DefaultPreset", record.data(), 100);
    FakeProgramHost second;
    startInstance(second);
    EXPECT_EQ(nameOf(second.table[0]), "Current");
    EXPECT_EQ(second.calls, std::vector<std::string>{"select 0"});
}

TEST_F(StoredDefaultsTest, OverLongStoredBankLoadsItsFirstRecord) {
    FakeProgramHost first;
    tq::storeProgramName(first.table[9], "Long");
    const tq::BankRecord record = tq::buildBankRecord(first.table);
    std::vector<std::uint8_t> bytes(record.begin(), record.end());
    bytes.resize(4000, 0xFF);
    std::filesystem::create_directories(root());
    writeBytes(root() + "DefaultBank", bytes);
    FakeProgramHost second;
    startInstance(second);
    EXPECT_EQ(nameOf(second.table[9]), "Long");
}

TEST_F(StoredDefaultsTest, MemoryRecallRestoresNameAndValues) {
    FakeProgramHost host;
    host.current = 8;
    StoredDefaults defaults(host);
    ASSERT_TRUE(defaults.storeMemory(StoredDefaults::Memory::a));
    const tq::ProgramRecord stored = host.table[8];
    host.table[8].values[1] = 0.99f;
    tq::storeProgramName(host.table[8], "changed");
    ASSERT_TRUE(defaults.recallMemory(StoredDefaults::Memory::a));
    EXPECT_EQ(std::memcmp(&host.table[8], &stored, sizeof stored), 0);
    EXPECT_EQ(nameOf(host.table[0]), "CD Master 1");
    EXPECT_EQ(host.calls.back(), "select 8");
}

TEST_F(StoredDefaultsTest, MemoriesAreIndependent) {
    FakeProgramHost host;
    StoredDefaults defaults(host);
    host.current = 1;
    ASSERT_TRUE(defaults.storeMemory(StoredDefaults::Memory::a));
    host.current = 2;
    ASSERT_TRUE(defaults.storeMemory(StoredDefaults::Memory::b));
    host.current = 5;
    ASSERT_TRUE(defaults.recallMemory(StoredDefaults::Memory::a));
    EXPECT_EQ(nameOf(host.table[5]), "Limiter Smooth");
    ASSERT_TRUE(defaults.recallMemory(StoredDefaults::Memory::b));
    EXPECT_EQ(nameOf(host.table[5]), "Limiter Gentle");
    EXPECT_EQ(readBytes(root() + "MemoA").size(), 133u);
}

TEST_F(StoredDefaultsTest, RecallingAnEmptyMemoryChangesNothing) {
    FakeProgramHost host;
    const tq::ProgramTable before = host.table;
    StoredDefaults defaults(host);
    EXPECT_FALSE(defaults.recallMemory(StoredDefaults::Memory::b));
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(StoredDefaultsTest, LocationsAreSavedOnDestructionAndLoadedByTheNextInstance) {
    {
        FakeProgramHost host;
        StoredDefaults defaults(host);
        defaults.loadStoredDefaults();
        defaults.savePresetFile(config / "a.tarvel");
        defaults.saveBankFile(config / "b");
    }
    const auto dirBytes = readBytes(root() + "CurrDir");
    EXPECT_EQ(std::string(dirBytes.begin(), dirBytes.end()), config.path() + "/");
    const auto bankBytes = readBytes(root() + "CurrBank");
    EXPECT_EQ(std::string(bankBytes.begin(), bankBytes.end()), "b.tvb");
    FakeProgramHost host;
    StoredDefaults defaults(host);
    defaults.loadStoredDefaults();
    EXPECT_EQ(defaults.locations().directory, config.path() + "/");
    EXPECT_EQ(defaults.locations().presetFile, "a.tarvel");
    EXPECT_EQ(defaults.locations().bankFile, "b.tvb");
}

TEST_F(StoredDefaultsTest, OverLongOrMissingLocationKeepsTheInitialOne) {
    std::filesystem::create_directories(root());
    const std::string longDirectory(1024, 'd');
    writeBytes(root() + "CurrDir", longDirectory.data(), longDirectory.size());
    writeBytes(root() + "CurrPreset", "p.tarvel", 8);
    FakeProgramHost host;
    StoredDefaults defaults(host);
    defaults.loadStoredDefaults();
    EXPECT_EQ(defaults.locations().directory, workingDirectory());
    EXPECT_EQ(defaults.locations().presetFile, "p.tarvel");
    EXPECT_EQ(defaults.locations().bankFile, "");
}

TEST_F(StoredDefaultsTest, StoreFailureIsSilentAndAnswered) {
    const std::string file = config / "plain-file";
    writeBytes(file, "x", 1);
    tqtest::ScopedEnvironment blocked("XDG_CONFIG_HOME", file.c_str());
    FakeProgramHost host;
    StoredDefaults defaults(host);
    EXPECT_FALSE(defaults.storeDefaultBank());
    EXPECT_FALSE(defaults.storeMemory(StoredDefaults::Memory::a));
    defaults.loadStoredDefaults();
    EXPECT_EQ(host.calls, std::vector<std::string>{"select 0"});
    EXPECT_TRUE(messages.messages.empty());
}

}  // namespace
