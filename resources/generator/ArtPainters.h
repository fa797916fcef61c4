#pragma once

#include "ArtCanvas.h"

// One painter per family of bitmaps. Every painter returns an image of exactly the size and frame
// layout the editor expects for that bitmap number.
namespace tq::art {

// 128: the editor background, 524 x 462.
Image paintBackground();
// 157: the About panel, 438 x 136.
Image paintAboutPanel();

// Level meter bars, 15 x 432 each.
Image paintPeakBar(bool lit);  // 130 lit, 155 unlit
Image paintKBar(bool lit);     // 154 lit, 129 unlit
// Level meter scales, 27 x 367, cut from the background under the scale of the input or output
// meter. `topDb` is the label at the top of the bar area (+12, +14 or +20).
Image paintLevelScale(const Image& background, bool outputMeter, int topDb);
// 156: attenuation bar, 15 x 203.
Image paintAttenuationBar();
// 167: attenuation scale, 58 x 306 (0 .. -24 dB, then 0 .. -12 dB).
Image paintAttenuationScale(const Image& background);

// Knob strips of 101 frames cut from the background at (x, y); `arc` says where the lit value
// arc starts: at the start of the sweep, or at 12 o'clock for a knob centred on 0 dB.
enum class KnobArc { fromStart, fromCentre };
Image paintKnob(const Image& background, int x, int y, int w, int frameHeight, KnobArc arc);

// Buttons and selectors of the main panel.
Image paintDetectorOrderButton(const Image& background);  // 139
Image paintOversampleButton(const Image& background);     // 140
Image paintMeterModeButton(const Image& background);      // 141
Image paintBitsSelector(const Image& background);         // 142
Image paintNoiseShapeSelector(const Image& background);   // 143
Image paintSaveableButton(const Image& background, int x, int y,
                          const char* legend);          // 144,160,164..166
Image paintCalibrateSelector(const Image& background);  // 145
Image paintTransShapeSwitch(const Image& background);   // 146
Image paintPowerButton(const Image& background);        // 149
Image paintLedButton(const Image& background);          // 161
Image paintQuantizeButton(const Image& background);     // 162
Image paintAutoblackButton(const Image& background);    // 163

// Preset panel.
enum class ArrowColour { green, red };
Image paintPresetArrow(const Image& background, int x, int y, ArrowColour colour);  // 990, 991
Image paintPresetLegend(const Image& background, int x, int y, int w, int h,
                        const char* legend);       // 992, 993
Image paintMenuArrow();                            // 994
Image paintPresetRocker(const Image& background);  // 995

// Bitmap fonts, 5 x 1536: 96 glyphs in the normal style, then 96 in the highlighted style.
struct FontColours {
    Colour normalInk, normalBack, highlightInk, highlightBack;
};
Image paintFontStrip(const FontColours& colours, bool transparentBack);

}  // namespace tq::art
