#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "ArtPainters.h"
#include "ArtStyle.h"

namespace tq::art {
namespace {

using namespace layout;

// How a key's legend and lamp are lit.
enum class Lamp { off, disabled, lit, litDisabled, save, red, redDark };

Colour legendColour(Lamp lamp) {
    switch (lamp) {
        case Lamp::off:
            return Colour::bytes(172, 178, 186);
        case Lamp::disabled:
            return Colour::bytes(96, 100, 107);
        case Lamp::lit:
            return palette::accentBright;
        case Lamp::litDisabled:
            return palette::accent.scaled(0.62);
        case Lamp::save:
            return palette::saveBlue;
        case Lamp::red:
            return Colour::bytes(255, 128, 96);
        case Lamp::redDark:
            return Colour::bytes(150, 62, 46);
    }
    return palette::label;
}

Colour lampColour(Lamp lamp) {
    switch (lamp) {
        case Lamp::off:
        case Lamp::disabled:
            return Colour::bytes(30, 32, 34);
        case Lamp::lit:
            return palette::accent;
        case Lamp::litDisabled:
            return palette::accent.scaled(0.45);
        case Lamp::save:
            return palette::saveBlue;
        case Lamp::red:
            return palette::ledRed;
        case Lamp::redDark:
            return palette::ledRed.scaled(0.38);
    }
    return palette::accent;
}

bool glows(Lamp lamp) { return lamp == Lamp::lit || lamp == Lamp::save || lamp == Lamp::red; }

// A key cap filling (x, y, w, h).
void keyCap(cairo_t* cr, double x, double y, double w, double h, bool pressed = false) {
    roundedRect(cr, x, y, w, h, 3);
    setColour(cr, Colour::bytes(10, 11, 12));
    cairo_fill(cr);
    cairo_pattern_t* face = cairo_pattern_create_linear(0, y + 1, 0, y + h - 1);
    const double top = pressed ? 0.22 : 0.33;
    const double bottom = pressed ? 0.18 : 0.20;
    cairo_pattern_add_color_stop_rgb(face, 0, top, top * 1.02, top * 1.07);
    cairo_pattern_add_color_stop_rgb(face, 1, bottom, bottom * 1.02, bottom * 1.07);
    roundedRect(cr, x + 1, y + 1, w - 2, h - 2, 2.2);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);
    fillRect(cr, x + 2, y + 1, w - 4, 1, Colour::bytes(255, 255, 255, pressed ? 14 : 40));
}

void lampBar(cairo_t* cr, double cx, double y, double width, Lamp lamp) {
    if (glows(lamp)) {
        roundedRect(cr, cx - width / 2 - 1.5, y - 1.5, width + 3, 5, 2.5);
        setColour(cr, lampColour(lamp).withAlpha(0.28));
        cairo_fill(cr);
    }
    roundedRect(cr, cx - width / 2, y, width, 2, 1);
    setColour(cr, lampColour(lamp));
    cairo_fill(cr);
}

void legend(cairo_t* cr, const std::string& text, double cx, double baseline, Lamp lamp,
            const TextStyle& style = kLegend) {
    if (glows(lamp)) {
        for (auto [dx, dy] :
             std::array<std::pair<double, double>, 4>{{{-0.6, 0}, {0.6, 0}, {0, -0.6}, {0, 0.6}}}) {
            drawText(cr, text, cx + dx, baseline + dy, style, legendColour(lamp).withAlpha(0.22),
                     Align::centre);
        }
    }
    drawText(cr, text, cx, baseline, style, legendColour(lamp), Align::centre);
}

// The 33 x 19 push button of the main panel: lamp bar on top, legend below.
void pushButton(cairo_t* cr, double x, double y, double w, double h, const std::string& text,
                Lamp lamp) {
    keyCap(cr, x, y, w, h, glows(lamp));
    lampBar(cr, x + w / 2, y + 3, 12, lamp);
    legend(cr, text, x + w / 2, y + h - 4, lamp);
}

struct ButtonFrame {
    std::string legend;
    Lamp lamp;
};

Image buttonStrip(const Image& background, const Rect& r, const std::vector<ButtonFrame>& frames) {
    return makeStrip(r.width(), r.height(), static_cast<int>(frames.size()), &background, r.left,
                     r.top, [&](cairo_t* cr, int frame) {
                         const ButtonFrame& f = frames[static_cast<std::size_t>(frame)];
                         pushButton(cr, 0, 0, r.width(), r.height(), f.legend, f.lamp);
                     });
}

// Knee curve of a limiter's transfer characteristic, rounder for softer shapes.
void kneeIcon(cairo_t* cr, double x, double y, double size, double softness, const Colour& ink) {
    const double kneeX = x + size * 0.55;
    const double kneeY = y + size * 0.3;
    cairo_set_line_width(cr, 1.4);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const double span = softness * size * 0.42;
    cairo_move_to(cr, x, y + size);
    const double slope = (y + size - kneeY) / (kneeX - x);
    cairo_line_to(cr, kneeX - span, kneeY + span * slope);
    if (span > 0)
        cairo_curve_to(cr, kneeX - span * 0.3, kneeY + span * 0.3 * slope, kneeX, kneeY,
                       kneeX + span, kneeY);
    cairo_line_to(cr, x + size, kneeY);
    setColour(cr, ink);
    cairo_stroke(cr);
}

void arrow(cairo_t* cr, double cx, double cy, double size, bool right, const Colour& ink) {
    const double dir = right ? 1 : -1;
    cairo_move_to(cr, cx - dir * size * 0.45, cy - size * 0.55);
    cairo_line_to(cr, cx + dir * size * 0.55, cy);
    cairo_line_to(cr, cx - dir * size * 0.45, cy + size * 0.55);
    cairo_close_path(cr);
    setColour(cr, ink);
    cairo_fill(cr);
}

}  // namespace

