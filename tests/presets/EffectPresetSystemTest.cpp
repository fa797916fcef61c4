// The preset system wired into the real effect: construction order of the metering
// preferences and the stored defaults, memories and files through the parameter chain.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>

#include "effect/ParameterModel.h"
#include "effect/Plugin.h"
#include "platform/UserStore.h"
#include "presets/FakeProgramHost.h"
#include "presets/PresetFile.h"
#include "presets/StoredDefaults.h"
#include "support/TempConfig.h"

namespace {

using tqtest::nameOf;
using tqtest::readBytes;

vst::intptr hostCallback(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

constexpr int kMeterType = 18;

class EffectPresetSystemTest : public ::testing::Test {
  protected:
    tqtest::TempDirectory config;
    tqtest::TempDirectory files;
    tqtest::ScopedEnvironment xdg{"XDG_CONFIG_HOME", config.path().c_str()};
    tqtest::MessageRecorder messages;
    std::string root() const { return config.path() + "/Tarvel/Tarvelquolt/"; }

    // Stores a default bank: the factory table with slot 0 renamed.
    void storeBank(const char* slotZeroName) {
        tqtest::FakeProgramHost host;
        tq::storeProgramName(host.table[0], slotZeroName);
        tq::StoredDefaults(host).storeDefaultBank();
    }
};

TEST_F(EffectPresetSystemTest, WithoutStoredValuesTheFactorySlotZeroApplies) {
    Plugin plugin(hostCallback);
    EXPECT_EQ(plugin.currentSlot(), 0);
    EXPECT_EQ(plugin.getParameter(kMeterType), 0.25f);
    EXPECT_EQ(nameOf(plugin.programs()[0]), "Current");
    EXPECT_EQ(plugin.storedDefaults().locations().bankFile, "");
}

TEST_F(EffectPresetSystemTest, MeteringPreferenceSurvivesIntoSlotZero) {
    ASSERT_TRUE(tq::UserStore("PREFS").writeInt32("Metering_Type", 1));
    Plugin plugin(hostCallback);
    EXPECT_EQ(plugin.getParameter(kMeterType), 0.75f);
    EXPECT_EQ(plugin.programs()[0].values[kMeterType], 0.75f);
    EXPECT_EQ(plugin.getParameter(9), 0.165f) << "other metering values unchanged";
}

TEST_F(EffectPresetSystemTest, StoredBankIsLoadedAfterTheMeteringPreferences) {
    // Preferences first (step 15), then the default bank replaces slot 0 (step 17).
    ASSERT_TRUE(tq::UserStore("PREFS").writeInt32("Metering_Type", 1));
    storeBank("From bank");
    Plugin plugin(hostCallback);
    EXPECT_EQ(nameOf(plugin.programs()[0]), "From bank");
    EXPECT_EQ(plugin.getParameter(kMeterType), 0.25f);
}

TEST_F(EffectPresetSystemTest, StoredPresetGoesOnTopOfTheBank) {
    storeBank("From bank");
    {
        tqtest::FakeProgramHost host;
        host.current = 13;  // "TV Limiter": MeterType k-system
        tq::StoredDefaults(host).storeDefaultPreset();
    }
    Plugin plugin(hostCallback);
    EXPECT_EQ(nameOf(plugin.programs()[0]), "TV Limiter");
    EXPECT_EQ(plugin.getParameter(kMeterType), 0.75f);
    EXPECT_EQ(plugin.getParameter(0), 0.166667f);
}

TEST_F(EffectPresetSystemTest, MemoryRecallAppliesTheValuesToTheEngine) {
    Plugin plugin(hostCallback);
    plugin.selectSlot(5);
    ASSERT_TRUE(plugin.storedDefaults().storeMemory(tq::StoredDefaults::Memory::a));
    plugin.setParameter(1, 0.9f);
    ASSERT_EQ(plugin.getParameter(1), 0.9f);
    ASSERT_TRUE(plugin.storedDefaults().recallMemory(tq::StoredDefaults::Memory::a));
    EXPECT_EQ(plugin.getParameter(1), 0.604167f);
    EXPECT_EQ(plugin.programs()[5].values[1], 0.604167f);
    EXPECT_EQ(plugin.programs()[0].values[1], 0.604167f);
    char name[32] = {};
    plugin.getProgramName(name);
    EXPECT_STREQ(name, "Loudness 1");
}

TEST_F(EffectPresetSystemTest, PresetFileRoundTripThroughTheEffect) {
    Plugin source(hostCallback);
    source.selectSlot(23);
    source.setCurrentName("Total Disorder");
    ASSERT_EQ(source.storedDefaults().savePresetFile(files / "td").outcome, tq::FileOutcome::saved);
    Plugin target(hostCallback);
    ASSERT_EQ(target.storedDefaults().loadPresetFile(files / "td.tarvel", false).outcome,
              tq::FileOutcome::loaded);
    EXPECT_EQ(target.getParameter(5), 0.0f);
    EXPECT_EQ(target.getParameter(1), 0.75f);
    EXPECT_EQ(nameOf(target.programs()[0]), "Total Disorder");
}

TEST_F(EffectPresetSystemTest, OldValueSetIsConvertedOnLoading) {
    tqtest::FakeProgramHost host;
    host.table[0].values[10] = 0.375f;  // old Bits: step 1 of 4, 8 bits
    host.table[0].values[25] = 0.0f;    // no layout marker
    const tq::PresetRecord record = tq::buildPresetRecord(host);
    tqtest::writeBytes(files / "old.tarvel", record.data(), record.size());
    Plugin plugin(hostCallback);
    ASSERT_EQ(plugin.storedDefaults().loadPresetFile(files / "old.tarvel", false).outcome,
              tq::FileOutcome::loaded);
    EXPECT_EQ(plugin.getParameter(16), 0.75f) << "Quantize on";
    EXPECT_EQ(plugin.getParameter(10), 0.5f / 3.0f) << "Bits: 8";
}

TEST_F(EffectPresetSystemTest, ConvertedOldValueSetStaysConvertedWhenReselected) {
    tqtest::FakeProgramHost host;
    host.table[0].values[10] = 0.3f;   // old Bits: step 1 of 4, 8 bits
    host.table[0].values[9] = 0.8f;    // old Scale: step 3 of 4, K-20
    host.table[0].values[25] = 0.0f;   // no layout marker
    const tq::PresetRecord record = tq::buildPresetRecord(host);
    Plugin plugin(hostCallback);
    plugin.selectSlot(6);
    ASSERT_TRUE(tq::loadPresetRecord(plugin, record, false));
    const auto expectConverted = [&plugin](const char* when) {
        EXPECT_EQ(plugin.getParameter(10), tq::stepCentre(0, 3)) << "Bits 8, " << when;
        EXPECT_EQ(plugin.getParameter(16), tq::stepCentre(1, 2)) << "Quantize on, " << when;
        EXPECT_EQ(plugin.getParameter(9), tq::stepCentre(2, 3)) << "Scale K-20, " << when;
        EXPECT_EQ(plugin.getParameter(kMeterType), tq::stepCentre(1, 2)) << when;
        for (const std::size_t slot : {std::size_t{6}, std::size_t{0}}) {
            EXPECT_EQ(plugin.programs()[slot].values[10], tq::stepCentre(0, 3)) << when;
            EXPECT_EQ(plugin.programs()[slot].values[16], tq::stepCentre(1, 2)) << when;
            EXPECT_EQ(plugin.programs()[slot].values[25], 0.015f) << "slot " << slot << ", " << when;
        }
    };
    expectConverted("after loading");
    plugin.selectSlot(3);
    plugin.selectSlot(6);
    expectConverted("after selecting the slot again");
    plugin.selectSlot(0);
    expectConverted("after selecting slot 0");
}

TEST_F(EffectPresetSystemTest, StoredOldDefaultPresetStartsConverted) {
    {
        tqtest::FakeProgramHost host;
        host.table[0].values[10] = 0.3f;  // old Bits: 8 bits
        host.table[0].values[25] = 0.0f;
        tq::StoredDefaults(host).storeDefaultPreset();
    }
    Plugin plugin(hostCallback);
    EXPECT_EQ(plugin.getParameter(10), tq::stepCentre(0, 3)) << "Bits 8";
    EXPECT_EQ(plugin.getParameter(16), tq::stepCentre(1, 2)) << "Quantize on";
    EXPECT_EQ(plugin.programs()[0].values[25], 0.015f);
}

TEST_F(EffectPresetSystemTest, NonsenseValuesFromAFileLeaveTheEffectSound) {
    // NaN, infinities, huge and negative values, as a damaged file or a wrong reversal
    // can bring them.
    const std::uint32_t patterns[] = {0x7FC00000u, 0x7F800000u, 0xFF800000u, 0x7F7FFFFFu,
                                      0xBF800000u, 0x00000001u, 0x4F000000u};
    std::vector<std::uint8_t> bytes = {'l', 'q', 'R', 'T', '!'};
    bytes.resize(29, 0);
    for (int i = 0; i < tq::kParameterCount; ++i) {
        const std::uint32_t bits = patterns[static_cast<std::size_t>(i) % std::size(patterns)];
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    tqtest::writeBytes(files / "bad.tarvel", bytes);
    Plugin plugin(hostCallback);
    for (const bool reversed : {false, true}) {
        ASSERT_EQ(plugin.storedDefaults().loadPresetFile(files / "bad.tarvel", reversed).outcome,
                  tq::FileOutcome::loaded);
        for (int i = 0; i < tq::kParameterCount; ++i) {
            const float value = plugin.getParameter(i);
            EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << "parameter " << i << " = " << value;
            // The table feeds the next save: it must hold the same sound values.
            const float stored = plugin.programs()[0].values[i];
            EXPECT_TRUE(stored >= 0.0f && stored <= 1.0f) << "stored value " << i << " = " << stored;
        }
        plugin.setParameter(12, 0.0f);  // Calibrate off, so the limiter path runs
        plugin.setParameter(8, 1.0f);   // Power on
        std::vector<float> left(512, 0.5f), right(512, -0.5f), outLeft(512), outRight(512);
        float* inputs[2] = {left.data(), right.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        for (int block = 0; block < 8; ++block) plugin.processReplacing(inputs, outputs, 512);
        for (std::size_t n = 0; n < 512; ++n) {
            ASSERT_TRUE(std::isfinite(outLeft[n]) && std::isfinite(outRight[n])) << n;
            ASSERT_LE(std::fabs(outLeft[n]), 1.0f);
        }
    }
}

TEST_F(EffectPresetSystemTest, DestroyedEffectSavesTheFileLocations) {
    {
        Plugin plugin(hostCallback);
        plugin.storedDefaults().saveBankFile(files / "set.tvb");
    }
    const auto bank = readBytes(root() + "CurrBank");
    EXPECT_EQ(std::string(bank.begin(), bank.end()), "set.tvb");
    const auto directory = readBytes(root() + "CurrDir");
    EXPECT_EQ(std::string(directory.begin(), directory.end()), files.path() + "/");
    Plugin next(hostCallback);
    EXPECT_EQ(next.storedDefaults().locations().bankFile, "set.tvb");
}

}  // namespace
