// The 5 x 8 bitmap fonts: glyph g of a strip starts at row 8g; glyphs 0..95 are characters 32..127
// in the normal style, 96..191 the same characters highlighted.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "BitmapGlyphs.h"
#include "DecodedPng.h"
#include "EmbeddedResources.h"

namespace {

using tq::testing::decodeBitmap;
using tq::testing::DecodedPng;
using tq::testing::Pixel;

constexpr Pixel kLight{223, 247, 255, 255};
constexpr Pixel kGrey{79, 79, 79, 255};
constexpr Pixel kRed{229, 53, 5, 255};
constexpr Pixel kTransparent{0, 0, 0, 0};

struct FontLook {
    Pixel normalInk, normalBack, highlightInk, highlightBack;
};

// Checks every pixel of a strip against the glyph table; returns the number of wrong pixels.
int wrongPixels(const DecodedPng& font, const FontLook& look) {
    int wrong = 0;
    for (int glyph = 0; glyph < 192; ++glyph) {
        const bool highlighted = glyph >= 96;
        const int character = 32 + glyph % 96;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool ink = tq::glyphPixel(character, x, y);
                const Pixel expected = highlighted ? (ink ? look.highlightInk : look.highlightBack)
                                                   : (ink ? look.normalInk : look.normalBack);
                if (!(font.pixel(x, glyph * 8 + y) == expected)) ++wrong;
            }
    }
    return wrong;
}

TEST(GlyphTable, PrintableCharactersAreInkedAndAllDifferent) {
    std::set<std::string> seen;
    for (int c = 33; c <= 126; ++c) {
        const tq::GlyphRows& rows = tq::glyphRows(c);
        std::string key(rows.begin(), rows.end());
        EXPECT_NE(key, std::string(8, '\0')) << "character " << c << " is blank";
        EXPECT_TRUE(seen.insert(key).second) << "character " << c << " repeats another glyph";
    }
}

TEST(GlyphTable, EveryGlyphStaysInsideItsFiveColumnCell) {
    for (int c = 32; c <= 127; ++c)
        for (std::uint8_t row : tq::glyphRows(c)) EXPECT_LT(row, 32) << "character " << c;
    EXPECT_FALSE(tq::glyphPixel('A', 5, 3));
    EXPECT_FALSE(tq::glyphPixel('A', -1, 3));
    EXPECT_FALSE(tq::glyphPixel('A', 0, 8));
}

TEST(GlyphTable, OnlyDescendersUseTheRowBelowTheBaseline) {
    // The readouts print on a baseline one row above the bottom of their value boxes.
    const std::string descenders = ",_gjpqy";
    for (int c = 32; c <= 127; ++c) {
        const bool descends = tq::glyphRows(c)[7] != 0;
        EXPECT_EQ(descends, descenders.find(static_cast<char>(c)) != std::string::npos)
            << "character " << c;
    }
}

TEST(GlyphTable, CharactersOutsideTheTableAreBlank) {
    for (int c : {-5, 0, 31, 128, 255})
        for (std::uint8_t row : tq::glyphRows(c)) EXPECT_EQ(row, 0) << c;
}

TEST(FontStrip, NormalFontFollowsTheGlyphTableInThePrinterColours) {
    const DecodedPng font = decodeBitmap(137);
    ASSERT_TRUE(font.ok());
    EXPECT_EQ(wrongPixels(font, {kGrey, kLight, kLight, kGrey}), 0);
}

TEST(FontStrip, RedFontFollowsTheGlyphTableOnTheOverRangeRed) {
    const DecodedPng font = decodeBitmap(138);
    ASSERT_TRUE(font.ok());
    EXPECT_EQ(wrongPixels(font, {kRed, kLight, kLight, kRed}), 0);
}

TEST(FontStrip, AlphaFontInksOnlyTheGlyphPixels) {
    const DecodedPng font(tq::findNamedResource("bmp00158.png"));
    ASSERT_TRUE(font.ok());
    ASSERT_TRUE(font.hasAlphaChannel());
    EXPECT_EQ(wrongPixels(font, {kGrey, kTransparent, kLight, kTransparent}), 0);
}

TEST(FontStrip, WideFieldFontMatchesTheDriveAndOutputFields) {
    const DecodedPng font(tq::findNamedResource("bmp00159.png"));
    const DecodedPng background = decodeBitmap(128);
    ASSERT_TRUE(font.ok());
    ASSERT_TRUE(background.ok());
    const Pixel back = font.pixel(0, 0);  // top-left of ' ', never inked
    EXPECT_EQ(back, (Pixel{165, 183, 189, 255}));
    EXPECT_EQ(wrongPixels(font, {Pixel{37, 36, 35, 255}, back, back, Pixel{37, 36, 35, 255}}), 0);
    // The fields print without filling their cells: the glyph's own background must be exactly
    // the picture behind the text rows, or every character would show as a box.
    for (int fieldLeft : {43, 410})
        for (int y = 415; y <= 422; ++y)
            for (int x = fieldLeft; x < fieldLeft + 74; ++x)
                ASSERT_EQ(background.pixel(x, y), back) << x << "," << y;
}

TEST(FontStrip, GlyphOfADiffersFromGlyphOfSpace) {
    const DecodedPng font = decodeBitmap(137);
    ASSERT_TRUE(font.ok());
    const int glyphA = 'A' - 32;
    EXPECT_FALSE(font.rowsEqual(glyphA * 8, 0, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(font.pixel(x, y), kLight);  // ' ' is all paper
    // 'A' inks its crossbar on row 3 and nothing on row 7.
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(font.pixel(x, glyphA * 8 + 3), kGrey);
        EXPECT_EQ(font.pixel(x, glyphA * 8 + 7), kLight);
    }
    // The highlighted 'A' is the same shape in reversed colours.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(font.pixel(x, (96 + glyphA) * 8 + y) == kLight,
                      font.pixel(x, glyphA * 8 + y) == kGrey);
}

TEST(FontStrip, AlphaFontIsLegibleOnTheSmallValueFields) {
    const DecodedPng background = decodeBitmap(128);
    ASSERT_TRUE(background.ok());
    auto luminance = [](Pixel p) { return 0.2126 * p.r + 0.7152 * p.g + 0.0722 * p.b; };
    // Text rows of the Transient, Release, Leveller and L/R Link fields.
    const int fields[][2] = {{45, 221}, {45, 319}, {411, 221}, {411, 319}};
    for (const auto& field : fields)
        for (int x = field[0]; x < field[0] + 74; x += 7)
            for (int y = field[1] + 6; y <= field[1] + 13; ++y)
                EXPECT_GT(luminance(background.pixel(x, y)) - luminance(kGrey), 90.0)
                    << x << "," << y;
}

}  // namespace
