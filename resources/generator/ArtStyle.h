#pragma once

#include <numbers>

#include "ArtCanvas.h"

// The look shared by every painter: one palette and the fixed geometry of the editor window,
// in frame pixels (left, top, right, bottom; right and bottom exclusive).
namespace tq::art {

inline constexpr double kPi = std::numbers::pi;

struct Rect {
    int left, top, right, bottom;
    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
    constexpr double centreX() const { return (left + right) / 2.0; }
    constexpr double centreY() const { return (top + bottom) / 2.0; }
};

namespace palette {
inline constexpr Colour panel = Colour::bytes(46, 49, 54);
inline constexpr Colour panelDark = Colour::bytes(33, 35, 39);
inline constexpr Colour header = Colour::bytes(26, 28, 31);
inline constexpr Colour groove = Colour::bytes(24, 26, 29);
inline constexpr Colour edgeLight = Colour::bytes(78, 83, 90);
inline constexpr Colour well = Colour::bytes(17, 18, 20);
inline constexpr Colour label = Colour::bytes(204, 209, 214);
inline constexpr Colour labelDim = Colour::bytes(136, 143, 150);
inline constexpr Colour accent = Colour::bytes(240, 168, 48);
inline constexpr Colour accentBright = Colour::bytes(255, 206, 110);
inline constexpr Colour saveBlue = Colour::bytes(110, 196, 255);
inline constexpr Colour ledGreen = Colour::bytes(96, 224, 120);
inline constexpr Colour ledRed = Colour::bytes(255, 72, 40);
// Colours fixed by the text printers and the platform edit boxes.
inline constexpr Colour printerLight = Colour::bytes(223, 247, 255);
inline constexpr Colour printerGrey = Colour::bytes(79, 79, 79);
inline constexpr Colour printerRed = Colour::bytes(229, 53, 5);
inline constexpr Colour wideFieldBack = Colour::bytes(165, 183, 189);
inline constexpr Colour wideFieldText = Colour::bytes(37, 36, 35);
inline constexpr Colour smallFieldBack = Colour::bytes(200, 200, 200);
inline constexpr Colour smallFieldText = Colour::bytes(79, 79, 79);
inline constexpr Colour nameFieldBack = Colour::bytes(189, 207, 218);
}  // namespace palette

// Text styles.
inline constexpr TextStyle kHeading{8.0, true, 1.0};
inline constexpr TextStyle kLabel{7.5, true, 0.6};
inline constexpr TextStyle kLegend{7.5, true, 0.0};
inline constexpr TextStyle kScale{7.0, true, 0.0};

namespace layout {
inline constexpr int kEditorWidth = 524;
inline constexpr int kEditorHeight = 462;
inline constexpr Rect meterIn{147, 38, 207, 408};
inline constexpr Rect meterOut{319, 38, 379, 406};
inline constexpr Rect meterGr{233, 39, 291, 192};
inline constexpr Rect lcdIn{131, 415, 224, 426};
inline constexpr Rect lcdOut{303, 415, 396, 426};
inline constexpr Rect lcdGr{217, 199, 310, 210};
inline constexpr Rect detectorOrder{44, 40, 77, 59};
inline constexpr Rect oversample{81, 40, 114, 59};
inline constexpr Rect meterMode{223, 305, 258, 361};
inline constexpr Rect quantize{412, 40, 445, 59};
inline constexpr Rect autoblack{449, 40, 482, 59};
inline constexpr Rect bits{412, 78, 445, 97};
inline constexpr Rect noiseShape{449, 78, 482, 97};
inline constexpr Rect calibrate{269, 341, 302, 360};
inline constexpr Rect attZoom{269, 265, 302, 284};
inline constexpr Rect attShowLim1{224, 265, 257, 284};
inline constexpr Rect attShowLim2{224, 230, 257, 249};
inline constexpr Rect attShowLevel{269, 230, 302, 249};
inline constexpr Rect transientKnob{55, 169, 105, 217};
inline constexpr Rect releaseKnob{56, 267, 105, 314};
inline constexpr Rect levellerKnob{421, 169, 469, 216};
inline constexpr Rect linkKnob{421, 267, 469, 314};
inline constexpr Rect transShape{38, 121, 128, 146};
inline constexpr Rect power{245, 400, 280, 435};
inline constexpr Rect driveKnob{52, 349, 108, 404};
inline constexpr Rect outputKnob{417, 349, 475, 405};
inline constexpr Rect autoOut{394, 368, 412, 392};
inline constexpr Rect postMeter{116, 368, 134, 392};
inline constexpr Rect about{224, 370, 301, 401};
inline constexpr Rect driveField{43, 409, 117, 427};
inline constexpr Rect outputField{410, 409, 484, 427};
inline constexpr Rect transientField{45, 221, 119, 239};
inline constexpr Rect releaseField{45, 319, 119, 337};
inline constexpr Rect levellerField{411, 221, 485, 239};
inline constexpr Rect linkField{411, 319, 485, 337};
inline constexpr Rect meterOvs{269, 307, 302, 326};
inline constexpr Rect aboutPanel{43, 294, 481, 430};
// Preset panel along the bottom edge.
inline constexpr Rect presetName{194, 447, 318, 461};
inline constexpr Rect presetMenu{320, 448, 333, 460};
inline constexpr Rect presetRocker{340, 447, 370, 460};
inline constexpr Rect loadBank{72, 447, 89, 462};
inline constexpr Rect saveBank{22, 447, 39, 462};
inline constexpr Rect bankLegend{39, 447, 71, 460};
inline constexpr Rect loadPreset{166, 447, 183, 462};
inline constexpr Rect savePreset{104, 447, 121, 462};
inline constexpr Rect presetLegend{122, 447, 166, 460};
inline constexpr Rect recallA{421, 447, 438, 462};
inline constexpr Rect storeA{388, 447, 405, 462};
inline constexpr Rect recallB{486, 447, 503, 462};
inline constexpr Rect storeB{452, 447, 469, 462};
inline constexpr int kPresetStripTop = 444;

// Level meter geometry: bars, scale and the 360-pixel bar area at 6 pixels per dB.
struct LevelMeterGeometry {
    int leftBarX, rightBarX, scaleX;
};
inline constexpr LevelMeterGeometry inputGeometry{150, 191, 164};
inline constexpr LevelMeterGeometry outputGeometry{320, 363, 335};
inline constexpr int kBarWidth = 15;
inline constexpr int kBarTop = 42;
inline constexpr int kBarBottom = 402;
inline constexpr int kScaleTop = 38;
inline constexpr int kScaleWidth = 27;
inline constexpr int kScaleHeight = 367;
inline constexpr int kPixelsPerDb = 6;
}  // namespace layout

}  // namespace tq::art
