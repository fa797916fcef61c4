#include "gui/CDrawContext.h"

#include <cmath>

namespace VSTGUI {

namespace {
CFontDesc systemFont{"DejaVu Sans", 12, kBoldFace};
CFontDesc normalFontVeryBig{"DejaVu Sans", 18};
CFontDesc normalFontBig{"DejaVu Sans", 14};
CFontDesc normalFont{"DejaVu Sans", 12};
CFontDesc normalFontSmall{"DejaVu Sans", 11};
CFontDesc normalFontSmaller{"DejaVu Sans", 10};
CFontDesc normalFontVerySmall{"DejaVu Sans", 9};
CFontDesc symbolFont{"DejaVu Sans Mono", 12};

double channel(std::uint8_t value) { return value / 255.0; }
}  // namespace

const CFontRef kSystemFont = &systemFont;
const CFontRef kNormalFontVeryBig = &normalFontVeryBig;
const CFontRef kNormalFontBig = &normalFontBig;
const CFontRef kNormalFont = &normalFont;
const CFontRef kNormalFontSmall = &normalFontSmall;
const CFontRef kNormalFontSmaller = &normalFontSmaller;
const CFontRef kNormalFontVerySmall = &normalFontVerySmall;
const CFontRef kSymbolFont = &symbolFont;

std::string latin1ToUtf8(const char* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        const unsigned char c = *p;
        if (c < 32 || c == 127 || (c >= 128 && c < 160)) {
            out.push_back(' ');
        } else if (c < 128) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

CDrawContext::CDrawContext(cairo_surface_t* surface) {
    if (surface != nullptr) {
        surface_ = cairo_surface_reference(surface);
        cr_ = cairo_create(surface_);
    }
}

CDrawContext::~CDrawContext() {
    if (cr_ != nullptr) cairo_destroy(cr_);
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

bool CDrawContext::isValid() const {
    return cr_ != nullptr && cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
}

void CDrawContext::setFrameColor(const CColor& color) {
    if (color == frameColor_) return;
    frameColor_ = color;
    ++colorChanges_;
}

void CDrawContext::setFillColor(const CColor& color) {
    if (color == fillColor_) return;
    fillColor_ = color;
    ++colorChanges_;
}

void CDrawContext::setFontColor(const CColor& color) {
    if (color == fontColor_) return;
    fontColor_ = color;
    ++colorChanges_;
}

void CDrawContext::setFont(const CFontDesc* font, CCoord size, std::int32_t style) {
    if (font == nullptr) return;
    fontName_ = font->getName();
    fontSize_ = size > 0 ? size : font->getSize();
    fontStyle_ = style >= 0 ? style : font->getStyle();
}

void CDrawContext::setClipRect(const CRect& clip) {
    deviceClip_ = clip;
    deviceClip_.offset(offset_.h, offset_.v);
    hasClip_ = true;
    if (!isValid()) return;
    cairo_reset_clip(cr_);
    cairo_rectangle(cr_, deviceClip_.left, deviceClip_.top, deviceClip_.width(),
                    deviceClip_.height());
    cairo_clip(cr_);
}

CRect CDrawContext::getClipRect() const {
    CRect clip = deviceClip_;
    if (!hasClip_ && surface_ != nullptr &&
        cairo_surface_get_type(surface_) == CAIRO_SURFACE_TYPE_IMAGE) {
        clip = CRect(0, 0, cairo_image_surface_get_width(surface_),
                     cairo_image_surface_get_height(surface_));
    }
    return clip.offset(-offset_.h, -offset_.v);
}

void CDrawContext::resetClipRect() {
    hasClip_ = false;
    deviceClip_ = CRect();
    if (isValid()) cairo_reset_clip(cr_);
}

void CDrawContext::setSource(const CColor& color) {
    cairo_set_source_rgba(cr_, channel(color.red), channel(color.green), channel(color.blue),
                          channel(color.alpha));
}

void CDrawContext::drawRect(const CRect& rect, CDrawStyle style) {
    if (!isValid() || rect.isEmpty()) return;
    CRect r = rect;
    r.offset(offset_.h, offset_.v);
    if (style == kDrawFilled || style == kDrawFilledAndStroked) {
        setSource(fillColor_);
        cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
        cairo_fill(cr_);
    }
    if (style == kDrawStroked || style == kDrawFilledAndStroked) {
        // Whole-pixel bands inside the rectangle: no antialiased half pixels.
        const CCoord w = std::min({lineWidth_, r.width(), r.height()});
        setSource(frameColor_);
        cairo_rectangle(cr_, r.left, r.top, r.width(), w);
        cairo_rectangle(cr_, r.left, r.bottom - w, r.width(), w);
        cairo_rectangle(cr_, r.left, r.top + w, w, r.height() - 2 * w);
        cairo_rectangle(cr_, r.right - w, r.top + w, w, r.height() - 2 * w);
        cairo_fill(cr_);
    }
}

void CDrawContext::moveTo(const CPoint& point) { penPosition_ = point; }

void CDrawContext::lineTo(const CPoint& point) {
    if (isValid()) {
        setSource(frameColor_);
        cairo_set_line_width(cr_, lineWidth_);
        const double half = lineWidth_ % 2 == 1 ? 0.5 : 0.0;
        cairo_move_to(cr_, penPosition_.h + offset_.h + half, penPosition_.v + offset_.v + half);
        cairo_line_to(cr_, point.h + offset_.h + half, point.v + offset_.v + half);
        cairo_stroke(cr_);
    }
    penPosition_ = point;
}

void CDrawContext::applyFont() {
    const std::int32_t style = fontStyle_;
    cairo_select_font_face(
        cr_, fontName_.c_str(),
        (style & kItalicFace) != 0 ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
        (style & kBoldFace) != 0 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, fontSize_);
}

CCoord CDrawContext::getStringWidth(const char* text) {
    if (!isValid()) return 0;
    const std::string utf8 = latin1ToUtf8(text);
    applyFont();
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, utf8.c_str(), &extents);
    return static_cast<CCoord>(std::lround(extents.x_advance));
}

void CDrawContext::drawString(const char* text, const CRect& rect, bool opaque,
                              CHoriTxtAlign align) {
    if (!isValid() || rect.isEmpty()) return;
    if (opaque) drawRect(rect, kDrawFilled);
    const std::string utf8 = latin1ToUtf8(text);
    if (utf8.empty()) return;
    CRect r = rect;
    r.offset(offset_.h, offset_.v);
    cairo_save(cr_);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_clip(cr_);
    applyFont();
    cairo_font_extents_t font;
    cairo_font_extents(cr_, &font);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, utf8.c_str(), &extents);
    const double width = extents.x_advance;
    double x = r.left;
    if (align == kCenterText) x = r.left + (r.width() - width) / 2.0;
    if (align == kRightText) x = r.right - width;
    const double baseline = r.top + (r.height() - (font.ascent + font.descent)) / 2.0 + font.ascent;
    setSource(fontColor_);
    cairo_move_to(cr_, std::round(x), std::round(baseline));
    cairo_show_text(cr_, utf8.c_str());
    cairo_restore(cr_);
}

namespace {
cairo_surface_t* makeImage(CCoord width, CCoord height) {
    return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max<CCoord>(1, width),
                                      std::max<CCoord>(1, height));
}
}  // namespace

COffscreenContext::COffscreenContext(CFrame* frame, CCoord width, CCoord height,
                                     const CColor& background)
    : CDrawContext(nullptr),
      frame_(frame),
      width_(std::max<CCoord>(0, width)),
      height_(std::max<CCoord>(0, height)),
      background_(background) {
    surface_ = makeImage(width_, height_);
    cr_ = cairo_create(surface_);
    const CColor savedFill = fillColor_;
    fillColor_ = background_;
    drawRect(CRect(0, 0, width_, height_), kDrawFilled);
    fillColor_ = savedFill;
}

void COffscreenContext::copyTo(CDrawContext* target, const CRect& destination,
                               const CPoint& sourceOffset) {
    if (target == nullptr || !target->isValid() || destination.isEmpty()) return;
    cairo_surface_flush(surface_);
    cairo_t* cr = target->getCairo();
    CRect d = destination;
    const CPoint o = target->getOffset();
    d.offset(o.h, o.v);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface_, d.left - sourceOffset.h, d.top - sourceOffset.v);
    cairo_rectangle(cr, d.left, d.top, d.width(), d.height());
    cairo_fill(cr);
    cairo_restore(cr);
}

}  // namespace VSTGUI
