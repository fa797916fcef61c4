#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "ArtPainters.h"
#include "ArtStyle.h"

namespace tq::art {
namespace {

using namespace layout;

constexpr int kLevelBarHeight = 432;
constexpr Colour kBarGreen = Colour::bytes(72, 222, 96);
constexpr Colour kBarAmber = Colour::bytes(255, 186, 36);
constexpr Colour kBarRed = Colour::bytes(255, 58, 34);

// Row r of the peak-mode bars lies at (120 - r) / 6 dBFS: row 120 lights exactly at 0 dBFS.
Colour peakZone(int row) {
    if (row < 120) return kBarRed;     // above full scale
    if (row <= 156) return kBarAmber;  // the last 6 dB below full scale
    return kBarGreen;
}

// Row r of the K-mode bars lies at (144 - r) / 6 dB relative to the K reference in every K mode:
// row 144 lights exactly at the reference level, row 120 at the reference + 4 dB.
Colour kZone(int row) {
    if (row <= 120) return kBarRed;
    if (row <= 144) return kBarAmber;
    return kBarGreen;
}

// Rounded, slightly segmented bar: brighter along the middle, a darker row closing every dB.
Image paintBar(int height, const std::function<Colour(int)>& zone, bool lit) {
    Image image(kBarWidth, height);
    Painter cr(image);
    const Colour unlitFloor = Colour::bytes(20, 21, 23);
    for (int row = 0; row < height; ++row) {
        const Colour base = lit ? zone(row) : unlitFloor.mixed(zone(row), 0.2);
        const bool segmentEdge = row % kPixelsPerDb == kPixelsPerDb - 1;
        for (int x = 0; x < kBarWidth; ++x) {
            const double across = (x + 0.5) / kBarWidth;
            double shade = 0.70 + 0.36 * std::sin(kPi * across) - 0.06 * across;
            if (segmentEdge) shade *= lit ? 0.72 : 0.8;
            if (x == 0 || x == kBarWidth - 1) shade *= 0.7;
            fillRect(cr, x, row, 1, 1, base.scaled(shade));
        }
    }
    return image;
}

std::string dbText(int db) {
    if (db > 0) return "+" + std::to_string(db);
    if (db == 0) return "0";
    return "\u2212" + std::to_string(-db);
}

}  // namespace

Image paintPeakBar(bool lit) { return paintBar(kLevelBarHeight, peakZone, lit); }

Image paintKBar(bool lit) { return paintBar(kLevelBarHeight, kZone, lit); }

Image paintLevelScale(const Image& background, bool outputMeter, int topDb) {
    const LevelMeterGeometry& g = outputMeter ? outputGeometry : inputGeometry;
    Image image(kScaleWidth, kScaleHeight);
    Painter cr(image);
    copyRegion(cr, background, g.scaleX, kScaleTop, kScaleWidth, kScaleHeight, 0, 0);

    // A bar of the value d dB (d on this scale) has its top row at scale row 4 + 6 (topDb - d).
    auto rowOf = [&](int db) { return kBarTop - kScaleTop + kPixelsPerDb * (topDb - db); };
    auto isLabelled = [&](int db) {
        if (db == topDb || db == topDb - 60) return true;
        if (topDb == 12) return db >= -24 ? db % 3 == 0 : db % 6 == 0;
        return db % 4 == 0;
    };
    // Peak and K-12 share one scale; its upper labels are coloured like the peak bar's zones,
    // the K scales' like the K zones (+4 dB and above red, the reference level up to it amber).
    auto labelColour = [&](int db) {
        if (db == 0) return Colour::bytes(250, 250, 250);
        if (topDb == 12) return db > 0 ? Colour::bytes(236, 96, 76) : palette::label.scaled(0.9);
        if (db >= 4) return Colour::bytes(236, 96, 76);
        if (db > 0) return Colour::bytes(236, 180, 80);
        return palette::label.scaled(0.9);
    };
    const int rightEdge = kScaleWidth - 1;  // column 26 touches the right bar
    for (int db = topDb; db >= topDb - 60; --db) {
        const int row = rowOf(db);
        const bool labelled = isLabelled(db);
        const int length = labelled ? 4 : 2;
        const Colour tick = labelled ? palette::label.scaled(0.85) : palette::labelDim.scaled(0.8);
        fillRect(cr, 1, row, length, 1, tick);
        fillRect(cr, rightEdge - length, row, length, 1, tick);
        if (!labelled) continue;
        const double baseline = std::min(row + 3.0, kScaleHeight - 1.0);
        drawText(cr, dbText(db), 13.5, baseline, kScale, labelColour(db), Align::centre);
    }
    return image;
}

Image paintAttenuationBar() {
    auto zone = [](int row) {
        const double t = std::clamp(row / 144.0, 0.0, 1.0);
        return t < 0.5 ? kBarGreen.mixed(kBarAmber, t * 2) : kBarAmber.mixed(kBarRed, t * 2 - 1);
    };
    return paintBar(203, zone, true);
}

Image paintAttenuationScale(const Image& background) {
    constexpr int kFrameHeight = 153;
    constexpr int kSlotTop = 3;     // the bars hang from y 42, row 3 of the control
    constexpr int kSlotRows = 145;  // longest bar
    const Rect& r = meterGr;
    return makeStrip(
        r.width(), kFrameHeight, 2, &background, r.left, r.top, [&](cairo_t* cr, int frame) {
            const bool zoom = frame == 1;
            const int pixelsPerDb = zoom ? 12 : 6;
            // Unlit slots under both bars.
            for (int slotX : {1, 42}) {
                fillRect(cr, slotX - 1, kSlotTop - 1, kBarWidth + 2, kSlotRows + 2,
                         Colour::bytes(8, 8, 9));
                for (int row = 0; row < kSlotRows; ++row) {
                    const bool edge = row % 6 == 5;
                    fillRect(cr, slotX, kSlotTop + row, kBarWidth, 1,
                             Colour::bytes(27, 29, 31).scaled(edge ? 0.75 : 1.0));
                }
            }
            // A bar reaching d dB ends on row 3 + g·d; ticks every dB (every half dB zoomed).
            const int steps = 24;
            for (int step = 0; step <= steps; ++step) {
                const double db = zoom ? step * 0.5 : step;
                const int row = kSlotTop + static_cast<int>(std::lround(db * pixelsPerDb));
                const bool labelled = zoom ? step % 4 == 0 : step % 3 == 0;
                const int length = labelled ? 4 : 2;
                const Colour tick =
                    labelled ? palette::label.scaled(0.85) : palette::labelDim.scaled(0.8);
                fillRect(cr, 17, row, length, 1, tick);
                fillRect(cr, 41 - length, row, length, 1, tick);
                if (labelled) {
                    const int value = static_cast<int>(db);
                    drawText(cr, value == 0 ? std::string("0") : "\u2212" + std::to_string(value),
                             29, std::max(row + 3.0, 6.0), kScale,
                             value == 0 ? Colour::bytes(250, 250, 250) : palette::label.scaled(0.9),
                             Align::centre);
                }
            }
        });
}

}  // namespace tq::art
