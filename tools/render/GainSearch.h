// Chooses the Drive and Output levels of each render pass so that the output
// reaches a loudness target under a true-peak ceiling in few passes.
//
// The output gain acts after the limiter, so the output's loudness and true
// peak move with it dB for dB; only Drive changes the limiting. Every pass is
// therefore recorded as the levels it would have had with the output gain at
// 0 dB, as a function of Drive alone. Before the first pass that function is
// predicted from the input (a straight line up to where the limiter starts to
// act, a gentler slope after); each pass measures it at one more Drive and the
// prediction is corrected through the measured points.
#pragma once

#include <optional>
#include <vector>

#include "LevelMeter.h"

namespace tq {

struct GainSetting {
    double driveDb = 0.0;
    double outputDb = 0.0;
};

struct LoudnessGoal {
    std::optional<double> targetLufs;
    std::optional<double> ceilingDbtp;
    double toleranceLu = 0.1;
};

struct GainLimits {
    double driveMinDb = -24.0;
    double driveMaxDb = 24.0;
    double outputMinDb = -12.0;
    double outputMaxDb = 0.0;
};

class GainSearch {
  public:
    // `start` holds the levels the effect is set to; `input` is the input as
    // measured, `inputLoudnessOffset` what makes its loudness comparable with
    // the output's (+3.01 dB for a mono input rendered to two channels).
    GainSearch(const LoudnessGoal& goal, const GainLimits& limits, GainSetting start,
               const LevelSummary& input, double inputLoudnessOffset);

    GainSetting firstPass() const;
    // Records the output levels of a pass made at `setting` (the levels the
    // effect showed); true when that output meets the goal.
    bool record(GainSetting setting, const LevelSummary& output);
    bool meets(const LevelSummary& output) const;
    // The next pass, or empty when no setting within the limits promises a
    // better result than the passes made so far.
    std::optional<GainSetting> nextPass() const;

  private:
    struct Point {
        double driveDb;
        double loudness;  // at an output gain of 0 dB
        double truePeak;  // likewise
    };
    double modelLoudness(double driveDb) const;
    double modelTruePeak(double driveDb) const;
    // The measured minus the modelled value, interpolated between the passes.
    double correction(double driveDb, double Point::*measured,
                      double (GainSearch::*model)(double) const) const;
    double predictedLoudness(double driveDb) const;
    double predictedTruePeak(double driveDb) const;
    // The output level a pass at `driveDb` gets: the ceiling trim, or as set.
    double outputFor(double driveDb) const;
    GainSetting settingFor(double driveDb) const;
    double driveForTarget() const;

    LoudnessGoal goal_;
    GainLimits limits_;
    GainSetting start_;
    double inputLoudness_;
    double inputTruePeak_;
    double inputSamplePeak_;
    std::vector<Point> points_;  // by rising Drive
    std::vector<GainSetting> tried_;
};

}  // namespace tq
