// The 26 host parameters: names, labels, value texts and engine mappings. Pure
// functions of the normalised value, so they can be tested without an effect. The
// indices and the step rule are the stored layout's (ParameterLayout.h).
#pragma once

#include <string>

#include "presets/ParameterLayout.h"

namespace tq {

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
