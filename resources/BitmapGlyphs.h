#pragma once

#include <array>
#include <cstdint>

namespace tq {

// The editor's 5 x 8 bitmap font: one glyph per character 32..127. Each glyph is eight rows
// from the top of its cell; bit 4 of a row is the leftmost column, bit 0 the rightmost. Capitals
// and digits use rows 0..6 and sit on row 6; row 7 holds only descenders, so text printed on a
// baseline keeps one clear row below it.
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 8;
inline constexpr int kFirstGlyphCharacter = 32;
inline constexpr int kGlyphCount = 96;

using GlyphRows = std::array<std::uint8_t, kGlyphHeight>;

// Rows of the glyph for character c; characters outside 32..127 give the blank glyph of ' '.
const GlyphRows& glyphRows(int c);

// True when column x (0 = left) of row y of the glyph of character c is inked.
bool glyphPixel(int c, int x, int y);

}  // namespace tq