Image paintDetectorOrderButton(const Image& background) {
    return buttonStrip(background, detectorOrder, {{"ORD I", Lamp::off}, {"ORD II", Lamp::lit}});
}

Image paintOversampleButton(const Image& background) {
    return buttonStrip(background, oversample, {{"OVS", Lamp::off}, {"OVS", Lamp::lit}});
}

Image paintQuantizeButton(const Image& background) {
    return buttonStrip(background, quantize, {{"QUANT", Lamp::off}, {"QUANT", Lamp::lit}});
}

Image paintAutoblackButton(const Image& background) {
    return buttonStrip(background, autoblack,
                       {{"BLACK", Lamp::off}, {"BLACK", Lamp::lit}, {"BLACK", Lamp::litDisabled}});
}

Image paintBitsSelector(const Image& background) {
    std::vector<ButtonFrame> frames;
    for (Lamp lamp : {Lamp::disabled, Lamp::lit})
        for (const char* text : {"8 BIT", "16 BIT", "24 BIT"}) frames.push_back({text, lamp});
    return buttonStrip(background, bits, frames);
}

Image paintNoiseShapeSelector(const Image& background) {
    std::vector<ButtonFrame> frames{{"NS OFF", Lamp::off}};
    for (Lamp lamp : {Lamp::disabled, Lamp::lit})
        for (const char* text : {"NS A", "NS B", "NS C"}) frames.push_back({text, lamp});
    return buttonStrip(background, noiseShape, frames);
}

Image paintSaveableButton(const Image& background, int x, int y, const char* text) {
    const Rect r{x, y, x + 33, y + 19};
    return buttonStrip(background, r, {{text, Lamp::off}, {text, Lamp::lit}, {text, Lamp::save}});
}

Image paintCalibrateSelector(const Image& background) {
    return buttonStrip(background, calibrate,
                       {{"CAL", Lamp::off},
                        {"L", Lamp::red},
                        {"R", Lamp::red},
                        {"L+R", Lamp::red},
                        {"L", Lamp::redDark},
                        {"R", Lamp::redDark},
                        {"L+R", Lamp::redDark}});
}

Image paintMeterModeButton(const Image& background) {
    const Rect& r = meterMode;
    const char* scales[] = {"K-12", "K-14", "K-20"};
    return makeStrip(
        r.width(), r.height(), 7, &background, r.left, r.top, [&](cairo_t* cr, int frame) {
            const int w = r.width();
            if (frame == 6) {
                pushButton(cr, 0, 0, w, 19, "PEAK", Lamp::save);
                pushButton(cr, 0, 38, w, 18, "K", Lamp::save);
                legend(cr, "SAVED", w / 2.0, 31.5, Lamp::save, TextStyle{6.5, true, 0.3});
                return;
            }
            const bool peak = frame < 3;
            const int scale = frame % 3;
            pushButton(cr, 0, 0, w, 19, "PEAK", peak ? Lamp::lit : Lamp::off);
            pushButton(cr, 0, 38, w, 18, scales[scale], peak ? Lamp::off : Lamp::lit);
            drawText(cr, peak ? "dBFS" : "dBr", w / 2.0, 31.5, TextStyle{6.5, true, 0.3},
                     palette::labelDim, Align::centre);
        });
}

