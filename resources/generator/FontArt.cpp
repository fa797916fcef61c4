#include "ArtPainters.h"
#include "ArtStyle.h"
#include "BitmapGlyphs.h"

namespace tq::art {

Image paintFontStrip(const FontColours& colours, bool transparentBack) {
    constexpr int kStyles = 2;
    Image image(kGlyphWidth, kGlyphHeight * kGlyphCount * kStyles, transparentBack);
    Painter cr(image);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    for (int style = 0; style < kStyles; ++style) {
        const bool highlighted = style == 1;
        const Colour ink = highlighted ? colours.highlightInk : colours.normalInk;
        const Colour back = transparentBack ? Colour{0, 0, 0, 0}
                            : highlighted   ? colours.highlightBack
                                            : colours.normalBack;
        for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
            const int top = (style * kGlyphCount + glyph) * kGlyphHeight;
            const int character = kFirstGlyphCharacter + glyph;
            for (int y = 0; y < kGlyphHeight; ++y)
                for (int x = 0; x < kGlyphWidth; ++x)
                    fillRect(cr, x, top + y, 1, 1, glyphPixel(character, x, y) ? ink : back);
        }
    }
    return image;
}

}  // namespace tq::art
