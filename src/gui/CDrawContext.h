// Drawing on a cairo surface: colours, fonts, rectangles, strings, off-screen images.
//
// A draw context belongs to the thread that draws (the frame's thread, or the
// caller in headless use); it is not shared between threads.
#pragma once

#include <cairo.h>

#include <string>

#include "gui/CBaseObject.h"
#include "gui/GuiTypes.h"

namespace VSTGUI {

class CFrame;

enum CTxtFace : std::int32_t { kNormalFace = 0, kBoldFace = 1 << 1, kItalicFace = 1 << 2 };

// A font by family name, pixel size and style.
class CFontDesc : public CBaseObject {
  public:
    CFontDesc(const char* name, CCoord size, std::int32_t style = kNormalFace)
        : name_(name != nullptr ? name : "sans-serif"), size_(size), style_(style) {}
    const char* getName() const { return name_.c_str(); }
    CCoord getSize() const { return size_; }
    std::int32_t getStyle() const { return style_; }
    void setSize(CCoord size) { size_ = size; }
    void setStyle(std::int32_t style) { style_ = style; }

  private:
    std::string name_;
    CCoord size_;
    std::int32_t style_;
};
using CFontRef = CFontDesc*;

// The standard fonts; they live as long as the library.
extern const CFontRef kSystemFont;
extern const CFontRef kNormalFontVeryBig;
extern const CFontRef kNormalFontBig;
extern const CFontRef kNormalFont;
extern const CFontRef kNormalFontSmall;
extern const CFontRef kNormalFontSmaller;
extern const CFontRef kNormalFontVerySmall;
extern const CFontRef kSymbolFont;

// 8-bit text (Latin-1) as UTF-8 for cairo; control characters become spaces, so
// no byte sequence can put a cairo context into its error state.
std::string latin1ToUtf8(const char* text);

class CDrawContext : public CBaseObject {
  public:
    // Draws on `surface`, which the context keeps a reference to.
    explicit CDrawContext(cairo_surface_t* surface);
    ~CDrawContext() override;

    // Colour setters do nothing when the colour is unchanged.
    void setFrameColor(const CColor& color);
    void setFillColor(const CColor& color);
    void setFontColor(const CColor& color);
    CColor getFrameColor() const { return frameColor_; }
    CColor getFillColor() const { return fillColor_; }
    CColor getFontColor() const { return fontColor_; }
    // How many colour setter calls actually changed a colour.
    int getColorChangeCount() const { return colorChanges_; }

    void setFont(const CFontDesc* font, CCoord size = 0, std::int32_t style = -1);
    const std::string& getFontName() const { return fontName_; }
    CCoord getFontSize() const { return fontSize_; }
    std::int32_t getFontStyle() const { return fontStyle_; }
    void setLineWidth(CCoord width) { lineWidth_ = std::max<CCoord>(1, width); }
    CCoord getLineWidth() const { return lineWidth_; }

    // Added to every coordinate handed to the drawing operations.
    void setOffset(const CPoint& offset) { offset_ = offset; }
    CPoint getOffset() const { return offset_; }

    // Clip rectangle in the caller's coordinates (the offset is applied now).
    void setClipRect(const CRect& clip);
    CRect getClipRect() const;
    void resetClipRect();

    // Style kDrawStroked: a frame-coloured border of line width inside the
    // rectangle; kDrawFilled: the rectangle in the fill colour.
    void drawRect(const CRect& rect, CDrawStyle style = kDrawStroked);
    void fillRect(const CRect& rect) { drawRect(rect, kDrawFilled); }
    void moveTo(const CPoint& point);
    void lineTo(const CPoint& point);

    // Text in the font colour, vertically centred in `rect` and clipped to it;
    // `opaque` fills the rectangle with the fill colour first.
    void drawString(const char* text, const CRect& rect, bool opaque = false,
                    CHoriTxtAlign align = kCenterText);
    CCoord getStringWidth(const char* text);

    cairo_t* getCairo() const { return cr_; }
    cairo_surface_t* getSurface() const { return surface_; }
    bool isValid() const;

  protected:
    void applyFont();
    void setSource(const CColor& color);

    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    CPoint offset_;
    CRect deviceClip_;
    bool hasClip_ = false;
    CColor frameColor_ = kBlackCColor;
    CColor fillColor_ = kWhiteCColor;
    CColor fontColor_ = kBlackCColor;
    std::string fontName_ = "DejaVu Sans";
    CCoord fontSize_ = 12;
    std::int32_t fontStyle_ = kNormalFace;
    CCoord lineWidth_ = 1;
    CPoint penPosition_;
    int colorChanges_ = 0;
};

// A 32-bit image addressed in frame coordinates; copyTo moves one rectangle of
// it to another context in a single operation.
class COffscreenContext : public CDrawContext {
  public:
    COffscreenContext(CFrame* frame, CCoord width, CCoord height,
                      const CColor& background = kBlackCColor);
    CCoord getWidth() const { return width_; }
    CCoord getHeight() const { return height_; }
    CFrame* getFrame() const { return frame_; }
    CColor getBackgroundColor() const { return background_; }

    // Copies the image area starting at `sourceOffset` with the size of
    // `destination` into `destination` of `target` (target's offset applied).
    void copyTo(CDrawContext* target, const CRect& destination, const CPoint& sourceOffset);
    void copyFrom(CDrawContext* target, const CRect& destination, const CPoint& sourceOffset) {
        copyTo(target, destination, sourceOffset);
    }

  private:
    CFrame* frame_;
    CCoord width_;
    CCoord height_;
    CColor background_;
};

}  // namespace VSTGUI
