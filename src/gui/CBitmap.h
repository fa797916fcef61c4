// Bitmaps decoded once per process from the library's embedded PNG resources.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/CBaseObject.h"
#include "gui/GuiTypes.h"

namespace VSTGUI {

class CDrawContext;

// Bytes of one embedded resource; {nullptr, 0} when there is none.
struct ResourceBytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// Where bitmaps come from. The default finder reads the library's embedded
// artwork; tests install their own. [ui-thread]
struct ResourceFinder {
    ResourceBytes (*byNumber)(int id) = nullptr;
    ResourceBytes (*byName)(const char* name) = nullptr;  // name compared without letter case
};
void setResourceFinder(const ResourceFinder& finder);
ResourceFinder defaultResourceFinder();

// Read-only stream over a resource's bytes, handed to the PNG decoder.
class ResourceStream {
  public:
    explicit ResourceStream(ResourceBytes bytes) : bytes_(bytes) {}
    // Copies `length` bytes; false (and nothing copied) when fewer are left.
    bool read(unsigned char* out, std::size_t length);
    std::size_t position() const { return position_; }
    std::size_t size() const { return bytes_.size; }

  private:
    ResourceBytes bytes_;
    std::size_t position_ = 0;
};

// A decoded image. One that cannot be found or decoded has width and height 0
// and draws nothing.
class CBitmap : public CBaseObject {
  public:
    explicit CBitmap(std::int32_t resourceId);
    explicit CBitmap(const char* resourceName);
    // Decodes a PNG image held in memory.
    CBitmap(const unsigned char* pngData, std::size_t size);
    // Takes a reference on an existing image surface (ARGB32).
    explicit CBitmap(cairo_surface_t* image);
    ~CBitmap() override;

    // Copies the source rectangle starting at `offset` with the size of
    // `destination` into `destination`, blending with the image's own alpha.
    virtual void draw(CDrawContext* context, const CRect& destination,
                      const CPoint& offset = CPoint());
    virtual void drawTransparent(CDrawContext* context, const CRect& destination,
                                 const CPoint& offset = CPoint()) {
        draw(context, destination, offset);
    }
    // Opacity 255 is a plain draw; below it the source rectangle goes through
    // a temporary image drawn with an alpha scale of opacity/255.
    virtual void drawAlphaBlend(CDrawContext* context, const CRect& destination,
                                const CPoint& offset, std::uint8_t opacity);

    CCoord getWidth() const { return width_; }
    CCoord getHeight() const { return height_; }
    bool isLoaded() const { return image_ != nullptr; }
    cairo_surface_t* getSurface() const { return image_; }
    std::int32_t getResourceId() const { return resourceId_; }
    const std::string& getResourceName() const { return resourceName_; }
    void setTransparentColor(const CColor& color) { transparentColor_ = color; }
    CColor getTransparentColor() const { return transparentColor_; }

  private:
    void decode(ResourceBytes bytes);
    // Shares the process-wide decoded image of a resource, decoding it on first use.
    void loadResource(const std::string& resourceKey);
    void adopt(cairo_surface_t* image);

    std::int32_t resourceId_ = -1;
    std::string resourceName_;
    cairo_surface_t* image_ = nullptr;
    std::string cacheKey_;  // set when image_ is shared through the process-wide cache
    CCoord width_ = 0;
    CCoord height_ = 0;
    CColor transparentColor_ = kTransparentCColor;
};

}  // namespace VSTGUI
