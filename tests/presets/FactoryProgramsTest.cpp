// The 24 factory programs as a new effect reports them, checked against a table typed
// in by hand from the published factory table. The table here is deliberately not built
// from the effect's own data: a typo in one value of the code must show up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "effect/ParameterModel.h"
#include "effect/Plugin.h"
#include "support/TempConfig.h"

namespace {

vst::intptr hostCallback(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

// One factory program: its name and the 15 values that differ between programs, in
// the published column order.
struct FactoryRow {
    const char* name;
    float output, drive, transient, release, transShape, link, oversample, detectorOrder, scale,
        bits, noiseShape, leveller, meterOvs, quantize, meterType;
};

// clang-format off
constexpr FactoryRow kFactoryRows[24] = {
    {"Current",             1,        0.5,      0.2,      0.7237,   0.166667, 1,    0, 0, 0.165, 0.5,   0.125, 1,        0, 0.25, 0.25},
    {"Limiter Smooth",      0.999167, 0.5625,   0.150375, 0.723711, 0.833333, 1,    0, 0, 0.165, 0.5,   0.125, 1,        0, 0.25, 0.25},
    {"Limiter Gentle",      0.999167, 0.604167, 0.353483, 0.656363, 0.5,      1,    0, 0, 0.165, 0.5,   0.125, 1,        0, 0.25, 0.25},
    {"Limiter Fast",        0.999167, 0.625,    0.45,     0.5,      0.5,      1,    0, 0, 0.165, 0.5,   0.125, 1,        0, 0.25, 0.25},
    {"Limiter Hard",        0.999167, 0.625,    0.5,      0.656363, 0.166667, 0.5,  0, 0, 0.165, 0.5,   0.125, 1,        0, 0.25, 0.25},
    {"Loudness 1",          0.999167, 0.604167, 0.238667, 0.656363, 0.5,      0.5,  0, 0, 0.165, 0.5,   0.125, 0.5,      0, 0.25, 0.25},
    {"Loudness 2",          0.999167, 0.625,    0.404367, 0.656363, 0.833333, 0.5,  0, 1, 0.165, 0.5,   0.125, 0.5,      0, 0.25, 0.25},
    {"Loudness 3",          0.999167, 0.6875,   0.5,      0.5,      0.5,      0.33, 0, 0, 0.165, 0.5,   0.125, 0.25,     0, 0.25, 0.25},
    {"CD Master 1",         0.999167, 0.583333, 0.25,     0.723711, 0.833333, 1,    0, 0, 0.5,   0.5,   0.625, 0.5,      0, 0.75, 0.75},
    {"CD Master 2",         0.999167, 0.625,    0.4,      0.610005, 0.5,      1,    0, 0, 0.5,   0.5,   0.875, 0.5,      0, 0.75, 0.75},
    {"CD Master 3 [recon]", 0.999167, 0.625,    0.4,      0.656363, 0.5,      1,    1, 0, 0.5,   0.5,   0.875, 0.333333, 1, 0.75, 0.75},
    {"Game 1",              0.999167, 0.625,    0.3,      0.610005, 0.33,     0.5,  0, 0, 0.165, 0.165, 0.375, 0.5,      0, 0.75, 0.25},
    {"Game 2",              0.999167, 0.625,    0.5,      0.5,      0.5,      0.5,  0, 0, 0.165, 0.165, 0.625, 0.5,      0, 0.75, 0.25},
    {"TV Limiter",          0.166667, 0.625,    0.4,      0.676097, 0.5,      1,    0, 0, 0.165, 0.5,   0.125, 1,        0, 0.25, 0.75},
    {"TV Loudness",         0.166667, 0.625,    0.4,      0.610005, 0.5,      1,    0, 0, 0.165, 0.5,   0.125, 0.5,      0, 0.25, 0.75},
    {"TV Hot",              0.166667, 0.6875,   0.5,      0.465453, 0.5,      0.33, 0, 0, 0.165, 0.5,   0.125, 0.5,      0, 0.25, 0.75},
    {"HiRes Limiter",       0.999167, 0.583333, 0.15,     0.676097, 0.833333, 1,    0, 0, 0.825, 0.825, 0.625, 1,        0, 0.75, 0.75},
    {"HiRes Loudness",      0.999167, 0.625,    0.3,      0.563874, 0.833333, 0.5,  0, 0, 0.825, 0.825, 0.875, 0.5,      0, 0.75, 0.75},
    {"Cine 1",              0.999167, 0.583333, 0.1,      0.723711, 0.833333, 1,    0, 0, 0.825, 0.825, 0.625, 1,        0, 0.75, 0.75},
    {"Cine 2 [recon]",      0.999167, 0.625,    0.3,      0.676097, 0.833333, 1,    1, 0, 0.825, 0.825, 0.875, 0.5,      1, 0.75, 0.75},
    {"Cine 3",              0.999167, 0.645833, 0.4,      0.610005, 0.5,      1,    0, 0, 0.825, 0.825, 0.875, 0.25,     0, 0.75, 0.75},
    {"Loud Love",           0.999167, 0.6875,   0.6,      0.5,      0.833333, 0.66, 0, 0, 0.165, 0.5,   0.125, 0.5,      0, 0.25, 0.25},
    {"Loud It Up",          0.999167, 0.6875,   0.5,      0.5,      0.166667, 0.33, 0, 0, 0.165, 0.5,   0.125, 0.5,      0, 0.25, 0.25},
    {"Total Disorder",      0.999167, 0.75,     0.8,      0.436034, 0.33,     0,    0, 0, 0.165, 0.5,   0,     0.5,      0, 0.25, 0.25},
};
// clang-format on

// All 26 values of a row: the row's own 15 and the values every factory program shares
// (Power on, Calibrate, AutoOut and Autoblack off, AttZoom "24dB", AttShow "12L",
// PostMeter "pre", the dummies 0, the layout marker 0.015).
std::array<float, 26> allValues(const FactoryRow& row) {
    return {row.output, row.drive,      row.transient, row.release,   row.transShape, row.link,
            row.oversample, row.detectorOrder, 1.0f,   row.scale,     row.bits,       row.noiseShape,
            0.0f,       row.leveller,   row.meterOvs,  0.0f,          row.quantize,   0.0f,
            row.meterType, 0.0f,        0.9375f,       0.0f,          0.0f,           0.0f,
            0.0f,       0.015f};
}

class FactoryProgramsTest : public ::testing::TestWithParam<tq::Flavour> {
  protected:
    // A private, empty store: nothing stored may change what a new effect starts from.
    tqtest::TempDirectory config;
    tqtest::ScopedEnvironment xdg{"XDG_CONFIG_HOME", config.path().c_str()};
    Plugin plugin{hostCallback, GetParam()};
};

TEST_P(FactoryProgramsTest, TheTableHoldsEveryPublishedValueAndName) {
    for (int slot = 0; slot < 24; ++slot) {
        const FactoryRow& row = kFactoryRows[slot];
        const tq::ProgramRecord& record = plugin.programs()[static_cast<std::size_t>(slot)];
        const std::array<float, 26> expected = allValues(row);
        for (int index = 0; index < 26; ++index) {
            EXPECT_EQ(record.values[index], expected[static_cast<std::size_t>(index)])
                << "slot " << slot << " \"" << row.name << "\", parameter " << index << " ("
                << tq::parameterName(index) << ")";
        }
        // Names shorter than 24 characters are stored zero-filled.
        char name[tq::kProgramNameBytes] = {};
        std::memcpy(name, row.name, std::min(std::strlen(row.name), sizeof(name)));
        EXPECT_EQ(std::memcmp(record.name, name, sizeof(name)), 0) << "slot " << slot;
    }
}

TEST_P(FactoryProgramsTest, SelectingEachProgramReportsItsValuesAndName) {
    for (int slot = 0; slot < 24; ++slot) {
        const FactoryRow& row = kFactoryRows[slot];
        plugin.selectSlot(slot);
        ASSERT_EQ(plugin.currentSlot(), slot);
        const std::array<float, 26> expected = allValues(row);
        // The host reads the stored value of 0..21; the dummies read 0 and the layout
        // marker its fixed value, which the table above also holds.
        for (int index = 0; index < 26; ++index) {
            EXPECT_EQ(plugin.getParameter(index), expected[static_cast<std::size_t>(index)])
                << "slot " << slot << " \"" << row.name << "\", parameter " << index << " ("
                << tq::parameterName(index) << ")";
        }
        char text[64];
        std::memset(text, 'x', sizeof(text));
        plugin.getProgramName(text);
        EXPECT_STREQ(text, row.name) << "slot " << slot;
        std::memset(text, 'x', sizeof(text));
        EXPECT_TRUE(plugin.getProgramNameIndexed(0, slot, text));
        EXPECT_STREQ(text, row.name) << "slot " << slot;
    }
}

// The same programs in engine terms, as published beside the normalised values (dB
// rounded to 0.01, shares to 0.0001, times to 0.1 ms): a wrong mapping of a right value
// shows up here.
struct EngineRow {
    double outputDb, driveDb, transientShare, releaseMs, levellerDb;
};

// clang-format off
constexpr EngineRow kEngineRows[24] = {
    {0.00,   0.00,  0.0200, 200.0, 0.00},
    {-0.01,  3.01,  0.0113, 200.0, 0.00},
    {-0.01,  5.02,  0.0625, 133.0, 0.00},
    {-0.01,  6.02,  0.1013, 50.0,  0.00},
    {-0.01,  6.02,  0.1250, 133.0, 0.00},
    {-0.01,  5.02,  0.0285, 133.0, -6.02},
    {-0.01,  6.02,  0.0818, 133.0, -6.02},
    {-0.01,  9.03,  0.1250, 50.0,  -9.03},
    {-0.01,  4.01,  0.0313, 200.0, -6.02},
    {-0.01,  6.02,  0.0800, 100.0, -6.02},
    {-0.01,  6.02,  0.0800, 133.0, -8.03},
    {-0.01,  6.02,  0.0450, 100.0, -6.02},
    {-0.01,  6.02,  0.1250, 50.0,  -6.02},
    {-10.03, 6.02,  0.0800, 150.0, 0.00},
    {-10.03, 6.02,  0.0800, 100.0, -6.02},
    {-10.03, 9.03,  0.1250, 40.0,  -6.02},
    {-0.01,  4.01,  0.0113, 150.0, 0.00},
    {-0.01,  6.02,  0.0450, 75.0,  -6.02},
    {-0.01,  4.01,  0.0050, 200.0, 0.00},
    {-0.01,  6.02,  0.0450, 150.0, -6.02},
    {-0.01,  7.02,  0.0800, 100.0, -9.03},
    {-0.01,  9.03,  0.1800, 50.0,  -6.02},
    {-0.01,  9.03,  0.1250, 50.0,  -6.02},
    {-0.01,  12.04, 0.3200, 33.0,  -6.02},
};
// clang-format on

double decibels(double gain) { return 20.0 * std::log10(gain); }

TEST_P(FactoryProgramsTest, SelectedProgramsGiveThePublishedEngineTerms) {
    const tq::EngineParameters& engine = plugin.engineParameters();
    for (int slot = 0; slot < 24; ++slot) {
        const EngineRow& row = kEngineRows[slot];
        plugin.selectSlot(slot);
        const std::string what = std::string("slot ") + std::to_string(slot) + " \"" +
                                 kFactoryRows[slot].name + "\"";
        EXPECT_NEAR(decibels(engine.outputGain.load()), row.outputDb, 0.005001) << what;
        EXPECT_NEAR(decibels(engine.driveGain.load()), row.driveDb, 0.005001) << what;
        EXPECT_NEAR(engine.transientShare.load(), row.transientShare, 0.0000501) << what;
        EXPECT_NEAR(engine.releaseMs.load(), row.releaseMs, 0.0501) << what;
        EXPECT_NEAR(decibels(engine.levellerGain.load()), row.levellerDb, 0.005001) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, FactoryProgramsTest,
                         ::testing::Values(tq::Flavour::Scalar, tq::Flavour::Paired),
                         [](const auto& info) {
                             return info.param == tq::Flavour::Scalar ? "Scalar" : "Paired";
                         });

}  // namespace
