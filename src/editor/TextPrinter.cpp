#include "editor/TextPrinter.h"

using namespace VSTGUI;

namespace {

// Frame and fill colours of a context, put back when the printer is done.
class SavedColours {
  public:
    explicit SavedColours(CDrawContext* context)
        : context_(context), frame_(context->getFrameColor()), fill_(context->getFillColor()) {}
    ~SavedColours() {
        context_->setFrameColor(frame_);
        context_->setFillColor(fill_);
    }
    SavedColours(const SavedColours&) = delete;
    SavedColours& operator=(const SavedColours&) = delete;

  private:
    CDrawContext* context_;
    CColor frame_;
    CColor fill_;
};

}  // namespace

CTextPrinter::CTextPrinter(CBitmap* firstFont, CBitmap* secondFont) {
    firstFont_.reset(firstFont);
    secondFont_.reset(secondFont);
}

CTextPrinter::~CTextPrinter() = default;

int CTextPrinter::glyphFor(char c, bool highlight) {
    const int glyph = (static_cast<unsigned char>(c) & 127) - 32 + (highlight ? 96 : 0);
    return glyph >= 0 && glyph < kGlyphCount ? glyph : 0;
}

void CTextPrinter::drawGlyph(CDrawContext* context, CBitmap* font, CPoint cell, int glyph) {
    if (font == nullptr) return;
    font->draw(context, CRect(cell.h, cell.v, cell.h + kGlyphWidth, cell.v + kGlyphHeight),
               CPoint(0, glyph * kGlyphHeight));
}

void CTextPrinter::fillCell(CDrawContext* context, CPoint cell) {
    context->drawRect(CRect(cell.h, cell.v, cell.h + kAdvance, cell.v + kGlyphHeight), kDrawFilled);
}

CPoint CTextPrinter::nextCell(CPoint cell, bool vertical) {
    return vertical ? cell.offset(0, kGlyphHeight) : cell.offset(kAdvance, 0);
}

void CTextPrinter::print(CDrawContext* context, CPoint baseline, const char* text, bool vertical,
                         bool highlight, bool secondFont) {
    if (context == nullptr || text == nullptr) return;
    SavedColours saved(context);
    const CColor colour = highlight ? kGrey : kLight;
    context->setFrameColor(colour);
    context->setFillColor(colour);
    CPoint cell(baseline.h, baseline.v - (kGlyphHeight - 1));
    for (const char* c = text; *c != 0; ++c) {
        const int glyph = glyphFor(*c, highlight);
        if (secondFont) {
            drawGlyph(context, secondFont_.get(), cell, glyph);
        } else {
            fillCell(context, cell);
            drawGlyph(context, firstFont_.get(), cell, glyph);
        }
        cell = nextCell(cell, vertical);
    }
}

void CTextPrinter2Color::print(CDrawContext* context, CPoint baseline, const char* text,
                               bool vertical, bool highlight, bool secondFont) {
    if (context == nullptr || text == nullptr) return;
    SavedColours saved(context);
    CColor fill = kLight;
    if (highlight) fill = secondFont ? kRed : kGrey;
    context->setFillColor(fill);
    CBitmap* font = secondFont ? secondFont_.get() : firstFont_.get();
    CPoint cell(baseline.h, baseline.v - (kGlyphHeight - 1));
    for (const char* c = text; *c != 0; ++c) {
        fillCell(context, cell);
        // Control characters map to the space like in the base printer, so no
        // glyph is read from above the strip.
        drawGlyph(context, font, cell, glyphFor(*c, highlight));
        cell = nextCell(cell, vertical);
    }
}
