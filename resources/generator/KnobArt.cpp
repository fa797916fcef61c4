#include <algorithm>
#include <cmath>

#include "ArtPainters.h"
#include "ArtStyle.h"

namespace tq::art {
namespace {

constexpr int kKnobFrames = 101;
// The pointer sweeps 270 degrees: from 7:30 (frame 0) through 12:00 to 4:30 (frame 100).
// Cairo measures angles clockwise from 3:00.
constexpr double kStartAngle = 0.75 * kPi;
constexpr double kSweep = 1.5 * kPi;
constexpr double kTopAngle = 1.5 * kPi;

void paintKnobFrame(cairo_t* cr, int w, int h, int frame, KnobArc arcOrigin) {
    const double cx = w / 2.0;
    const double cy = h / 2.0;
    const double outer = std::min(w, h) / 2.0 - 1.5;
    const double arcRadius = outer - 1.5;
    const double bodyRadius = arcRadius - 5.0;
    const double angle = kStartAngle + kSweep * frame / (kKnobFrames - 1);

    // Track and value arc.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_width(cr, 3);
    cairo_arc(cr, cx, cy, arcRadius, kStartAngle, kStartAngle + kSweep);
    setColour(cr, Colour::bytes(14, 15, 17));
    cairo_stroke(cr);
    const double from = arcOrigin == KnobArc::fromCentre ? kTopAngle : kStartAngle;
    const double lo = std::min(from, angle);
    const double hi = std::max(from, angle);
    if (hi - lo > 1e-6) {
        cairo_set_line_width(cr, 2);
        cairo_arc(cr, cx, cy, arcRadius, lo, hi);
        setColour(cr, palette::accent);
        cairo_stroke(cr);
    }
    // Scale dots at the ends and the centre of the sweep.
    for (double a : {kStartAngle, kTopAngle, kStartAngle + kSweep}) {
        cairo_arc(cr, cx + (arcRadius + 0.2) * std::cos(a), cy + (arcRadius + 0.2) * std::sin(a),
                  0.9, 0, 2 * kPi);
        setColour(cr, palette::labelDim);
        cairo_fill(cr);
    }

    // Shadow, skirt and cap.
    for (int i = 3; i >= 1; --i) {
        cairo_arc(cr, cx + 0.6, cy + 1.4, bodyRadius + i * 0.8, 0, 2 * kPi);
        setColour(cr, Colour::bytes(0, 0, 0, 40));
        cairo_fill(cr);
    }
    cairo_pattern_t* skirt = cairo_pattern_create_linear(0, cy - bodyRadius, 0, cy + bodyRadius);
    cairo_pattern_add_color_stop_rgb(skirt, 0, 0.42, 0.44, 0.47);
    cairo_pattern_add_color_stop_rgb(skirt, 1, 0.10, 0.105, 0.115);
    cairo_arc(cr, cx, cy, bodyRadius, 0, 2 * kPi);
    cairo_set_source(cr, skirt);
    cairo_fill(cr);
    cairo_pattern_destroy(skirt);

    // Machined top: a fixed conical sheen (the light does not turn with the knob).
    const double capRadius = bodyRadius - 2.2;
    constexpr int kWedges = 180;
    for (int i = 0; i < kWedges; ++i) {
        const double a0 = 2 * kPi * i / kWedges;
        const double a1 = 2 * kPi * (i + 1) / kWedges + 0.01;
        const double sheen = 0.5 + 0.5 * std::cos(2 * (a0 - 0.25 * kPi));
        const double grey = 0.17 + 0.12 * sheen;
        cairo_move_to(cr, cx, cy);
        cairo_arc(cr, cx, cy, capRadius, a0, a1);
        cairo_close_path(cr);
        cairo_set_source_rgb(cr, grey, grey * 1.03, grey * 1.08);
        cairo_fill(cr);
    }
    cairo_set_line_width(cr, 1);
    cairo_arc(cr, cx, cy, capRadius + 0.5, 0, 2 * kPi);
    setColour(cr, Colour::bytes(8, 8, 9, 200));
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy, capRadius - 0.5, 1.05 * kPi, 1.95 * kPi);
    setColour(cr, Colour::bytes(255, 255, 255, 50));
    cairo_stroke(cr);

    // Pointer line from near the centre to the cap's edge.
    const double ux = std::cos(angle);
    const double uy = std::sin(angle);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 3.2);
    cairo_move_to(cr, cx + ux * capRadius * 0.32, cy + uy * capRadius * 0.32);
    cairo_line_to(cr, cx + ux * (capRadius - 1.8), cy + uy * (capRadius - 1.8));
    setColour(cr, Colour::bytes(0, 0, 0, 140));
    cairo_stroke(cr);
    cairo_set_line_width(cr, 2.0);
    cairo_move_to(cr, cx + ux * capRadius * 0.32, cy + uy * capRadius * 0.32);
    cairo_line_to(cr, cx + ux * (capRadius - 1.8), cy + uy * (capRadius - 1.8));
    setColour(cr, Colour::bytes(242, 244, 246));
    cairo_stroke(cr);
}

}  // namespace

Image paintKnob(const Image& background, int x, int y, int w, int frameHeight, KnobArc arc) {
    return makeStrip(w, frameHeight, kKnobFrames, &background, x, y, [&](cairo_t* cr, int frame) {
        paintKnobFrame(cr, w, frameHeight, frame, arc);
    });
}

}  // namespace tq::art
