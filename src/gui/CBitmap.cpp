#include "gui/CBitmap.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

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

// Embedded artwork decoded once per process: every CBitmap of the same
// resource shares one image surface (editors of several instances, each open
// again and again). An entry lives while a CBitmap uses it; the last one gone
// frees the image, so nothing stays behind when the library is unloaded.
// Keyed by the finder too, so a test's finder never gets another's pictures.
struct CachedImage {
    cairo_surface_t* image;  // the cache's own reference
    int users;
};
struct DecodedImageCache {
    std::mutex mutex;  // also guards the current finder
    std::map<std::string, CachedImage> entries;
};
DecodedImageCache& decodedImages() {
    static DecodedImageCache cache;
    return cache;
}

std::string finderKey(const ResourceFinder& finder) {
    char text[64];
    std::snprintf(text, sizeof text, "%jx/%jx:",
                  static_cast<std::uintmax_t>(reinterpret_cast<std::uintptr_t>(finder.byNumber)),
                  static_cast<std::uintmax_t>(reinterpret_cast<std::uintptr_t>(finder.byName)));
    return text;
}

// Names are compared without letter case.
std::string nameKey(const char* name) {
    std::string key = "name:";
    for (const char* p = name; *p != 0; ++p)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return key;
}

// Marks decoded images without a single translucent pixel: those are copied
// (SOURCE) instead of blended (OVER), which gives the same pixels at a fraction
// of the cost; the meters redraw such strips many times a second.
const cairo_user_data_key_t kOpaqueImage{};

bool everyPixelOpaque(cairo_surface_t* image) {
    if (cairo_image_surface_get_format(image) == CAIRO_FORMAT_RGB24) return true;
    if (cairo_image_surface_get_format(image) != CAIRO_FORMAT_ARGB32) return false;
    cairo_surface_flush(image);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    const int stride = cairo_image_surface_get_stride(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            if ((row[x] >> 24) != 0xFF) return false;
        }
    }
    return true;
}

bool isOpaqueImage(cairo_surface_t* image) {
    return cairo_surface_get_user_data(image, &kOpaqueImage) != nullptr;
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

void setResourceFinder(const ResourceFinder& finder) {
    DecodedImageCache& cache = decodedImages();
    std::lock_guard<std::mutex> lock(cache.mutex);
    currentFinder() = finder;
    // A finder may hand out other bytes under the same numbers later (tests
    // do): bitmaps alive keep their images, new ones decode afresh.
    for (auto& [key, entry] : cache.entries) cairo_surface_destroy(entry.image);
    cache.entries.clear();
}

bool ResourceStream::read(unsigned char* out, std::size_t length) {
    if (bytes_.data == nullptr || length > bytes_.size - position_) return false;
    std::memcpy(out, bytes_.data + position_, length);
    position_ += length;
    return true;
}

CBitmap::CBitmap(std::int32_t resourceId) : resourceId_(resourceId) {
    loadResource("id:" + std::to_string(resourceId));
}

CBitmap::CBitmap(const char* resourceName) : resourceName_(resourceName ? resourceName : "") {
    if (resourceName != nullptr) loadResource(nameKey(resourceName));
}

void CBitmap::loadResource(const std::string& resourceKey) {
    DecodedImageCache& cache = decodedImages();
    // Decoding under the lock: a second editor opening at the same time waits
    // for the first decode instead of repeating it.
    std::lock_guard<std::mutex> lock(cache.mutex);
    const ResourceFinder& finder = currentFinder();
    const std::string key = finderKey(finder) + resourceKey;
    auto found = cache.entries.find(key);
    if (found != cache.entries.end()) {
        ++found->second.users;
        adopt(cairo_surface_reference(found->second.image));
        cacheKey_ = key;
        return;
    }
    ResourceBytes bytes;
    if (resourceName_.empty() && finder.byNumber != nullptr) bytes = finder.byNumber(resourceId_);
    if (!resourceName_.empty() && finder.byName != nullptr)
        bytes = finder.byName(resourceName_.c_str());
    decode(bytes);
    if (image_ == nullptr) return;
    cache.entries[key] = CachedImage{cairo_surface_reference(image_), 1};
    cacheKey_ = key;
}

void CBitmap::adopt(cairo_surface_t* image) {
    image_ = image;
    width_ = cairo_image_surface_get_width(image);
    height_ = cairo_image_surface_get_height(image);
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
    if (!cacheKey_.empty()) {
        DecodedImageCache& cache = decodedImages();
        std::lock_guard<std::mutex> lock(cache.mutex);
        // The entry may be gone (a finder change) or hold a newer image.
        auto found = cache.entries.find(cacheKey_);
        if (found != cache.entries.end() && found->second.image == image_ &&
            --found->second.users == 0) {
            cairo_surface_destroy(found->second.image);
            cache.entries.erase(found);
        }
    }
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
    if (everyPixelOpaque(image)) {
        // Any non-null pointer marks it; nothing to free.
        cairo_surface_set_user_data(image, &kOpaqueImage, image, nullptr);
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
    // Pixels outside the image are transparent (EXTEND_NONE): a source rectangle
    // that runs past the strip draws nothing there instead of reading beyond it.
    const CCoord imageLeft = d.left - offset.h;
    const CCoord imageTop = d.top - offset.v;
    const bool opaque = isOpaqueImage(image_);
    if (opaque) {
        // Copied, not blended: only where the image is, or the copy would clear
        // what lies beyond its edge.
        d.bound(CRect(imageLeft, imageTop, imageLeft + width_, imageTop + height_));
        if (d.isEmpty()) return;
    }
    cairo_save(cr);
    if (opaque) cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, image_, imageLeft, imageTop);
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
