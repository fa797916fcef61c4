// The effect's 26 parameters as every stored record lays them out: their indices, the
// layout marker and the rule that turns a normalised value into a step and back. The
// presets store records in this order and the metering preferences store steps, so the
// layout lives here, below the effect that gives the parameters their meaning.
#pragma once

namespace tq {

enum ParameterIndex : int {
    kOutput = 0,
    kDrive = 1,
    kTransient = 2,
    kRelease = 3,
    kTransShape = 4,
    kLink = 5,
    kOversample = 6,
    kDetectorOrder = 7,
    kPower = 8,
    kScale = 9,
    kBits = 10,
    kNoiseShape = 11,
    kCalibrate = 12,
    kLeveller = 13,
    kMeterOvs = 14,
    kAutoOut = 15,
    kQuantize = 16,
    kAutoblack = 17,
    kMeterType = 18,
    kAttZoom = 19,
    kAttShow = 20,
    kPostMeter = 21,
    kDummyFirst = 22,
    kDummyLast = 24,
    kLayoutMarker = 25,
    kNumParameters = 26,
};

// Value of the layout marker (index 25) in the current layout. Any marker value below
// 0.01 means an old value set that still needs converting.
inline constexpr float kCurrentLayoutMarker = 0.015f;

// Step index of x in n steps: trunc(n * x) in single precision, limited to 0..n-1.
int stepIndex(float x, int steps);
// Centre of step i in n steps, as the effect passes it when it sets a step itself.
float stepCentre(int step, int steps);

}  // namespace tq
