#include "Plot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "ToolError.h"

namespace tq {
namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 700;
constexpr double kLeft = 70.0;  // room for the axis labels
constexpr double kRight = kWidth - 20.0;
constexpr double kWaveTop = 80.0;
constexpr double kWaveBottom = 430.0;
constexpr double kReductionTop = 470.0;
constexpr double kReductionBottom = 650.0;

struct Colour {
    double red, green, blue, alpha;
};
constexpr Colour kBackground{1.0, 1.0, 1.0, 1.0};
constexpr Colour kText{0.1, 0.1, 0.1, 1.0};
constexpr Colour kGrid{0.85, 0.85, 0.85, 1.0};
constexpr Colour kInput{0.6, 0.6, 0.6, 1.0};
constexpr Colour kOutput{0.13, 0.4, 0.75, 1.0};
constexpr Colour kReduction{0.8, 0.2, 0.15, 1.0};
constexpr Colour kCeiling{0.8, 0.2, 0.15, 1.0};

// The largest of each column's windows: peaks of both streams and the
// gain reduction (NaN where every window of the column was silent).
struct Column {
    double inputPeak = 0.0;
    double outputPeak = 0.0;
    double reduction = std::nan("");
};

std::vector<Column> columns(const RenderReport& report, double staticGainDb, int count) {
    const auto& windows = report.result.trace.windows();
    const std::vector<double> reduction = report.result.trace.gainReductionDb(staticGainDb);
    std::vector<Column> result(static_cast<std::size_t>(count));
    if (windows.empty()) return result;
    for (int x = 0; x < count; ++x) {
        const std::size_t first = windows.size() * static_cast<std::size_t>(x) / count;
        const std::size_t last =
            std::max(first + 1, windows.size() * static_cast<std::size_t>(x + 1) / count);
        Column& column = result[static_cast<std::size_t>(x)];
        for (std::size_t i = first; i < last && i < windows.size(); ++i) {
            column.inputPeak =
                std::max(column.inputPeak, static_cast<double>(windows[i].inputPeak));
            column.outputPeak =
                std::max(column.outputPeak, static_cast<double>(windows[i].outputPeak));
            if (!std::isnan(reduction[i]) &&
                (std::isnan(column.reduction) || reduction[i] > column.reduction)) {
                column.reduction = reduction[i];
            }
        }
    }
    return result;
}

class Painter {
  public:
    Painter() : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight)) {
        context_ = cairo_create(surface_);
        cairo_select_font_face(context_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
    }
    ~Painter() {
        cairo_destroy(context_);
        cairo_surface_destroy(surface_);
    }
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    cairo_t* context() { return context_; }
    void colour(const Colour& c) {
        cairo_set_source_rgba(context_, c.red, c.green, c.blue, c.alpha);
    }
    void fillRectangle(double x, double y, double width, double height, const Colour& c) {
        colour(c);
        cairo_rectangle(context_, x, y, width, height);
        cairo_fill(context_);
    }
    void line(double x0, double y0, double x1, double y1, const Colour& c, double width = 1.0) {
        colour(c);
        cairo_set_line_width(context_, width);
        cairo_move_to(context_, x0, y0);
        cairo_line_to(context_, x1, y1);
        cairo_stroke(context_);
    }
    // `align` 0 left, 0.5 centred, 1 right of x.
    void text(double x, double y, const std::string& text, double size, double align = 0.0,
              const Colour& c = kText) {
        cairo_set_font_size(context_, size);
        cairo_text_extents_t extents;
        cairo_text_extents(context_, text.c_str(), &extents);
        colour(c);
        cairo_move_to(context_, x - align * extents.x_advance, y);
        cairo_show_text(context_, text.c_str());
    }
    void save(const std::string& path) {
        cairo_surface_flush(surface_);
        const cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
        if (status != CAIRO_STATUS_SUCCESS) {
            throw ToolError("cannot write the plot '" + path +
                            "': " + cairo_status_to_string(status));
        }
    }

  private:
    cairo_surface_t* surface_;
    cairo_t* context_ = nullptr;
};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string goalLine(const RenderReport& report) {
    const LevelSummary& in = report.result.input;
    const LevelSummary& out = report.result.output;
    std::string line;
    if (report.mastering) {
        const MasteringReport& m = *report.mastering;
        if (m.targetLufs) line += "target " + format("%.1f LUFS", *m.targetLufs);
        if (m.ceilingDbtp) {
            line += std::string(line.empty() ? "" : ", ") + "ceiling " +
                    format("%.1f dBTP", *m.ceilingDbtp);
        }
        line += m.reached ? "  |  reached: " : "  |  NOT reached: ";
    } else {
        line += "input " + format("%.1f LUFS", in.loudnessLufs) + ", " +
                format("%+.1f dBTP", in.truePeakDb) + "  |  output ";
    }
    line += format("%.2f LUFS", out.loudnessLufs) + ", " + format("%+.2f dBTP", out.truePeakDb) +
            ", LRA " + format("%.1f LU", out.loudnessRangeLu);
    if (report.mastering) {
        const MasteringReport& m = *report.mastering;
        line += "  |  Drive " + format("%+.2f dB", m.driveDb) + ", Output " +
                format("%+.2f dB", m.outputDb) + ", " + std::to_string(m.passes) +
                (m.passes == 1 ? " pass" : " passes");
    }
    return line;
}

