#include "presets/ParameterLayout.h"

namespace tq {

int stepIndex(float x, int steps) {
    if (!(x > 0.0f)) return 0;  // negative values and NaN fall on the first step
    const float scaled = static_cast<float>(steps) * x;
    if (!(scaled < static_cast<float>(steps))) return steps - 1;
    return static_cast<int>(scaled);
}

float stepCentre(int step, int steps) {
    return (static_cast<float>(step) + 0.5f) / static_cast<float>(steps);
}

}  // namespace tq
