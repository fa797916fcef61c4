#include "dsp/CalibrationGenerator.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tq {

void CalibrationGenerator::reset() {
    rowsL_.fill(0.0);
    rowsR_.fill(0.0);
    sumL_ = 0.0;
    sumR_ = 0.0;
    counter_ = 0;
}

double CalibrationGenerator::levelForScale(int scale) {
    switch (scale) {
        case 0:
            return 2.5118864315;
        case 1:
            return 2.0;
        default:
            return 1.0;
    }
}

int CalibrationGenerator::rowIndex(std::uint8_t counter) {
    return std::min(7, std::countr_zero(counter));
}

double CalibrationGenerator::sampleDivisor() {
    static const double divisor = static_cast<double>(std::sqrt(2.0f)) * 1.7320508;
    return divisor;
}

void CalibrationGenerator::refreshRow(std::array<double, kRows>& rows, double& sum, int row,
                                      NoiseGenerator& generator) {
    const double value = generator.nextUniform();
    auto& slot = rows[static_cast<std::size_t>(row)];
    sum = sum - slot + value;
    slot = value;
}

template <typename Sample>
void CalibrationGenerator::process(Sample* outLeft, Sample* outRight, int frames, int mode,
                                   int scale, NoiseGenerator& generator, MeterMeasurement& meters) {
    if (frames <= 0) return;
    if (mode != kLeft && mode != kBothUncorrelated && mode != kRight) {
        for (int f = 0; f < frames; ++f) {
            if (outLeft) outLeft[f] = Sample(0);
            if (outRight) outRight[f] = Sample(0);
        }
        return;
    }
    const double level = levelForScale(scale);
    const double divisor = sampleDivisor();

    for (int f = 0; f < frames; ++f) {
        const int row = rowIndex(counter_);
        double left = 0.0;
        double right = 0.0;
        if (mode == kBothUncorrelated) {
            refreshRow(rowsL_, sumL_, row, generator);
            refreshRow(rowsR_, sumR_, row, generator);
            const double whiteL = generator.nextUniform();
            const double whiteR = generator.nextUniform();
            left = (sumL_ + whiteL) * 0.1 / divisor * level;
            right = (sumR_ + whiteR) * 0.1 / divisor * level;
        } else {
            // "right" runs on the left row set too.
            refreshRow(rowsL_, sumL_, row, generator);
            const double white = generator.nextUniform();
            const double n = (sumL_ + white) * 0.1 / divisor * level;
            if (mode == kLeft) {
                left = n;
            } else {
                right = n;
            }
        }
        ++counter_;

        if (outLeft) outLeft[f] = static_cast<Sample>(left);
        if (outRight) outRight[f] = static_cast<Sample>(right);
        meters.calibrationFrame(left, right, mode != kRight, mode != kLeft);
    }
}

template void CalibrationGenerator::process<float>(float*, float*, int, int, int, NoiseGenerator&,
                                                   MeterMeasurement&);
template void CalibrationGenerator::process<double>(double*, double*, int, int, int,
                                                    NoiseGenerator&, MeterMeasurement&);

}  // namespace tq
