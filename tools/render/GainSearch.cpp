#include "GainSearch.h"

#include <algorithm>
#include <cmath>

namespace tq {
namespace {

// Kept between the predicted true peak and the ceiling: a pass at a new Drive
// lands a little off the prediction, and a second pass only for a hair of
// overshoot costs more than the loudness this gives away.
constexpr double kCeilingMarginDb = 0.02;
// Loudness gained per dB of Drive once the limiter acts, before any pass has
// measured it: dense material gains less, sparse material more.
constexpr double kLimitedLoudnessSlope = 0.7;
// Corrections may bend the predicted slope by at most this much per dB, so a
// pair of nearby passes cannot send the next one to the end of the range.
constexpr double kMaxCorrectionSlope = 0.9;
// Two settings closer than this give the same render.
constexpr double kSameSettingDb = 1e-3;
constexpr int kBisectionSteps = 60;

}  // namespace

GainSearch::GainSearch(const LoudnessGoal& goal, const GainLimits& limits, GainSetting start,
                       const LevelSummary& input, double inputLoudnessOffset)
    : goal_(goal),
      limits_(limits),
      start_(start),
      inputLoudness_(input.loudnessLufs + inputLoudnessOffset),
      inputTruePeak_(input.truePeakDb),
      inputSamplePeak_(input.samplePeakDb) {}

double GainSearch::modelLoudness(double driveDb) const {
    const double limitedDb = std::max(0.0, driveDb + inputSamplePeak_);
    return inputLoudness_ + driveDb - (1.0 - kLimitedLoudnessSlope) * limitedDb;
}

double GainSearch::modelTruePeak(double driveDb) const {
    // The limiter holds the sample peak at full scale; what lies between the
    // samples keeps the margin the input had.
    const double limitedDb = std::max(0.0, driveDb + inputSamplePeak_);
    return inputTruePeak_ + driveDb - limitedDb;
}

double GainSearch::correction(double driveDb, double Point::*measured,
                              double (GainSearch::*model)(double) const) const {
    if (points_.empty()) return 0.0;
    auto residual = [&](const Point& p) { return p.*measured - (this->*model)(p.driveDb); };
    if (points_.size() == 1) return residual(points_.front());
    // The segment that holds driveDb, or the nearest one at either end.
    std::size_t upper = 1;
    while (upper + 1 < points_.size() && points_[upper].driveDb < driveDb) ++upper;
    const Point& a = points_[upper - 1];
    const Point& b = points_[upper];
    const double slope = std::clamp((residual(b) - residual(a)) / (b.driveDb - a.driveDb),
                                    -kMaxCorrectionSlope, kMaxCorrectionSlope);
    return residual(a) + slope * (driveDb - a.driveDb);
}

double GainSearch::predictedLoudness(double driveDb) const {
    return modelLoudness(driveDb) +
           correction(driveDb, &Point::loudness, &GainSearch::modelLoudness);
}

double GainSearch::predictedTruePeak(double driveDb) const {
    return modelTruePeak(driveDb) +
           correction(driveDb, &Point::truePeak, &GainSearch::modelTruePeak);
}

double GainSearch::outputFor(double driveDb) const {
    // With a target and a ceiling the output gain is the ceiling trim. Else it
    // stays as set, unless a ceiling measured to be overshot needs it lower.
    const bool trims = goal_.targetLufs && goal_.ceilingDbtp;
    double output = trims ? limits_.outputMaxDb : start_.outputDb;
    if (goal_.ceilingDbtp && (trims || !points_.empty())) {
        output =
            std::min(output, *goal_.ceilingDbtp - kCeilingMarginDb - predictedTruePeak(driveDb));
    }
    return std::clamp(output, limits_.outputMinDb, limits_.outputMaxDb);
}

GainSetting GainSearch::settingFor(double driveDb) const { return {driveDb, outputFor(driveDb)}; }

double GainSearch::driveForTarget() const {
    const double target = *goal_.targetLufs;
    auto excess = [&](double drive) {
        return predictedLoudness(drive) + outputFor(drive) - target;
    };
    double low = limits_.driveMinDb;
    double high = limits_.driveMaxDb;
    if (excess(high) <= 0.0) return high;
    if (excess(low) >= 0.0) return low;
    for (int step = 0; step < kBisectionSteps; ++step) {
        const double middle = 0.5 * (low + high);
        if (excess(middle) < 0.0) {
            low = middle;
        } else {
            high = middle;
        }
    }
    return 0.5 * (low + high);
}

GainSetting GainSearch::firstPass() const {
    if (!goal_.targetLufs) return settingFor(start_.driveDb);
    return settingFor(driveForTarget());
}

bool GainSearch::meets(const LevelSummary& output) const {
    if (goal_.targetLufs &&
        !(std::fabs(output.loudnessLufs - *goal_.targetLufs) <= goal_.toleranceLu)) {
        return false;
    }
    if (goal_.ceilingDbtp && !(output.truePeakDb <= *goal_.ceilingDbtp)) return false;
    return true;
}

bool GainSearch::record(GainSetting setting, const LevelSummary& output) {
    tried_.push_back(setting);
    if (std::isfinite(output.loudnessLufs) && std::isfinite(output.truePeakDb)) {
        const Point point{setting.driveDb, output.loudnessLufs - setting.outputDb,
                          output.truePeakDb - setting.outputDb};
        auto same = std::find_if(points_.begin(), points_.end(), [&](const Point& p) {
            return std::fabs(p.driveDb - point.driveDb) < kSameSettingDb;
        });
        if (same != points_.end()) {
            *same = point;
        } else {
            points_.insert(std::upper_bound(points_.begin(), points_.end(), point,
                                            [](const Point& a, const Point& b) {
                                                return a.driveDb < b.driveDb;
                                            }),
                           point);
        }
    }
    return meets(output);
}

std::optional<GainSetting> GainSearch::nextPass() const {
    if (points_.empty()) return std::nullopt;  // silence: nothing to measure by
    const double drive = goal_.targetLufs ? driveForTarget() : start_.driveDb;
    const GainSetting next = settingFor(drive);
    for (const GainSetting& done : tried_) {
        if (std::fabs(done.driveDb - next.driveDb) < kSameSettingDb &&
            std::fabs(done.outputDb - next.outputDb) < kSameSettingDb) {
            return std::nullopt;
        }
    }
    return next;
}

}  // namespace tq
