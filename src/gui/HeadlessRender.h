// Renders a frame into memory and writes it as PNG (tests, screenshots).
#pragma once

#include <cairo.h>

namespace VSTGUI {

class CFrame;

// Draws the whole frame and answers a new reference to an ARGB32 image of
// the frame's size (the caller destroys it), or nullptr.
cairo_surface_t* renderFrameToImage(CFrame* frame);
// Renders and writes a PNG; false when the file cannot be written.
bool writeFramePng(CFrame* frame, const char* path);
// Reads pixel (x, y) of an ARGB32 or RGB24 image as 0xAARRGGBB (premultiplied); 0 outside.
unsigned int imagePixel(cairo_surface_t* image, int x, int y);

}  // namespace VSTGUI
