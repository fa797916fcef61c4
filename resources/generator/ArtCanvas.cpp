#include "ArtCanvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace tq::art {

Colour Colour::scaled(double k) const {
    return {std::clamp(r * k, 0.0, 1.0), std::clamp(g * k, 0.0, 1.0), std::clamp(b * k, 0.0, 1.0),
            a};
}

Colour Colour::mixed(const Colour& other, double t) const {
    return {r + (other.r - r) * t, g + (other.g - g) * t, b + (other.b - b) * t,
            a + (other.a - a) * t};
}

Image::Image(int width, int height, bool withAlpha)
    : surface_(cairo_image_surface_create(withAlpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                          width, height)),
      width_(width),
      height_(height) {}

Image::Image(Image&& other) noexcept
    : surface_(other.surface_), width_(other.width_), height_(other.height_) {
    other.surface_ = nullptr;
}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        if (surface_) cairo_surface_destroy(surface_);
        surface_ = other.surface_;
        width_ = other.width_;
        height_ = other.height_;
        other.surface_ = nullptr;
    }
    return *this;
}

Image::~Image() {
    if (surface_) cairo_surface_destroy(surface_);
}

bool Image::writePng(const std::string& path) const {
    cairo_surface_flush(surface_);
    return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

Painter::Painter(const Image& image) : cr_(cairo_create(image.surface())) {}

Painter::~Painter() { cairo_destroy(cr_); }

void setColour(cairo_t* cr, const Colour& colour) {
    cairo_set_source_rgba(cr, colour.r, colour.g, colour.b, colour.a);
}

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double radius) {
    const double r = std::min({radius, w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -std::numbers::pi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, std::numbers::pi / 2);
    cairo_arc(cr, x + r, y + h - r, r, std::numbers::pi / 2, std::numbers::pi);
    cairo_arc(cr, x + r, y + r, r, std::numbers::pi, 3 * std::numbers::pi / 2);
    cairo_close_path(cr);
}

void fillRect(cairo_t* cr, double x, double y, double w, double h, const Colour& colour) {
    setColour(cr, colour);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

namespace {

void selectFont(cairo_t* cr, const TextStyle& style) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           style.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, style.size);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    // Whole strings look best on hinted advances; letter-spaced text is laid out glyph by glyph
    // and needs the unrounded advances to keep its spacing even.
    cairo_font_options_set_hint_metrics(
        options, style.tracking == 0 ? CAIRO_HINT_METRICS_ON : CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

}  // namespace

double textWidth(cairo_t* cr, std::string_view text, const TextStyle& style) {
    selectFont(cr, style);
    const std::string owned(text);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, owned.c_str(), &extents);
    const double tracking =
        text.empty() ? 0 : style.tracking * static_cast<double>(text.size() - 1);
    return extents.x_advance + tracking;
}

void drawText(cairo_t* cr, std::string_view text, double x, double y, const TextStyle& style,
              const Colour& colour, Align align) {
    const double width = textWidth(cr, text, style);
    double left = x;
    if (align == Align::centre) left = x - width / 2;
    if (align == Align::right) left = x - width;
    left = std::round(left);
    selectFont(cr, style);
    setColour(cr, colour);
    if (style.tracking == 0) {
        const std::string owned(text);
        cairo_move_to(cr, left, y);
        cairo_show_text(cr, owned.c_str());
        return;
    }
    double pen = left;
    for (char c : text) {
        const char single[2] = {c, '\0'};
        cairo_text_extents_t extents;
        cairo_text_extents(cr, single, &extents);
        cairo_move_to(cr, pen, y);
        cairo_show_text(cr, single);
        pen += extents.x_advance + style.tracking;
    }
}

void copyRegion(cairo_t* cr, const Image& image, int sourceX, int sourceY, int w, int h, int destX,
                int destY) {
    cairo_save(cr);
    cairo_rectangle(cr, destX, destY, w, h);
    cairo_clip(cr);
    cairo_set_source_surface(cr, image.surface(), destX - sourceX, destY - sourceY);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);
}

Image makeStrip(int w, int frameHeight, int frames, const Image* background, int backgroundX,
                int backgroundY, const FramePainter& paintFrame) {
    Image strip(w, frameHeight * frames);
    Painter cr(strip);
    for (int frame = 0; frame < frames; ++frame) {
        const int top = frame * frameHeight;
        if (background)
            copyRegion(cr, *background, backgroundX, backgroundY, w, frameHeight, 0, top);
        else
            fillRect(cr, 0, top, w, frameHeight, Colour{0, 0, 0});
        cairo_save(cr);
        cairo_rectangle(cr, 0, top, w, frameHeight);
        cairo_clip(cr);
        cairo_translate(cr, 0, top);
        paintFrame(cr, frame);
        cairo_restore(cr);
    }
    return strip;
}

double TextureNoise::next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return (state_ & 0xffffff) / double(0x800000) - 1.0;
}

}  // namespace tq::art
