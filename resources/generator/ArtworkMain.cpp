// Build-time artwork generator for the editor.
//
//   tq_artwork_generator <art-dir> [<shots-dir>]
//
// Writes every numbered bitmap as bitmap_<number>.png and the two PNG fonts under their resource
// names into <art-dir>. With <shots-dir> it also writes copies for people to look at, a
// composed picture of the whole editor (closed and with the About panel open) and contact
// sheets of the multi-frame strips.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ArtPainters.h"
#include "ArtStyle.h"

namespace tq::art {
namespace {

using namespace layout;

struct Artwork {
    int id;            // bitmap number, 0 for the named PNG fonts
    std::string name;  // file name in the art directory
    int frames;
    Image image;
};

const Artwork& find(const std::vector<Artwork>& art, int id) {
    for (const Artwork& a : art)
        if (a.id == id) return a;
    std::fprintf(stderr, "no artwork for bitmap %d\n", id);
    std::exit(1);
}

std::vector<Artwork> paintAll() {
    std::vector<Artwork> art;
    auto add = [&](int id, int frames, Image image) {
        art.push_back({id, "bitmap_" + std::to_string(id) + ".png", frames, std::move(image)});
    };
    Image background = paintBackground();

    add(129, 1, paintKBar(false));
    add(130, 1, paintPeakBar(true));
    add(131, 1, paintLevelScale(background, false, 20));
    add(132, 1, paintLevelScale(background, false, 14));
    add(133, 1, paintLevelScale(background, false, 12));
    add(134, 1, paintLevelScale(background, true, 20));
    add(135, 1, paintLevelScale(background, true, 14));
    add(136, 1, paintLevelScale(background, true, 12));
    add(137, 192,
        paintFontStrip({palette::printerGrey, palette::printerLight, palette::printerLight,
                        palette::printerGrey},
                       false));
    add(138, 192,
        paintFontStrip({palette::printerRed, palette::printerLight, palette::printerLight,
                        palette::printerRed},
                       false));
    add(139, 2, paintDetectorOrderButton(background));
    add(140, 2, paintOversampleButton(background));
    add(141, 7, paintMeterModeButton(background));
    add(142, 6, paintBitsSelector(background));
    add(143, 7, paintNoiseShapeSelector(background));
    add(144, 3, paintSaveableButton(background, attZoom.left, attZoom.top, "ZOOM"));
    add(145, 7, paintCalibrateSelector(background));
    add(146, 3, paintTransShapeSwitch(background));
    add(147, 101,
        paintKnob(background, levellerKnob.left, levellerKnob.top, 48, 47, KnobArc::fromStart));
    add(148, 101, paintKnob(background, linkKnob.left, linkKnob.top, 48, 47, KnobArc::fromStart));
    add(149, 2, paintPowerButton(background));
    add(150, 101,
        paintKnob(background, driveKnob.left, driveKnob.top, 56, 55, KnobArc::fromCentre));
    add(151, 101,
        paintKnob(background, outputKnob.left, outputKnob.top, 58, 56, KnobArc::fromStart));
    add(152, 101,
        paintKnob(background, transientKnob.left, transientKnob.top, 50, 48, KnobArc::fromStart));
    add(153, 101,
        paintKnob(background, releaseKnob.left, releaseKnob.top, 49, 47, KnobArc::fromStart));
    add(154, 1, paintKBar(true));
    add(155, 1, paintPeakBar(false));
    add(156, 1, paintAttenuationBar());
    add(157, 1, paintAboutPanel());
    add(160, 3, paintSaveableButton(background, meterOvs.left, meterOvs.top, "OVS"));
    add(161, 3, paintLedButton(background));
    add(162, 2, paintQuantizeButton(background));
    add(163, 3, paintAutoblackButton(background));
    add(164, 3, paintSaveableButton(background, attShowLim1.left, attShowLim1.top, "lim1"));
    add(165, 3, paintSaveableButton(background, attShowLim2.left, attShowLim2.top, "lim2"));
    add(166, 3, paintSaveableButton(background, attShowLevel.left, attShowLevel.top, "level"));
    add(167, 2, paintAttenuationScale(background));
    add(990, 3, paintPresetArrow(background, loadBank.left, loadBank.top, ArrowColour::green));
    add(991, 3, paintPresetArrow(background, saveBank.left, saveBank.top, ArrowColour::red));
    add(992, 3, paintPresetLegend(background, bankLegend.left, bankLegend.top, 32, 13, "BANK"));
    add(993, 3,
        paintPresetLegend(background, presetLegend.left, presetLegend.top, 44, 13, "PRESET"));
    add(994, 1, paintMenuArrow());
    add(995, 5, paintPresetRocker(background));
    art.push_back({0, "bmp00158.png", 192,
                   paintFontStrip({palette::smallFieldText, {}, palette::printerLight, {}}, true)});
    art.push_back({0, "bmp00159.png", 192,
                   paintFontStrip({palette::wideFieldText, palette::wideFieldBack,
                                   palette::wideFieldBack, palette::wideFieldText},
                                  false)});
    art.push_back({128, "bitmap_128.png", 1, std::move(background)});
    std::sort(art.begin(), art.end(), [](const Artwork& a, const Artwork& b) {
        return (a.id == 0 ? 100000 : a.id) < (b.id == 0 ? 100000 : b.id) ||
               (a.id == b.id && a.name < b.name);
    });
    return art;
}

// Largest difference of any colour channel between two regions of the background.
int backgroundDifference(const Image& background, const Rect& a, const Rect& b) {
    cairo_surface_flush(background.surface());
    const unsigned char* pixels = cairo_image_surface_get_data(background.surface());
    const int stride = cairo_image_surface_get_stride(background.surface());
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int channel = 0; channel < 3; ++channel) {
                const int pa = pixels[(a.top + y) * stride + (a.left + x) * 4 + channel];
                const int pb = pixels[(b.top + y) * stride + (b.left + x) * 4 + channel];
                worst = std::max(worst, std::abs(pa - pb));
            }
    return worst;
}

// Bitmaps drawn at several places are cut from the background at their first place, so the
// background must look the same under every other place.
bool checkSharedBitmaps(const std::vector<Artwork>& art) {
    const std::vector<std::vector<Rect>> shared = {
        {postMeter, autoOut},
        {loadBank, loadPreset, recallA, recallB},
        {saveBank, savePreset, storeA, storeB},
    };
    const Image& background = find(art, 128).image;
    bool ok = true;
    for (const auto& places : shared)
        for (std::size_t i = 1; i < places.size(); ++i) {
            const int difference = backgroundDifference(background, places[0], places[i]);
            if (difference > 6) {
                std::fprintf(stderr, "background differs by %d under a shared bitmap at (%d, %d)\n",
                             difference, places[i].left, places[i].top);
                ok = false;
            }
        }
    return ok;
}

void drawFrame(cairo_t* cr, const Artwork& a, int frame, const Rect& where) {
    const int frameHeight = a.image.height() / a.frames;
    copyRegion(cr, a.image, 0, frame * frameHeight, where.width(), where.height(), where.left,
               where.top);
}

// Prints like the editor's bitmap text printer: 6-pixel advance, cell top 7 rows above the
// baseline, optional cell fill one column wider than the glyph.
void printText(cairo_t* cr, const Artwork& font, int x, int baseline, const std::string& text,
               bool highlight, const Colour* fill) {
    for (char c : text) {
        int glyph = (static_cast<unsigned char>(c) & 127) - 32 + (highlight ? 96 : 0);
        if (glyph < 0 || glyph > 191) glyph = 0;
        if (fill) fillRect(cr, x, baseline - 7, 6, 8, *fill);
        cairo_save(cr);
        cairo_rectangle(cr, x, baseline - 7, 5, 8);
        cairo_clip(cr);
        cairo_set_source_surface(cr, font.image.surface(), x, baseline - 7 - glyph * 8);
        cairo_paint(cr);
        cairo_restore(cr);
        x += 6;
    }
}

void drawLevelMeter(cairo_t* cr, const std::vector<Artwork>& art, const LevelMeterGeometry& g,
                    int mode, double valueL, double valueR, double holdL, double holdR,
                    int scaleId) {
    copyRegion(cr, find(art, scaleId).image, 0, 0, kScaleWidth, kScaleHeight, g.scaleX, kScaleTop);
    const int bars[2] = {g.leftBarX, g.rightBarX};
    const double values[2] = {valueL, valueR};
    const double holds[2] = {holdL, holdR};
    for (int c = 0; c < 2; ++c) {
        auto height = [](double db, double offset) {
            return std::clamp(static_cast<int>(6 * (db + offset) + 0.5), 0, 360);
        };
        if (mode == 0) {
            const int h = height(holds[c], 48);
            copyRegion(cr, find(art, 130).image, 0, 408 - h, kBarWidth, h, bars[c], 402 - h);
            copyRegion(cr, find(art, 155).image, 0, 48, kBarWidth, 360 - h, bars[c], 42);
        } else {
            const int base = mode == 1 ? 432 : mode == 2 ? 420 : 384;
            const int h = height(values[c], 60);
            copyRegion(cr, find(art, 154).image, 0, base - h, kBarWidth, h, bars[c], 402 - h);
            copyRegion(cr, find(art, 129).image, 0, base - 360, kBarWidth, 360 - h, bars[c], 42);
            const int k = height(holds[c], 60);
            if (k > 2)
                copyRegion(cr, find(art, 154).image, 0, base - k, kBarWidth, 3, bars[c], 402 - k);
        }
    }
}

void drawReadout(cairo_t* cr, const std::vector<Artwork>& art, const Rect& r, double left,
                 double right, bool levelMode, const char* unit) {
    const int L = r.left;
    const int B = r.bottom;
    const Colour light = palette::printerLight;
    const Colour grey = palette::printerGrey;
    const Colour red = palette::printerRed;
    printText(cr, find(art, 137), L + (levelMode ? 35 : 41), B - 2, unit, false, &light);
    const double values[2] = {left, right};
    const int boxLeft[2] = {L + 1, L + 61};
    const int centre[2] = {L + 17, L + 77};
    for (int c = 0; c < 2; ++c) {
        char text[32];
        std::snprintf(text, sizeof text, levelMode ? "%+2.1f" : "%2.1f", values[c]);
        const bool over = levelMode && values[c] > 0;
        fillRect(cr, boxLeft[c], B - 10, 31, 9, over ? red : grey);
        const std::string s = text;
        const int x = centre[c] - 3 * static_cast<int>(s.size());
        printText(cr, find(art, over ? 138 : 137), x, B - 2, s, true, over ? &red : &grey);
    }
}

void drawField(cairo_t* cr, const Artwork& font, const Rect& r, const std::string& text) {
    const int x = r.left + std::max(0, (r.width() - 6 * static_cast<int>(text.size())) / 2);
    printText(cr, font, x, (r.top + r.bottom) / 2 + 4, text, false, nullptr);
}

Image composeEditor(const std::vector<Artwork>& art, bool aboutOpen) {
    Image image(kEditorWidth, kEditorHeight);
    Painter cr(image);
    drawFrame(cr, find(art, 128), 0, Rect{0, 0, kEditorWidth, kEditorHeight});
    drawLevelMeter(cr, art, inputGeometry, 0, -9, -7.5, -4.2, -0.6, 133);
    drawLevelMeter(cr, art, outputGeometry, 2, -16.5, -13, -11.2, -8.4, 135);

    const Artwork& grScale = find(art, 167);
    drawFrame(cr, grScale, 0, meterGr);
    const Artwork& grBar = find(art, 156);
    for (auto [x, hold] : {std::pair{234, -4.6}, std::pair{275, -3.1}}) {
        const int n = std::clamp(1 - static_cast<int>(6 * hold - 0.5), 0, 145);
        copyRegion(cr, grBar.image, 0, 0, kBarWidth, n, x, 42);
    }
    drawReadout(cr, art, lcdIn, -0.4, 0.3, true, "dBFS");
    drawReadout(cr, art, lcdOut, -2.1, -1.0, true, "    ");
    printText(cr, find(art, 137), lcdOut.left + 38, lcdOut.bottom - 2, "dBr", false,
              &palette::printerLight);
    drawReadout(cr, art, lcdGr, -4.6, -3.1, false, "dB");

    drawFrame(cr, find(art, 139), 1, detectorOrder);
    drawFrame(cr, find(art, 140), 0, oversample);
    drawFrame(cr, find(art, 141), 0, meterMode);
    drawFrame(cr, find(art, 162), 1, quantize);
    drawFrame(cr, find(art, 163), 1, autoblack);
    drawFrame(cr, find(art, 142), 4, bits);
    drawFrame(cr, find(art, 143), 5, noiseShape);
    drawFrame(cr, find(art, 145), 0, calibrate);
    drawFrame(cr, find(art, 144), 0, attZoom);
    drawFrame(cr, find(art, 164), 1, attShowLim1);
    drawFrame(cr, find(art, 165), 1, attShowLim2);
    drawFrame(cr, find(art, 166), 1, attShowLevel);
    drawFrame(cr, find(art, 160), 0, meterOvs);
    drawFrame(cr, find(art, 152), 20, transientKnob);
    drawFrame(cr, find(art, 153), 72, releaseKnob);
    drawFrame(cr, find(art, 147), 100, levellerKnob);
    drawFrame(cr, find(art, 148), 100, linkKnob);
    drawFrame(cr, find(art, 146), 0, transShape);
    drawFrame(cr, find(art, 149), 1, power);
    drawFrame(cr, find(art, 150), 50, driveKnob);
    drawFrame(cr, find(art, 151), 100, outputKnob);
    drawFrame(cr, find(art, 161), 1, autoOut);
    drawFrame(cr, find(art, 161), 0, postMeter);

    const Artwork* font158 = nullptr;
    const Artwork* font159 = nullptr;
    for (const Artwork& a : art) {
        if (a.name == "bmp00158.png") font158 = &a;
        if (a.name == "bmp00159.png") font159 = &a;
    }
    drawField(cr, *font159, driveField, "+0.00dB");
    drawField(cr, *font159, outputField, "-0.35dB");
    drawField(cr, *font158, transientField, "20.0%");
    drawField(cr, *font158, releaseField, "200.0ms");
    drawField(cr, *font158, levellerField, "off");
    drawField(cr, *font158, linkField, "100.0%");

    drawFrame(cr, find(art, 991), 0, saveBank);
    drawFrame(cr, find(art, 992), 0, bankLegend);
    drawFrame(cr, find(art, 990), 0, loadBank);
    drawFrame(cr, find(art, 991), 1, savePreset);
    drawFrame(cr, find(art, 993), 0, presetLegend);
    drawFrame(cr, find(art, 990), 2, loadPreset);
    drawFrame(cr, find(art, 995), 2, presetRocker);
    drawFrame(cr, find(art, 991), 0, storeA);
    drawFrame(cr, find(art, 990), 1, recallA);
    drawFrame(cr, find(art, 991), 0, storeB);
    drawFrame(cr, find(art, 990), 0, recallB);
    drawText(cr, "Current", presetName.centreX(), presetName.bottom - 3, TextStyle{9, false, 0},
             Colour::bytes(36, 36, 32), Align::centre);

    if (aboutOpen) {
        cairo_set_source_surface(cr, find(art, 157).image.surface(), aboutPanel.left,
                                 aboutPanel.top);
        cairo_paint_with_alpha(cr, 200 / 255.0);
        const int top = aboutPanel.top;
        const Colour grey = palette::printerGrey;
        printText(cr, find(art, 137), 55, top + 15, "Tarvel Quolt", true, &grey);
        printText(cr, *font158, 200, top + 15, "Brickwall Limiting, Metering and Requantizing",
                  false, nullptr);
        printText(cr, *font158, 55, top + 29, "Version:", false, nullptr);
        printText(cr, *font158, 440, top + 29, "1.1.9", false, nullptr);
        printText(cr, *font158, 55, top + 43, "Current process latency (samples):", false, nullptr);
        printText(cr, *font158, 470 - 18, top + 43, "159", false, nullptr);
    }
    return image;
}

// Frames of the multi-frame bitmaps side by side, magnified twice, for inspection.
Image contactSheet(const std::vector<Artwork>& art, const std::vector<int>& ids, int maxFrames) {
    constexpr int kGap = 6;
    constexpr int kZoom = 2;
    int width = 0;
    int height = kGap;
    for (int id : ids) {
        const Artwork& a = find(art, id);
        const int shown = std::min(a.frames, maxFrames);
        width = std::max(width, kGap + shown * (a.image.width() + kGap));
        height += a.image.height() / a.frames + kGap;
    }
    Image image(width * kZoom, height * kZoom);
    Painter cr(image);
    fillRect(cr, 0, 0, width * kZoom, height * kZoom, Colour::bytes(90, 90, 96));
    cairo_scale(cr, kZoom, kZoom);
    int y = kGap;
    for (int id : ids) {
        const Artwork& a = find(art, id);
        const int frameHeight = a.image.height() / a.frames;
        const int shown = std::min(a.frames, maxFrames);
        for (int i = 0; i < shown; ++i) {
            const int frame = shown == a.frames ? i : i * (a.frames - 1) / (shown - 1);
            const int x = kGap + i * (a.image.width() + kGap);
            cairo_save(cr);
            cairo_rectangle(cr, x, y, a.image.width(), frameHeight);
            cairo_clip(cr);
            cairo_set_source_surface(cr, a.image.surface(), x, y - frame * frameHeight);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_paint(cr);
            cairo_restore(cr);
        }
        y += frameHeight + kGap;
    }
    return image;
}

// The glyphs of the four fonts in rows of 16, magnified four times, on a mid grey.
Image fontSheet(const std::vector<Artwork>& art) {
    constexpr int kZoom = 4;
    constexpr int kColumns = 16;
    constexpr int kRows = 12;  // 192 glyphs
    constexpr int kCellW = 7;
    constexpr int kCellH = 10;
    constexpr int kFontW = kColumns * kCellW + 4;
    std::vector<const Artwork*> fonts = {&find(art, 137), &find(art, 138)};
    for (const Artwork& a : art)
        if (a.id == 0) fonts.push_back(&a);
    Image image(kFontW * 4 * kZoom, kRows * kCellH * kZoom);
    Painter cr(image);
    fillRect(cr, 0, 0, image.width(), image.height(), Colour::bytes(128, 128, 128));
    cairo_scale(cr, kZoom, kZoom);
    for (std::size_t f = 0; f < fonts.size(); ++f)
        for (int glyph = 0; glyph < kColumns * kRows; ++glyph) {
            const int x = static_cast<int>(f) * kFontW + (glyph % kColumns) * kCellW + 1;
            const int y = (glyph / kColumns) * kCellH + 1;
            cairo_save(cr);
            cairo_rectangle(cr, x, y, 5, 8);
            cairo_clip(cr);
            cairo_set_source_surface(cr, fonts[f]->image.surface(), x, y - glyph * 8);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_paint(cr);
            cairo_restore(cr);
        }
    return image;
}

// A part of an image magnified three times, for judging pixels.
Image magnified(const Image& source, const Rect& part) {
    constexpr int kZoom = 3;
    Image image(part.width() * kZoom, part.height() * kZoom);
    Painter cr(image);
    cairo_scale(cr, kZoom, kZoom);
    cairo_set_source_surface(cr, source.surface(), -part.left, -part.top);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    return image;
}

bool writeImage(const Image& image, const std::filesystem::path& path) {
    if (image.writePng(path.string())) return true;
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return false;
}

}  // namespace
}  // namespace tq::art

