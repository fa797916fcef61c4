#pragma once

#include <cairo.h>

#include <cstddef>
#include <cstdint>

#include "EmbeddedResources.h"

namespace tq::testing {

// Red, green, blue and alpha of one pixel, alpha not premultiplied.
struct Pixel {
    int r, g, b, a;
    bool operator==(const Pixel&) const = default;
};

// An embedded PNG decoded with cairo, the way the toolkit decodes it.
class DecodedPng {
  public:
    explicit DecodedPng(EmbeddedResource resource);
    DecodedPng(const DecodedPng&) = delete;
    DecodedPng& operator=(const DecodedPng&) = delete;
    ~DecodedPng();

    bool ok() const { return ok_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool hasAlphaChannel() const;
    Pixel pixel(int x, int y) const;
    // True when the frames [top, top + h) and [otherTop, otherTop + h) are identical.
    bool rowsEqual(int top, int otherTop, int h) const;

  private:
    cairo_surface_t* surface_ = nullptr;
    bool ok_ = false;
    int width_ = 0;
    int height_ = 0;
};

DecodedPng decodeBitmap(int id);

}  // namespace tq::testing
