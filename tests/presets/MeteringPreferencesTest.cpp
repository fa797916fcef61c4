#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "platform/UserStore.h"
#include "presets/MeteringPreferences.h"
#include "support/TempConfig.h"

#include "effect/ParameterModel.h"

namespace {

using tq::MeteringSaveResult;
using tqtest::readBytes;

class MeteringPreferencesTest : public ::testing::Test {
  protected:
    tqtest::TempDirectory config;
    tqtest::ScopedEnvironment xdg{"XDG_CONFIG_HOME", config.path().c_str()};
    tqtest::MessageRecorder messages;
    std::string prefs() const { return config.path() + "/Tarvel/Tarvelquolt/PREFS/"; }

    std::map<int, float> parameters;
    std::vector<std::pair<int, float>> applied;

    int apply() {
        return tq::applyStoredMeteringPreferences(
            [this](int index, float value) { applied.emplace_back(index, value); });
    }
    MeteringSaveResult save() {
        return tq::saveMeteringPreferences([this](int index) { return parameters[index]; });
    }
};

std::vector<std::uint8_t> littleEndian(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

TEST_F(MeteringPreferencesTest, NothingStoredAppliesNothing) {
    EXPECT_EQ(apply(), 0);
    EXPECT_TRUE(applied.empty());
}

TEST_F(MeteringPreferencesTest, OnlyMeterTypeStoredAppliesOnlyMeterType) {
    ASSERT_TRUE(tq::UserStore("PREFS").writeInt32("Metering_Type", 1));
    EXPECT_EQ(apply(), 1);
    EXPECT_EQ(applied, (std::vector<std::pair<int, float>>{{18, 0.75f}}));
}

TEST_F(MeteringPreferencesTest, AttShowSixSavesSixAndLoadsItsStepCentre) {
    parameters[20] = 0.8125f;
    ASSERT_EQ(save(), MeteringSaveResult::saved);
    EXPECT_EQ(readBytes(prefs() + "Metering_AttShow"), littleEndian(6));
    apply();
    ASSERT_EQ(applied.size(), 6u);
    EXPECT_EQ(applied[3], (std::pair<int, float>{20, 0.8125f}));
}

TEST_F(MeteringPreferencesTest, SaveWritesAllSixStepIndices) {
    parameters = {{9, 1.0f}, {18, 0.6f}, {19, 0.49f}, {20, 0.3f}, {14, 0.5f}, {21, 0.0f}};
    ASSERT_EQ(save(), MeteringSaveResult::saved);
    EXPECT_EQ(readBytes(prefs() + "Metering_Scale"), littleEndian(2));
    EXPECT_EQ(readBytes(prefs() + "Metering_Type"), littleEndian(1));
    EXPECT_EQ(readBytes(prefs() + "Metering_Zoom"), littleEndian(0));
    EXPECT_EQ(readBytes(prefs() + "Metering_AttShow"), littleEndian(2));
    EXPECT_EQ(readBytes(prefs() + "Metering_Recon"), littleEndian(1));
    EXPECT_EQ(readBytes(prefs() + "Metering_Post"), littleEndian(0));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(MeteringPreferencesTest, LoadAppliesStepCentresInTableOrder) {
    parameters = {{9, 0.5f}, {18, 1.0f}, {19, 1.0f}, {20, 0.0f}, {14, 1.0f}, {21, 1.0f}};
    ASSERT_EQ(save(), MeteringSaveResult::saved);
    EXPECT_EQ(apply(), 6);
    EXPECT_EQ(applied,
              (std::vector<std::pair<int, float>>{
                  {9, 0.5f}, {18, 0.75f}, {19, 0.75f}, {20, 0.0625f}, {14, 0.75f}, {21, 0.75f}}));
}

TEST_F(MeteringPreferencesTest, StoredIndexOutOfRangeIsLimitedToTheSteps) {
    const tq::UserStore store("PREFS");
    ASSERT_TRUE(store.writeInt32("Metering_Scale", 7));
    ASSERT_TRUE(store.writeInt32("Metering_Post", -3));
    apply();
    EXPECT_EQ(applied, (std::vector<std::pair<int, float>>{{9, 2.5f / 3.0f}, {21, 0.25f}}));
}

TEST_F(MeteringPreferencesTest, ValueThatIsNotFourBytesIsSkipped) {
    std::filesystem::create_directories(prefs());
    tqtest::writeBytes(prefs() + "Metering_Zoom", "\x01\x00", 2);
    tqtest::writeBytes(prefs() + "Metering_Recon", "\x01\x00\x00\x00\x00", 5);
    std::filesystem::create_directories(prefs() + "Metering_Type");
    EXPECT_EQ(apply(), 0);
}

TEST_F(MeteringPreferencesTest, StepIndexFollowsTheParameterModel) {
    EXPECT_EQ(tq::stepIndex(0.0f, 3), 0);
    EXPECT_EQ(tq::stepIndex(0.3333f, 3), 0);
    EXPECT_EQ(tq::stepIndex(0.34f, 3), 1);
    EXPECT_EQ(tq::stepIndex(1.0f, 3), 2);
    EXPECT_EQ(tq::stepIndex(0.9375f, 8), 7);
    EXPECT_EQ(tq::stepIndex(-0.5f, 2), 0);
    EXPECT_EQ(tq::stepIndex(NAN, 8), 0);
    EXPECT_EQ(tq::stepIndex(1e30f, 8), 7);
}

TEST_F(MeteringPreferencesTest, KeyThatCannotBeCreatedShowsTheKeyMessage) {
    const std::string file = config / "plain-file";
    tqtest::writeBytes(file, "x", 1);
    tqtest::ScopedEnvironment blocked("XDG_CONFIG_HOME", file.c_str());
    EXPECT_EQ(save(), MeteringSaveResult::keyFailed);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, "Error...");
    EXPECT_EQ(messages.messages[0].text,
              "Could not create registry key for storing metering preferences!");
}

TEST_F(MeteringPreferencesTest, FirstFailedValueShowsTheValueMessageAndStops) {
    // A directory where "Metering_Zoom" belongs: the third write fails.
    std::filesystem::create_directories(prefs() + "Metering_Zoom");
    EXPECT_EQ(save(), MeteringSaveResult::valueFailed);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, "Error...");
    EXPECT_EQ(messages.messages[0].text,
              "Could not create registry value for storing metering preferences!");
    EXPECT_TRUE(std::filesystem::exists(prefs() + "Metering_Scale"));
    EXPECT_TRUE(std::filesystem::exists(prefs() + "Metering_Type"));
    EXPECT_FALSE(std::filesystem::exists(prefs() + "Metering_AttShow")) << "later writes skipped";
    EXPECT_FALSE(std::filesystem::exists(prefs() + "Metering_Post"));
}

}  // namespace