int main(int argc, char** argv) {
    using namespace tq::art;
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <art-dir> [<shots-dir>]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path artDir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(artDir, error);

    const std::vector<Artwork> art = paintAll();
    if (!checkSharedBitmaps(art)) return 1;
    bool ok = true;
    for (const Artwork& a : art) ok = writeImage(a.image, artDir / a.name) && ok;

    if (argc == 3) {
        const std::filesystem::path shots = argv[2];
        std::filesystem::create_directories(shots, error);
        for (const Artwork& a : art) ok = writeImage(a.image, shots / ("art_" + a.name)) && ok;
        const Image editor = composeEditor(art, false);
        ok = writeImage(editor, shots / "art_editor.png") && ok;
        const Rect parts[] = {{0, 0, 175, 231},   {175, 0, 350, 231},   {350, 0, 524, 231},
                              {0, 231, 175, 462}, {175, 231, 350, 462}, {350, 231, 524, 462},
                              {140, 26, 390, 200}};
        for (int i = 0; i < 7; ++i)
            ok = writeImage(magnified(editor, parts[i]),
                            shots / ("art_editor_part" + std::to_string(i + 1) + ".png")) &&
                 ok;
        const Image about = composeEditor(art, true);
        ok = writeImage(about, shots / "art_editor_about.png") && ok;
        ok = writeImage(magnified(about, Rect{43, 294, 262, 430}),
                        shots / "art_editor_about_part.png") &&
             ok;
        ok = writeImage(fontSheet(art), shots / "art_sheet_fonts.png") && ok;
        ok = writeImage(contactSheet(art, {152, 153, 147, 148, 150, 151}, 11),
                        shots / "art_sheet_knobs.png") &&
             ok;
        ok = writeImage(contactSheet(art,
                                     {139, 140, 162, 163, 142, 143, 144, 160, 164, 165, 166, 145,
                                      161, 149, 146},
                                     7),
                        shots / "art_sheet_buttons.png") &&
             ok;
        ok = writeImage(contactSheet(art, {141, 167, 990, 991, 992, 993, 995, 994}, 7),
                        shots / "art_sheet_panel.png") &&
             ok;
    }
    return ok ? 0 : 1;
}
