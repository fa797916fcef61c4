#include <cmath>

#include "ArtPainters.h"
#include "ArtStyle.h"

namespace tq::art {
namespace {

using namespace layout;

void engravedOutline(cairo_t* cr, double x, double y, double w, double h, double radius) {
    cairo_set_line_width(cr, 1);
    roundedRect(cr, x + 1.5, y + 1.5, w - 2, h - 2, radius);
    setColour(cr, palette::edgeLight.withAlpha(0.35));
    cairo_stroke(cr);
    roundedRect(cr, x + 0.5, y + 0.5, w - 2, h - 2, radius);
    setColour(cr, palette::groove);
    cairo_stroke(cr);
}

// A raised plate grouping the controls of one column.
void plate(cairo_t* cr, double x, double y, double w, double h) {
    roundedRect(cr, x, y, w, h, 5);
    setColour(cr, Colour::bytes(255, 255, 255, 10));
    cairo_fill(cr);
    engravedOutline(cr, x, y, w, h, 5);
}

// A recessed well for meters: dark floor, shadow along the top and left edges.
void well(cairo_t* cr, const Rect& r) {
    roundedRect(cr, r.left - 0.5, r.top - 0.5, r.width() + 1, r.height() + 1, 3);
    setColour(cr, palette::edgeLight.withAlpha(0.6));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    roundedRect(cr, r.left, r.top, r.width(), r.height(), 3);
    setColour(cr, palette::well);
    cairo_fill(cr);
    fillRect(cr, r.left + 1, r.top, r.width() - 2, 1, Colour::bytes(6, 6, 7));
}

// Bezel around a display window; the window itself is filled flat with `inside`, so text
// printed into it later blends seamlessly.
void displayWindow(cairo_t* cr, const Rect& r, const Colour& inside) {
    fillRect(cr, r.left - 2, r.top - 2, r.width() + 4, r.height() + 4,
             palette::edgeLight.scaled(0.9));
    fillRect(cr, r.left - 2, r.top - 2, r.width() + 3, r.height() + 3, Colour::bytes(14, 15, 17));
    fillRect(cr, r.left - 1, r.top - 1, r.width() + 2, r.height() + 2, inside.scaled(0.55));
    fillRect(cr, r.left, r.top, r.width(), r.height(), inside);
}

// An engraved horizontal line separating two groups of controls.
void groove(cairo_t* cr, int x, int y, int w) {
    fillRect(cr, x, y, w, 1, palette::groove);
    fillRect(cr, x, y + 1, w, 1, palette::edgeLight.withAlpha(0.3));
}

void screw(cairo_t* cr, double x, double y, double angle) {
    cairo_arc(cr, x, y + 0.6, 3.6, 0, 2 * kPi);
    setColour(cr, Colour::bytes(0, 0, 0, 120));
    cairo_fill(cr);
    cairo_pattern_t* face = cairo_pattern_create_linear(x - 3, y - 3, x + 3, y + 3);
    cairo_pattern_add_color_stop_rgb(face, 0, 0.62, 0.64, 0.67);
    cairo_pattern_add_color_stop_rgb(face, 1, 0.30, 0.31, 0.33);
    cairo_arc(cr, x, y, 3.2, 0, 2 * kPi);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);
    cairo_set_line_width(cr, 1.1);
    setColour(cr, Colour::bytes(30, 31, 33));
    cairo_move_to(cr, x - 2.4 * std::cos(angle), y - 2.4 * std::sin(angle));
    cairo_line_to(cr, x + 2.4 * std::cos(angle), y + 2.4 * std::sin(angle));
    cairo_stroke(cr);
}

void labelAbove(cairo_t* cr, const Rect& r, const char* text, int gap = 4) {
    drawText(cr, text, r.centreX(), r.top - gap, kLabel, palette::label, Align::centre);
}

void knobEndLabels(cairo_t* cr, const Rect& r, const char* low, const char* high) {
    drawText(cr, low, r.left - 1, r.bottom - 3, kScale, palette::labelDim, Align::right);
    drawText(cr, high, r.right + 1, r.bottom - 3, kScale, palette::labelDim, Align::left);
}

void paintHeader(cairo_t* cr) {
    cairo_pattern_t* shade = cairo_pattern_create_linear(0, 0, 0, 25);
    cairo_pattern_add_color_stop_rgb(shade, 0, 0.13, 0.14, 0.15);
    cairo_pattern_add_color_stop_rgb(shade, 1, 0.09, 0.095, 0.105);
    cairo_rectangle(cr, 0, 0, kEditorWidth, 25);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
    fillRect(cr, 0, 24, kEditorWidth, 1, Colour::bytes(6, 6, 7));
    fillRect(cr, 0, 25, kEditorWidth, 1, palette::edgeLight.withAlpha(0.5));

    drawText(cr, "TARVEL", 14, 17, TextStyle{13, true, 2.5}, palette::label);
    const double quoltX = 14 + textWidth(cr, "TARVEL", TextStyle{13, true, 2.5}) + 7;
    drawText(cr, "QUOLT", quoltX, 17, TextStyle{13, false, 2.5}, palette::accent);
    drawText(cr, "FULL BAND PRECISION LIMITER", 510, 16, TextStyle{7.5, true, 1.6},
             palette::labelDim, Align::right);
}

void paintPresetStrip(cairo_t* cr) {
    fillRect(cr, 0, kPresetStripTop, kEditorWidth, kEditorHeight - kPresetStripTop,
             palette::panelDark);
    fillRect(cr, 0, kPresetStripTop, kEditorWidth, 1, Colour::bytes(10, 11, 12));
    fillRect(cr, 0, kPresetStripTop + 1, kEditorWidth, 1, palette::edgeLight.withAlpha(0.35));

    displayWindow(cr, presetName, palette::nameFieldBack);

    // The program menu opens from this small key.
    roundedRect(cr, presetMenu.left + 0.5, presetMenu.top + 0.5, presetMenu.width() - 1,
                presetMenu.height() - 1, 2);
    setColour(cr, Colour::bytes(70, 74, 80));
    cairo_fill_preserve(cr);
    setColour(cr, Colour::bytes(12, 13, 14));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    const double mx = presetMenu.centreX();
    const double my = presetMenu.centreY();
    cairo_move_to(cr, mx - 3.5, my - 1.5);
    cairo_line_to(cr, mx + 3.5, my - 1.5);
    cairo_line_to(cr, mx, my + 2.5);
    cairo_close_path(cr);
    setColour(cr, palette::label);
    cairo_fill(cr);

    const TextStyle memory{9, true, 0};
    drawText(cr, "A", (storeA.right + recallA.left) / 2.0, 459, memory, palette::label,
             Align::centre);
    drawText(cr, "B", (storeB.right + recallB.left) / 2.0, 459, memory, palette::label,
             Align::centre);
}

}  // namespace

