// The 26 host parameters: names, labels, value texts and the step rules. Pure
// functions of the normalised value, so they can be tested without an effect.
#pragma once

#include <string>

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

// Engine mappings.
double outputGainFor(float x);      // 2^((x - 1) * 2)
double driveGainFor(float x);       // 2^((x - 0.5) * 8)
double transientShareFor(float x);  // 0.25 * (1.4142136 * x)^2
double releaseTimeFor(float x);     // 10^(3 * x^0.82030212) ms
double levellerGainFor(float x);    // 2^((x - 1) * 2)

// The float-to-text rule with a budget of eight characters; fractional digits are
// cut off, never rounded.
std::string numberText(double value);
// "-oo" for v <= 0, else the number text of 20 log10(v) in single precision.
std::string decibelText(double value);

const char* parameterName(int index);   // nullptr outside 0..25
const char* parameterLabel(int index);  // "" for parameters without a unit
// Display text of parameter `index` at normalised value x ("" for 22..25).
std::string parameterDisplay(int index, float x);

// Number of steps of a stepped parameter (2 for on/off ones); 0 for the continuous
// ones and for 22..25, which show no text at all.
int parameterSteps(int index);
// The number a continuous parameter's display text is cut from, in double
// precision: decibels for Output, Drive and Leveller (-inf for a zero gain), the
// transient share, milliseconds, the link percentage. Rises with x. NaN for the
// stepped parameters and 22..25.
double parameterNumber(int index, float x);

}  // namespace tq
