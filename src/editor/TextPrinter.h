// Text drawn from the bitmap fonts: strips 5 pixels wide of 192 glyphs, 8 rows
// each. Glyphs 0..95 are the characters 32..127 dark on light, glyphs 96..191
// the same characters light on dark (the highlighted style). Every glyph cell
// is 5 x 8 pixels and the text advances 6 pixels per character.
// [frame thread]
#pragma once

#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"

class CTextPrinter {
  public:
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 8;
    static constexpr int kAdvance = 6;
    static constexpr int kGlyphCount = 192;

    static constexpr VSTGUI::CColor kLight{223, 247, 255, 255};
    static constexpr VSTGUI::CColor kGrey{79, 79, 79, 255};
    static constexpr VSTGUI::CColor kRed{229, 53, 5, 255};

    // Takes a reference on each font (either may be null: its glyphs draw nothing).
    CTextPrinter(VSTGUI::CBitmap* firstFont, VSTGUI::CBitmap* secondFont);
    virtual ~CTextPrinter();
    CTextPrinter(const CTextPrinter&) = delete;
    CTextPrinter& operator=(const CTextPrinter&) = delete;

    // `baseline` is the left x and the bottom row of the first glyph cell.
    // With the first font every cell (widened to 6 x 8) is filled first, grey
    // when highlighted, light otherwise; the second font is drawn over what is
    // there, keeping its transparency. The context's frame and fill colours
    // are restored afterwards.
    virtual void print(VSTGUI::CDrawContext* context, VSTGUI::CPoint baseline, const char* text,
                       bool vertical, bool highlight, bool secondFont);

    // Glyph of character `c` in the normal or highlighted style; 0 (a space)
    // for characters outside the strip.
    static int glyphFor(char c, bool highlight);

  protected:
    // Draws glyph `glyph` of `font` into the 5 x 8 cell whose top-left corner is `cell`.
    static void drawGlyph(VSTGUI::CDrawContext* context, VSTGUI::CBitmap* font, VSTGUI::CPoint cell,
                          int glyph);
    // Fills the cell widened by the one blank column between characters.
    static void fillCell(VSTGUI::CDrawContext* context, VSTGUI::CPoint cell);
    static VSTGUI::CPoint nextCell(VSTGUI::CPoint cell, bool vertical);

    VSTGUI::SharedPointer<VSTGUI::CBitmap> firstFont_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> secondFont_;
};

// The level readouts' printer: the second font is the over-range colour, and
// every cell is filled first: light in the normal style, and in the
// highlighted style red behind the second font, grey behind the first.
class CTextPrinter2Color : public CTextPrinter {
  public:
    using CTextPrinter::CTextPrinter;
    void print(VSTGUI::CDrawContext* context, VSTGUI::CPoint baseline, const char* text,
               bool vertical, bool highlight, bool secondFont) override;
};