Image paintTransShapeSwitch(const Image& background) {
    const Rect& r = transShape;
    const int keyX[3] = {1, 34, 67};  // zones x 39..56, 72..89, 105..122 of the frame
    return makeStrip(r.width(), 25, 3, &background, r.left, r.top, [&](cairo_t* cr, int frame) {
        for (int k = 0; k < 3; ++k) {
            const bool lit = k == frame;
            keyCap(cr, keyX[k], 2, 18, 18, lit);
            if (lit) {
                roundedRect(cr, keyX[k] + 2, 4, 14, 14, 2);
                setColour(cr, palette::accent.withAlpha(0.12));
                cairo_fill(cr);
            }
            kneeIcon(cr, keyX[k] + 4.5, 6.5, 9, k * 0.6,
                     lit ? palette::accentBright : Colour::bytes(150, 156, 164));
        }
        // Lamp dots under the keys.
        for (int k = 0; k < 3; ++k) {
            cairo_arc(cr, keyX[k] + 9, 22.5, 1.3, 0, 2 * kPi);
            setColour(cr, k == frame ? palette::accent : Colour::bytes(20, 21, 23));
            cairo_fill(cr);
        }
    });
}

Image paintPowerButton(const Image& background) {
    const Rect& r = power;
    return makeStrip(
        r.width(), r.height(), 2, &background, r.left, r.top, [&](cairo_t* cr, int frame) {
            const bool on = frame == 1;
            const double c = r.width() / 2.0;
            const Colour glow = palette::ledGreen;
            if (on) {
                cairo_pattern_t* halo = cairo_pattern_create_radial(c, c, 10, c, c, 17.5);
                cairo_pattern_add_color_stop_rgba(halo, 0, glow.r, glow.g, glow.b, 0.45);
                cairo_pattern_add_color_stop_rgba(halo, 1, glow.r, glow.g, glow.b, 0);
                cairo_arc(cr, c, c, 17.5, 0, 2 * kPi);
                cairo_set_source(cr, halo);
                cairo_fill(cr);
                cairo_pattern_destroy(halo);
            }
            cairo_arc(cr, c, c + 0.8, 14.5, 0, 2 * kPi);
            setColour(cr, Colour::bytes(0, 0, 0, 110));
            cairo_fill(cr);
            cairo_arc(cr, c, c, 14, 0, 2 * kPi);
            setColour(cr, Colour::bytes(10, 11, 12));
            cairo_fill(cr);
            cairo_set_line_width(cr, 1.6);
            cairo_arc(cr, c, c, 12.6, 0, 2 * kPi);
            setColour(cr, on ? glow : Colour::bytes(58, 62, 66));
            cairo_stroke(cr);
            cairo_pattern_t* face = cairo_pattern_create_linear(0, c - 11, 0, c + 11);
            cairo_pattern_add_color_stop_rgb(face, 0, 0.30, 0.31, 0.33);
            cairo_pattern_add_color_stop_rgb(face, 1, 0.14, 0.145, 0.155);
            cairo_arc(cr, c, c, 11.2, 0, 2 * kPi);
            cairo_set_source(cr, face);
            cairo_fill(cr);
            cairo_pattern_destroy(face);
            // Power symbol.
            const Colour ink = on ? Colour::bytes(170, 255, 185) : Colour::bytes(128, 134, 140);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_width(cr, 1.8);
            cairo_arc(cr, c, c + 0.5, 5.5, -0.5 * kPi + 0.65, 1.5 * kPi - 0.65);
            setColour(cr, ink);
            cairo_stroke(cr);
            cairo_move_to(cr, c, c - 6.5);
            cairo_line_to(cr, c, c - 0.5);
            cairo_stroke(cr);
        });
}

