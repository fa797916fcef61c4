#include "gui/CBitmap.h"

#include <cstring>

#include "gui/CDrawContext.h"

#if __has_include("EmbeddedResources.h")
#include "EmbeddedResources.h"
#define TQ_HAS_EMBEDDED_RESOURCES 1
#endif

namespace VSTGUI {

namespace {

#ifdef TQ_HAS_EMBEDDED_RESOURCES
ResourceBytes embeddedByNumber(int id) {
    const tq::EmbeddedResource r = tq::findBitmapResource(id);
    return {r.data, r.size};
}
ResourceBytes embeddedByName(const char* name) {
    const tq::EmbeddedResource r = tq::findNamedResource(name);
    return {r.data, r.size};
}
#endif

ResourceFinder& currentFinder() {
    static ResourceFinder finder = defaultResourceFinder();
    return finder;
}

cairo_status_t readFromStream(void* closure, unsigned char* data, unsigned int length) {
    auto* stream = static_cast<ResourceStream*>(closure);
    return stream->read(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_READ_ERROR;
}

}  // namespace

ResourceFinder defaultResourceFinder() {
    ResourceFinder finder;
#ifdef TQ_HAS_EMBEDDED_RESOURCES
    finder.byNumber = embeddedByNumber;
    finder.byName = embeddedByName;
#endif
    return finder;
}

void setResourceFinder(const ResourceFinder& finder) { currentFinder() = finder; }

bool ResourceStream::read(unsigned char* out, std::size_t length) {
    if (bytes_.data == nullptr || length > bytes_.size - position_) return false;
    std::memcpy(out, bytes_.data + position_, length);
    position_ += length;
    return true;
}

CBitmap::CBitmap(std::int32_t resourceId) : resourceId_(resourceId) {
    const ResourceFinder& finder = currentFinder();
    if (finder.byNumber != nullptr) decode(finder.byNumber(resourceId));
}

CBitmap::CBitmap(const char* resourceName) : resourceName_(resourceName ? resourceName : "") {
    const ResourceFinder& finder = currentFinder();
    if (resourceName != nullptr && finder.byName != nullptr) decode(finder.byName(resourceName));
}

CBitmap::CBitmap(const unsigned char* pngData, std::size_t size) { decode({pngData, size}); }

CBitmap::CBitmap(cairo_surface_t* image) {
    if (image == nullptr || cairo_surface_status(image) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(image) != CAIRO_SURFACE_TYPE_IMAGE)
        return;
    image_ = cairo_surface_reference(image);
    width_ = cairo_image_surface_get_width(image);
    height_ = cairo_image_surface_get_height(image);
}

CBitmap::~CBitmap() {
    if (image_ != nullptr) cairo_surface_destroy(image_);
}

void CBitmap::decode(ResourceBytes bytes) {
    if (bytes.data == nullptr || bytes.size == 0) return;
    ResourceStream stream(bytes);
    cairo_surface_t* image = cairo_image_surface_create_from_png_stream(readFromStream, &stream);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return;
    }
    image_ = image;
    width_ = cairo_image_surface_get_width(image);
    height_ = cairo_image_surface_get_height(image);
}

void CBitmap::draw(CDrawContext* context, const CRect& destination, const CPoint& offset) {
    if (image_ == nullptr || context == nullptr || !context->isValid() || destination.isEmpty())
        return;
    cairo_t* cr = context->getCairo();
    CRect d = destination;
    const CPoint o = context->getOffset();
    d.offset(o.h, o.v);
    cairo_save(cr);
    // Pixels outside the image are transparent (EXTEND_NONE): a source rectangle
    // that runs past the strip draws nothing there instead of reading beyond it.
    cairo_set_source_surface(cr, image_, d.left - offset.h, d.top - offset.v);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, d.left, d.top, d.width(), d.height());
    cairo_fill(cr);
    cairo_restore(cr);
}

void CBitmap::drawAlphaBlend(CDrawContext* context, const CRect& destination, const CPoint& offset,
                             std::uint8_t opacity) {
    if (opacity == 255) {
        draw(context, destination, offset);
        return;
    }
    if (image_ == nullptr || context == nullptr || !context->isValid() || destination.isEmpty())
        return;
    cairo_surface_t* temporary =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, destination.width(), destination.height());
    cairo_t* tcr = cairo_create(temporary);
    cairo_set_operator(tcr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(tcr, image_, -offset.h, -offset.v);
    cairo_paint(tcr);
    cairo_destroy(tcr);

    cairo_t* cr = context->getCairo();
    CRect d = destination;
    const CPoint o = context->getOffset();
    d.offset(o.h, o.v);
    cairo_save(cr);
    cairo_rectangle(cr, d.left, d.top, d.width(), d.height());
    cairo_clip(cr);
    cairo_set_source_surface(cr, temporary, d.left, d.top);
    cairo_paint_with_alpha(cr, opacity / 255.0);
    cairo_restore(cr);
    cairo_surface_destroy(temporary);
}

}  // namespace VSTGUI