// Seconds between time labels: the first of 1-2-5 steps giving at most ten.
double timeStep(double seconds) {
    for (double step : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 60.0, 120.0, 300.0, 600.0,
                        1200.0, 1800.0, 3600.0}) {
        if (seconds / step <= 10.0) return step;
    }
    return 7200.0;
}

std::string timeLabel(double seconds, double step) {
    if (step < 1.0) return format("%.1f s", seconds);
    if (seconds < 60.0) return format("%.0f s", seconds);
    char text[32];
    const long whole = std::lround(seconds);
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

void writePlot(const std::string& path, const RenderReport& report) {
    Painter painter;
    painter.fillRectangle(0, 0, kWidth, kHeight, kBackground);
    painter.text(kLeft, 28, baseName(report.inputPath) + "  ->  " + baseName(report.outputPath),
                 16);
    painter.text(kLeft, 52, goalLine(report), 13);

    const int count = static_cast<int>(kRight - kLeft);
    const std::vector<Column> data = columns(report, report.staticGainDb, count);

    // Waveforms: linear amplitude, full scale marked; a hot input widens the scale.
    double scale = 1.0;
    for (const Column& c : data) scale = std::max(scale, c.inputPeak);
    const double middle = 0.5 * (kWaveTop + kWaveBottom);
    const double half = 0.5 * (kWaveBottom - kWaveTop) / scale;
    painter.line(kLeft, middle, kRight, middle, kGrid);
    for (double level : {1.0, -1.0}) {
        painter.line(kLeft, middle - level * half, kRight, middle - level * half, kGrid);
    }
    painter.text(kLeft - 6, middle - half + 4, "0 dBFS", 10, 1.0);
    // The larger envelope of each column goes under the smaller, so both show.
    for (int x = 0; x < count; ++x) {
        const Column& c = data[static_cast<std::size_t>(x)];
        const bool inputUnder = c.inputPeak >= c.outputPeak;
        const double under = inputUnder ? c.inputPeak : c.outputPeak;
        const double over = inputUnder ? c.outputPeak : c.inputPeak;
        painter.fillRectangle(kLeft + x, middle - under * half, 1.0, 2.0 * under * half,
                              inputUnder ? kInput : kOutput);
        painter.fillRectangle(kLeft + x, middle - over * half, 1.0, 2.0 * over * half,
                              inputUnder ? kOutput : kInput);
    }
    if (report.mastering && report.mastering->ceilingDbtp) {
        const double ceiling = std::pow(10.0, *report.mastering->ceilingDbtp / 20.0);
        cairo_set_dash(painter.context(), std::vector<double>{6.0, 4.0}.data(), 2, 0.0);
        for (double sign : {1.0, -1.0}) {
            painter.line(kLeft, middle - sign * ceiling * half, kRight,
                         middle - sign * ceiling * half, kCeiling);
        }
        cairo_set_dash(painter.context(), nullptr, 0, 0.0);
        painter.text(kRight, middle - ceiling * half - 4,
                     format("ceiling %.1f dBTP", *report.mastering->ceilingDbtp), 10, 1.0,
                     kCeiling);
    }
    painter.fillRectangle(kRight - 150, kWaveTop - 12, 10, 10, kInput);
    painter.text(kRight - 136, kWaveTop - 3, "input", 11);
    painter.fillRectangle(kRight - 80, kWaveTop - 12, 10, 10, kOutput);
    painter.text(kRight - 66, kWaveTop - 3, "output", 11);

    // Gain reduction: 0 dB at the top, growing downwards.
    double deepest = 3.0;
    for (const Column& c : data) {
        if (!std::isnan(c.reduction)) deepest = std::max(deepest, c.reduction);
    }
    const double dbStep = deepest <= 6.0    ? 1.0
                          : deepest <= 12.0 ? 2.0
                          : deepest <= 30.0 ? 5.0
                                            : 10.0;
    const double range = std::ceil(deepest / dbStep) * dbStep;
    const double perDb = (kReductionBottom - kReductionTop) / range;
    for (double db = 0.0; db <= range + 1e-9; db += dbStep) {
        const double y = kReductionTop + db * perDb;
        painter.line(kLeft, y, kRight, y, kGrid);
        painter.text(kLeft - 6, y + 4, db == 0.0 ? "0 dB" : format("-%.0f dB", db), 10, 1.0);
    }
    for (int x = 0; x < count; ++x) {
        const Column& c = data[static_cast<std::size_t>(x)];
        if (std::isnan(c.reduction) || c.reduction <= 0.0) continue;
        painter.fillRectangle(kLeft + x, kReductionTop, 1.0, c.reduction * perDb, kReduction);
    }
    painter.text(kLeft, kReductionTop - 8,
                 "gain reduction: max " + format("%.1f dB", report.gainReduction.maxDb) +
                     ", average " + format("%.1f dB", report.gainReduction.averageDb),
                 11);

    // Time axis under both panels.
    const double seconds =
        report.sampleRate > 0 ? static_cast<double>(report.result.frames) / report.sampleRate : 0.0;
    if (seconds > 0.0) {
        const double step = timeStep(seconds);
        for (double t = 0.0; t <= seconds + 1e-9; t += step) {
            const double x = kLeft + (kRight - kLeft) * t / seconds;
            painter.line(x, kReductionBottom, x, kReductionBottom + 5, kText);
            painter.text(x, kReductionBottom + 20, timeLabel(t, step), 10, 0.5);
        }
    }
    painter.save(path);
}

}  // namespace tq