Image paintLedButton(const Image& background) {
    const Rect& r = postMeter;  // the same bitmap serves AutoOut
    const Lamp lamps[] = {Lamp::off, Lamp::lit, Lamp::save};
    return makeStrip(
        r.width(), r.height(), 3, &background, r.left, r.top, [&](cairo_t* cr, int frame) {
            const Lamp lamp = lamps[frame];
            keyCap(cr, 0, 0, r.width(), r.height(), glows(lamp));
            const double cx = r.width() / 2.0;
            const double cy = r.height() / 2.0;
            if (glows(lamp)) {
                cairo_pattern_t* halo = cairo_pattern_create_radial(cx, cy, 1, cx, cy, 7);
                const Colour c = lampColour(lamp);
                cairo_pattern_add_color_stop_rgba(halo, 0, c.r, c.g, c.b, 0.55);
                cairo_pattern_add_color_stop_rgba(halo, 1, c.r, c.g, c.b, 0);
                cairo_arc(cr, cx, cy, 7, 0, 2 * kPi);
                cairo_set_source(cr, halo);
                cairo_fill(cr);
                cairo_pattern_destroy(halo);
            }
            cairo_arc(cr, cx, cy, 3.2, 0, 2 * kPi);
            setColour(cr, Colour::bytes(6, 6, 7));
            cairo_fill(cr);
            cairo_arc(cr, cx, cy, 2.4, 0, 2 * kPi);
            setColour(cr, lampColour(lamp));
            cairo_fill(cr);
            if (glows(lamp)) {
                cairo_arc(cr, cx - 0.7, cy - 0.7, 0.9, 0, 2 * kPi);
                setColour(cr, Colour::bytes(255, 255, 255, 170));
                cairo_fill(cr);
            }
        });
}

Image paintPresetArrow(const Image& background, int x, int y, ArrowColour colour) {
    const Colour grey = Colour::bytes(150, 156, 164);
    const Colour hover =
        colour == ArrowColour::green ? Colour::bytes(60, 190, 90) : Colour::bytes(210, 60, 45);
    const Colour pressed =
        colour == ArrowColour::green ? Colour::bytes(120, 255, 140) : Colour::bytes(255, 110, 80);
    const Colour inks[] = {grey, hover, pressed};
    return makeStrip(17, 15, 3, &background, x, y,
                     [&](cairo_t* cr, int frame) { arrow(cr, 8.5, 7.0, 8, true, inks[frame]); });
}

Image paintPresetLegend(const Image& background, int x, int y, int w, int h, const char* text) {
    const Colour inks[] = {Colour::bytes(240, 242, 245), Colour::bytes(210, 60, 45),
                           Colour::bytes(255, 110, 80)};
    return makeStrip(w, h, 3, &background, x, y, [&](cairo_t* cr, int frame) {
        drawText(cr, text, w / 2.0, h - 3, TextStyle{7.5, true, 0.8}, inks[frame], Align::centre);
    });
}

Image paintMenuArrow() {
    Image image(7, 7);
    Painter cr(image);
    fillRect(cr, 0, 0, 7, 7, palette::panelDark);
    cairo_move_to(cr, 0.5, 1.5);
    cairo_line_to(cr, 6.5, 1.5);
    cairo_line_to(cr, 3.5, 5.5);
    cairo_close_path(cr);
    setColour(cr, palette::label);
    cairo_fill(cr);
    return image;
}

Image paintPresetRocker(const Image& background) {
    const Rect& r = presetRocker;
    // Frames: idle, left hovered, right hovered, left pressed, right pressed.
    return makeStrip(r.width(), r.height(), 5, &background, r.left, r.top,
                     [&](cairo_t* cr, int frame) {
                         const int w = r.width();
                         const int h = r.height();
                         const bool leftPressed = frame == 3;
                         const bool rightPressed = frame == 4;
                         keyCap(cr, 0, 0, w / 2.0, h, leftPressed);
                         keyCap(cr, w / 2.0, 0, w / 2.0, h, rightPressed);
                         const Colour idle = Colour::bytes(170, 176, 184);
                         const Colour hover = Colour::bytes(245, 247, 250);
                         const Colour pressed = palette::accentBright;
                         const Colour left = leftPressed ? pressed : frame == 1 ? hover : idle;
                         const Colour right = rightPressed ? pressed : frame == 2 ? hover : idle;
                         arrow(cr, w / 4.0, h / 2.0, 7, false, left);
                         arrow(cr, 3 * w / 4.0, h / 2.0, 7, true, right);
                     });
}

}  // namespace tq::art