Image paintBackground() {
    Image image(kEditorWidth, kEditorHeight);
    Painter cr(image);
    fillRect(cr, 0, 0, kEditorWidth, kEditorHeight, palette::panel);

    // Vertical brushing: the texture changes only across x, so controls that share a bitmap
    // at the same x (the Leveller and L/R Link knobs) sit on identical pixels.
    TextureNoise noise(20061);
    for (int x = 0; x < kEditorWidth; ++x) {
        const double grain = noise.next() * 0.55 + noise.next() * 0.45;
        const double k = 1.0 + grain * 0.045;
        fillRect(cr, x, 26, 1, kPresetStripTop - 26, palette::panel.scaled(k));
    }

    paintHeader(cr);

    plate(cr, 6, 30, 133, 413);
    plate(cr, 385, 30, 133, 413);
    plate(cr, 214, 214, 96, 229);

    screw(cr, 10.5, 34.5, 0.6);
    screw(cr, 513.5, 34.5, 2.1);
    screw(cr, 10.5, 437.5, 1.2);
    screw(cr, 513.5, 437.5, 0.2);

    // Meter wells and their captions.
    well(cr, Rect{144, 34, 210, 413});
    well(cr, Rect{316, 34, 382, 413});
    well(cr, Rect{230, 35, 294, 195});
    drawText(cr, "INPUT", 177, 31, kHeading, palette::label, Align::centre);
    drawText(cr, "OUTPUT", 349, 31, kHeading, palette::label, Align::centre);
    drawText(cr, "GAIN REDUCTION", 262, 31, kHeading, palette::label, Align::centre);
    const TextStyle channel{7, true, 0};
    for (const auto& g : {inputGeometry, outputGeometry}) {
        drawText(cr, "L", g.leftBarX + kBarWidth / 2.0, 411, channel, palette::labelDim,
                 Align::centre);
        drawText(cr, "R", g.rightBarX + kBarWidth / 2.0, 411, channel, palette::labelDim,
                 Align::centre);
    }

    // Readouts under the meters and the value fields under the knobs.
    displayWindow(cr, lcdIn, palette::printerGrey);
    displayWindow(cr, lcdOut, palette::printerGrey);
    displayWindow(cr, lcdGr, palette::printerGrey);
    displayWindow(cr, driveField, palette::wideFieldBack);
    displayWindow(cr, outputField, palette::wideFieldBack);
    for (const Rect& field : {transientField, releaseField, levellerField, linkField})
        displayWindow(cr, field, palette::smallFieldBack);

    // Left column: detector, transient shape, transient, release, drive.
    drawText(cr, "DETECTOR", 79, 37, kHeading, palette::label, Align::centre);
    groove(cr, 16, 79, 113);
    drawText(cr, "TRANSIENT SHAPE", 83, 103, kHeading, palette::label, Align::centre);
    const TextStyle shapeLegend{7, true, 0.4};
    drawText(cr, "HARD", 48, 117, shapeLegend, palette::labelDim, Align::centre);
    drawText(cr, "MED", 81, 117, shapeLegend, palette::labelDim, Align::centre);
    drawText(cr, "SOFT", 114, 117, shapeLegend, palette::labelDim, Align::centre);
    labelAbove(cr, transientKnob, "TRANSIENT");
    labelAbove(cr, releaseKnob, "RELEASE");
    labelAbove(cr, driveKnob, "DRIVE", 3);
    knobEndLabels(cr, transientKnob, "0", "100");
    knobEndLabels(cr, releaseKnob, "1", "1k");
    knobEndLabels(cr, driveKnob, "-24", "+24");
    labelAbove(cr, postMeter, "POST", 3);

    // Right column: requantization, leveller, link, output.
    drawText(cr, "REQUANTIZE", 447, 37, kHeading, palette::label, Align::centre);
    drawText(cr, "BITS", bits.centreX(), 107, kLabel, palette::labelDim, Align::centre);
    drawText(cr, "SHAPE", noiseShape.centreX(), 107, kLabel, palette::labelDim, Align::centre);
    groove(cr, 395, 132, 113);
    labelAbove(cr, levellerKnob, "LEVELLER");
    labelAbove(cr, linkKnob, "L/R LINK");
    labelAbove(cr, outputKnob, "OUTPUT", 3);
    knobEndLabels(cr, levellerKnob, "-12", "off");
    knobEndLabels(cr, linkKnob, "0", "100");
    knobEndLabels(cr, outputKnob, "-12", "0");
    labelAbove(cr, autoOut, "AUTO", 3);

    // Centre: what the attenuation meter shows, metering options, About badge, power.
    drawText(cr, "SHOW", 262, 225, kHeading, palette::label, Align::centre);
    drawText(cr, "METERING", 262, 299, kHeading, palette::label, Align::centre);
    roundedRect(cr, about.left + 0.5, about.top + 0.5, about.width() - 1, about.height() - 2, 3);
    setColour(cr, palette::edgeLight.withAlpha(0.8));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    drawText(cr, "TARVEL", 253, 383, TextStyle{8, true, 1.8}, palette::label, Align::centre);
    drawText(cr, "QUOLT", 253, 394, TextStyle{8, false, 2.4}, palette::accent, Align::centre);
    cairo_new_path(cr);
    cairo_arc(cr, 290.5, 385.5, 4.5, 0, 2 * kPi);
    setColour(cr, palette::labelDim);
    cairo_stroke(cr);
    drawText(cr, "i", 290.5, 388.5, TextStyle{8, true, 0}, palette::label, Align::centre);
    drawText(cr, "POWER", power.centreX(), 440, TextStyle{6.5, true, 0.8}, palette::labelDim,
             Align::centre);

    paintPresetStrip(cr);
    return image;
}

