// Meter bars and scales: the meters pick colour zones and scale positions by pixel row, at
// 6 pixels per dB, so the artwork must put each zone boundary and tick on an exact row.
#include <gtest/gtest.h>

#include <string>

#include "DecodedPng.h"

namespace {

using tq::testing::decodeBitmap;
using tq::testing::DecodedPng;
using tq::testing::Pixel;

enum class Zone { green, amber, red };

const char* zoneName(Zone z) {
    return z == Zone::green ? "green" : z == Zone::amber ? "amber" : "red";
}

// Hue class of a bar pixel, lit or unlit, from the ratio of green to red.
Zone zoneOf(Pixel p) {
    const double ratio = static_cast<double>(p.g) / std::max(p.r, 1);
    if (ratio > 1.2) return Zone::green;
    if (ratio >= 0.6) return Zone::amber;
    return Zone::red;
}

constexpr int kCentreColumn = 7;

// Row r of the K-mode bars reads (144 - r) / 6 dB against the K reference.
Zone expectedKZone(int row) {
    if (row <= 120) return Zone::red;    // reference + 4 dB and above
    if (row <= 144) return Zone::amber;  // from the reference up to +4 dB
    return Zone::green;
}

// Row r of the peak-mode bars reads (120 - r) / 6 dBFS.
Zone expectedPeakZone(int row) {
    if (row < 120) return Zone::red;     // over full scale
    if (row <= 156) return Zone::amber;  // the top 6 dB
    return Zone::green;
}

double brightness(Pixel p) { return p.r + p.g + p.b; }

TEST(MeterBars, KModeReferenceRowStartsTheAmberZone) {
    const DecodedPng lit = decodeBitmap(154);
    ASSERT_TRUE(lit.ok());
    EXPECT_EQ(zoneOf(lit.pixel(kCentreColumn, 144)), Zone::amber);
    EXPECT_EQ(zoneOf(lit.pixel(kCentreColumn, 145)), Zone::green);
    EXPECT_NE(lit.pixel(kCentreColumn, 144), lit.pixel(kCentreColumn, 145));
    EXPECT_EQ(zoneOf(lit.pixel(kCentreColumn, 143)), Zone::amber);
    EXPECT_EQ(zoneOf(lit.pixel(kCentreColumn, 120)), Zone::red);
    EXPECT_EQ(zoneOf(lit.pixel(kCentreColumn, 121)), Zone::amber);
}

TEST(MeterBars, EveryRowOfTheKBarsIsInItsZone) {
    for (int id : {154, 129}) {
        const DecodedPng bar = decodeBitmap(id);
        ASSERT_TRUE(bar.ok());
        for (int row = 0; row < bar.height(); ++row)
            ASSERT_EQ(zoneName(zoneOf(bar.pixel(kCentreColumn, row))),
                      std::string(zoneName(expectedKZone(row))))
                << "bitmap " << id << " row " << row;
    }
}

TEST(MeterBars, EveryRowOfThePeakBarsIsInItsZone) {
    for (int id : {130, 155}) {
        const DecodedPng bar = decodeBitmap(id);
        ASSERT_TRUE(bar.ok());
        for (int row = 0; row < bar.height(); ++row)
            ASSERT_EQ(zoneName(zoneOf(bar.pixel(kCentreColumn, row))),
                      std::string(zoneName(expectedPeakZone(row))))
                << "bitmap " << id << " row " << row;
    }
}

TEST(MeterBars, UnlitBarsAreDarkerThanLitOnEveryRow) {
    const int pairs[][2] = {{154, 129}, {130, 155}};
    for (const auto& pair : pairs) {
        const DecodedPng lit = decodeBitmap(pair[0]);
        const DecodedPng unlit = decodeBitmap(pair[1]);
        for (int row = 0; row < 432; ++row)
            for (int x = 0; x < 15; ++x)
                ASSERT_LT(2 * brightness(unlit.pixel(x, row)), brightness(lit.pixel(x, row)))
                    << pair[1] << " " << x << "," << row;
    }
}

TEST(MeterBars, AttenuationBarRunsFromGreenAtTheTopToRedAtTheBottom) {
    const DecodedPng bar = decodeBitmap(156);
    ASSERT_TRUE(bar.ok());
    EXPECT_EQ(zoneOf(bar.pixel(kCentreColumn, 0)), Zone::green);
    EXPECT_EQ(zoneOf(bar.pixel(kCentreColumn, 72)), Zone::amber);
    EXPECT_EQ(zoneOf(bar.pixel(kCentreColumn, 144)), Zone::red);
    EXPECT_EQ(zoneOf(bar.pixel(kCentreColumn, 202)), Zone::red);
}

struct LevelScale {
    int id;
    int topDb;
    int scaleX;  // left edge of the scale in the editor
};

const LevelScale kLevelScales[] = {{131, 20, 164}, {132, 14, 164}, {133, 12, 164},
                                   {134, 20, 335}, {135, 14, 335}, {136, 12, 335}};

TEST(MeterScales, TicksSitEverySixRowsFromTheTopOfTheBarArea) {
    for (const LevelScale& s : kLevelScales) {
        SCOPED_TRACE("bitmap " + std::to_string(s.id));
        const DecodedPng scale = decodeBitmap(s.id);
        ASSERT_TRUE(scale.ok());
        // The bar area starts at y 42, row 4 of a scale drawn at y 38.
        for (int db = 0; db <= 60; ++db) {
            const int row = 4 + 6 * db;
            EXPECT_GT(brightness(scale.pixel(1, row)), brightness(scale.pixel(1, row + 3)) + 150)
                << "tick row " << row;
            EXPECT_GT(brightness(scale.pixel(25, row)), brightness(scale.pixel(25, row + 3)) + 150)
                << "tick row " << row;
        }
    }
}

TEST(MeterScales, ZeroLabelSitsOnTheRowOfItsLevel) {
    for (const LevelScale& s : kLevelScales) {
        SCOPED_TRACE("bitmap " + std::to_string(s.id));
        const DecodedPng scale = decodeBitmap(s.id);
        ASSERT_TRUE(scale.ok());
        const int zeroRow = 4 + 6 * s.topDb;  // 0 dBFS in peak mode, the K reference in K modes
        bool labelNearZero = false;
        for (int y = zeroRow - 3; y <= zeroRow + 3; ++y)
            for (int x = 8; x <= 19; ++x) {
                const Pixel p = scale.pixel(x, y);
                labelNearZero = labelNearZero || (p.r > 200 && p.g > 200 && p.b > 200);
            }
        EXPECT_TRUE(labelNearZero);
        // Half way to the next label the middle of the scale is clear.
        const int between = zeroRow + (s.topDb == 12 ? 9 : 12);
        for (int x = 6; x <= 20; ++x) EXPECT_LT(brightness(scale.pixel(x, between)), 200) << x;
    }
}

TEST(MeterScales, ScalesBlendIntoTheBackgroundBeneathThem) {
    const DecodedPng background = decodeBitmap(128);
    ASSERT_TRUE(background.ok());
    for (const LevelScale& s : kLevelScales) {
        const DecodedPng scale = decodeBitmap(s.id);
        for (int row = 0; row < 367; ++row)
            ASSERT_EQ(scale.pixel(26, row), background.pixel(s.scaleX + 26, 38 + row))
                << "bitmap " << s.id << " row " << row;
    }
}

TEST(MeterScales, AttenuationTicksMatchSixAndTwelvePixelsPerDb) {
    const DecodedPng scale = decodeBitmap(167);
    ASSERT_TRUE(scale.ok());
    // A bar of d dB ends on row 3 + 6d (3 + 12d zoomed); the zoomed frame starts at row 153.
    for (int db = 0; db <= 24; ++db)
        EXPECT_GT(brightness(scale.pixel(17, 3 + 6 * db)),
                  brightness(scale.pixel(17, 3 + 6 * db + 3)) + 150)
            << db;
    for (int db = 0; db <= 12; ++db)
        EXPECT_GT(brightness(scale.pixel(17, 153 + 3 + 12 * db)),
                  brightness(scale.pixel(17, 153 + 3 + 12 * db + 3)) + 150)
            << db;
}

}  // namespace
