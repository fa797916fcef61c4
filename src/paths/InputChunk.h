// A chunk of host input as the paired frame loop takes it: both channels converted to
// double, sanitised as sanitizeInput does, and interleaved into (left, right) pairs.
//
// Whole vectors at a time and without branches: the test of the usual case per frame and
// the slow path for exact zeros (silence) cost more than the arithmetic. The result is
// bit for bit sanitizeInput's, including +0 for -0 and for everything it zeroes.
#pragma once

#include <cfloat>
#include <cmath>

namespace tq {

// Input samples as the engine accepts them: anything not finite becomes 0, magnitudes
// below the smallest normal float become 0 (so both flavours see the same value whether
// or not the control register flushes denormals), and magnitudes are limited to 1e6,
// which keeps every detector value far below the peak window's sentinel.
inline constexpr double kSmallestInput = 1.1754943508222875e-38;  // FLT_MIN
inline constexpr double kLargestInput = 1e6;

inline double sanitizeInput(double x) {
    const double magnitude = std::fabs(x);
    if (magnitude >= kSmallestInput && magnitude <= kLargestInput) return x;
    if (magnitude > kLargestInput && magnitude <= DBL_MAX) return std::copysign(kLargestInput, x);
    return 0.0;  // zero, tiny, NaN or infinite
}

// `pairs`: 2 * frames doubles, 16-byte aligned. Input pointers may be unaligned.
void sanitizedPairs(const float* left, const float* right, int frames, double* pairs);
void sanitizedPairs(const double* left, const double* right, int frames, double* pairs);

// The same, four frames per 256-bit register; only where wideBuildAvailable().
void sanitizedPairsWide(const float* left, const float* right, int frames, double* pairs);
void sanitizedPairsWide(const double* left, const double* right, int frames, double* pairs);

}  // namespace tq
