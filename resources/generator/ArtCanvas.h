#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <string_view>

// Small drawing vocabulary shared by the artwork painters: colours, owned cairo images, text and
// the cutting of multi-frame strips.
namespace tq::art {

struct Colour {
    double r = 0, g = 0, b = 0, a = 1;

    static constexpr Colour bytes(int red, int green, int blue, int alpha = 255) {
        return {red / 255.0, green / 255.0, blue / 255.0, alpha / 255.0};
    }
    // Brightness scaled by k (alpha kept).
    Colour scaled(double k) const;
    // Linear mix towards `other` by t (0 = this, 1 = other).
    Colour mixed(const Colour& other, double t) const;
    Colour withAlpha(double alpha) const { return {r, g, b, alpha}; }
};

// An owned cairo image surface. Opaque images become RGB PNGs, the others RGBA PNGs.
class Image {
  public:
    Image(int width, int height, bool withAlpha = false);
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image();

    cairo_surface_t* surface() const { return surface_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool writePng(const std::string& path) const;

  private:
    cairo_surface_t* surface_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// A cairo context over an image, destroyed with the painter.
class Painter {
  public:
    explicit Painter(const Image& image);
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;
    ~Painter();
    cairo_t* context() const { return cr_; }
    operator cairo_t*() const { return cr_; }

  private:
    cairo_t* cr_;
};

void setColour(cairo_t* cr, const Colour& colour);
void roundedRect(cairo_t* cr, double x, double y, double w, double h, double radius);
void fillRect(cairo_t* cr, double x, double y, double w, double h, const Colour& colour);

enum class Align { left, centre, right };

struct TextStyle {
    double size = 8;
    bool bold = true;
    double tracking = 0;  // extra pixels after every character
};

double textWidth(cairo_t* cr, std::string_view text, const TextStyle& style);
// Draws text with its baseline at y; x is the left edge, centre or right edge per `align`.
void drawText(cairo_t* cr, std::string_view text, double x, double y, const TextStyle& style,
              const Colour& colour, Align align = Align::left);

// Copies the rectangle (sourceX, sourceY, w, h) of `image` to (destX, destY).
void copyRegion(cairo_t* cr, const Image& image, int sourceX, int sourceY, int w, int h, int destX,
                int destY);

// A vertical strip of `frames` frames of w x frameHeight. Each frame starts as the region of
// `background` at (backgroundX, backgroundY) (when given) and is then drawn by `paintFrame` with
// the origin moved to the frame's top-left corner and drawing clipped to the frame.
using FramePainter = std::function<void(cairo_t*, int frame)>;
Image makeStrip(int w, int frameHeight, int frames, const Image* background, int backgroundX,
                int backgroundY, const FramePainter& paintFrame);

// Deterministic pseudo-random numbers for textures, so every build paints the same pixels.
class TextureNoise {
  public:
    explicit TextureNoise(unsigned seed) : state_(seed ? seed : 1u) {}
    double next();  // uniform in [-1, 1)

  private:
    unsigned state_;
};

}  // namespace tq::art
