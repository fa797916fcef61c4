#include "DecodedPng.h"

#include <cstring>

namespace tq::testing {
namespace {

struct ReadCursor {
    const unsigned char* data;
    std::size_t size;
    std::size_t position;
};

cairo_status_t readFromMemory(void* closure, unsigned char* out, unsigned int length) {
    auto* cursor = static_cast<ReadCursor*>(closure);
    if (cursor->size - cursor->position < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, cursor->data + cursor->position, length);
    cursor->position += length;
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

DecodedPng::DecodedPng(EmbeddedResource resource) {
    if (resource.data == nullptr || resource.size == 0) return;
    ReadCursor cursor{resource.data, resource.size, 0};
    surface_ = cairo_image_surface_create_from_png_stream(readFromMemory, &cursor);
    ok_ = cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS;
    if (ok_) {
        cairo_surface_flush(surface_);
        width_ = cairo_image_surface_get_width(surface_);
        height_ = cairo_image_surface_get_height(surface_);
    }
}

DecodedPng::~DecodedPng() {
    if (surface_) cairo_surface_destroy(surface_);
}

bool DecodedPng::hasAlphaChannel() const {
    return ok_ && cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_ARGB32;
}

Pixel DecodedPng::pixel(int x, int y) const {
    if (!ok_ || x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0, 0};
    const unsigned char* row =
        cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
    std::uint32_t word;
    std::memcpy(&word, row + 4 * x, sizeof word);
    const int a = hasAlphaChannel() ? static_cast<int>(word >> 24) : 255;
    auto channel = [&](int shift) {
        const int premultiplied = static_cast<int>((word >> shift) & 0xff);
        return a == 0 ? 0 : (premultiplied * 255 + a / 2) / a;
    };
    return {channel(16), channel(8), channel(0), a};
}

bool DecodedPng::rowsEqual(int top, int otherTop, int h) const {
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int y = 0; y < h; ++y)
        if (std::memcmp(data + (top + y) * stride, data + (otherTop + y) * stride,
                        static_cast<std::size_t>(width_) * 4) != 0)
            return false;
    return true;
}

DecodedPng decodeBitmap(int id) { return DecodedPng(findBitmapResource(id)); }

}  // namespace tq::testing
