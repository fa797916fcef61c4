#include "gui/HeadlessRender.h"

#include <cstdint>
#include <cstring>

#include "gui/CFrame.h"

namespace VSTGUI {

cairo_surface_t* renderFrameToImage(CFrame* frame) {
    if (frame == nullptr) return nullptr;
    std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
    frame->renderAll();
    cairo_surface_t* source = frame->getImage();
    if (source == nullptr) return nullptr;
    const int w = cairo_image_surface_get_width(source);
    const int h = cairo_image_surface_get_height(source);
    cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(copy);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(copy);
    return copy;
}

bool writeFramePng(CFrame* frame, const char* path) {
    if (path == nullptr) return false;
    cairo_surface_t* image = renderFrameToImage(frame);
    if (image == nullptr) return false;
    const bool ok = cairo_surface_write_to_png(image, path) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(image);
    return ok;
}

unsigned int imagePixel(cairo_surface_t* image, int x, int y) {
    if (image == nullptr) return 0;
    const cairo_format_t format = cairo_image_surface_get_format(image);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return 0;
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    if (x < 0 || y < 0 || x >= w || y >= h) return 0;
    cairo_surface_flush(image);
    const unsigned char* row =
        cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, row + 4 * x, sizeof pixel);
    return format == CAIRO_FORMAT_RGB24 ? (pixel | 0xFF000000u) : pixel;
}

}  // namespace VSTGUI
