// Pink calibration noise (the Voss method: eight rows refreshed half as often as the
// one before, plus a fresh white value per frame) at the level of the selected
// K-system scale, written instead of the limiter's output while "Calibrate" is on.
//
// Rows and sums live inside the object; reset() only overwrites them; process()
// allocates nothing. The random words come from the generator shared with the dither.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"

namespace tq {

class CalibrationGenerator {
  public:
    // "Calibrate" steps.
    static constexpr int kOff = 0;
    static constexpr int kLeft = 1;
    static constexpr int kBothUncorrelated = 2;
    static constexpr int kRight = 3;
    static constexpr int kRows = 8;

    // [audio-thread, lock held] Suspend: counter, rows and sums to 0.
    void reset();

    // [audio-thread, lock held] Fills `frames` frames of both outputs and updates the
    // meters (call meters.beginBlock first). outLeft or outRight null = not written
    // (the noise sequence and the meters advance all the same). A mode outside 1..3
    // writes silence and draws nothing; a scale outside 0..2 counts as "K-20".
    template <typename Sample>
    void process(Sample* outLeft, Sample* outRight, int frames, int mode, int scale,
                 NoiseGenerator& generator, MeterMeasurement& meters);

    // Level for the "Scale" step 0 "K-12", 1 "K-14", 2 "K-20".
    static double levelForScale(int scale);
    // Row refreshed at a counter value: its trailing zero bits, at most 7 (0 gives 7).
    static int rowIndex(std::uint8_t counter);
    // Gain from a row sum plus white value to the sample, before the level:
    // 0.1 / (sqrt(2) * 1.7320508), sqrt(2) taken in single precision.
    static double sampleDivisor();

    std::uint8_t counter() const { return counter_; }
    double leftSum() const { return sumL_; }
    double rightSum() const { return sumR_; }

  private:
    // Draws one row value into `rows` at `row` and keeps `sum` in step.
    static void refreshRow(std::array<double, kRows>& rows, double& sum, int row,
                           NoiseGenerator& generator);

    std::array<double, kRows> rowsL_{};
    std::array<double, kRows> rowsR_{};
    double sumL_ = 0.0;
    double sumR_ = 0.0;
    std::uint8_t counter_ = 0;  // only its low 7 bits choose a row
};

}  // namespace tq