Image paintAboutPanel() {
    const int w = aboutPanel.width();
    const int h = aboutPanel.height();
    Image image(w, h);
    Painter cr(image);
    cairo_pattern_t* shade = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(shade, 0, 0.86, 0.875, 0.89);
    cairo_pattern_add_color_stop_rgb(shade, 1, 0.74, 0.76, 0.78);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
    setColour(cr, Colour::bytes(40, 42, 46));
    cairo_stroke(cr);
    cairo_rectangle(cr, 1.5, 1.5, w - 3, h - 3);
    setColour(cr, Colour::bytes(255, 255, 255, 120));
    cairo_stroke(cr);
    // The first three rows carry the product name, version and latency printed by the editor.
    fillRect(cr, 12, 50, w - 24, 1, Colour::bytes(120, 126, 132));
    fillRect(cr, 12, 51, w - 24, 1, Colour::bytes(255, 255, 255, 150));

    const TextStyle tip{8, false, 0};
    const TextStyle tipTitle{8, true, 0};
    const Colour ink = Colour::bytes(28, 30, 34);
    struct Tip {
        const char* title;
        const char* text;
    };
    const Tip tips[] = {
        {"Knobs", "drag up or right to raise; Shift for fine steps; Ctrl+click sets the default"},
        {"Fields", "click a value and type a number; Enter applies, Escape cancels"},
        {"Meters", "click any meter or readout to reset all meters"},
        {"Metering", "right-click a metering button to save the metering set-up for new instances"},
        {"Defaults", "double-click BANK or PRESET to store, Ctrl+double-click to clear"},
        {"Files", "right-click a load arrow to read a file of the opposite byte order"},
        {"A / B", "the red arrow stores a memory, the green arrow recalls it"},
    };
    double y = 63;
    for (const Tip& t : tips) {
        drawText(cr, t.title, 14, y, tipTitle, ink);
        drawText(cr, t.text, 66, y, tip, ink);
        y += 10.5;
    }
    return image;
}

}  // namespace tq::art
