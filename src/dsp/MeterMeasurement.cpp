#include "dsp/MeterMeasurement.h"

namespace tq {

MeterMeasurement::MeterMeasurement() {
    RateSettings defaults;
    defaults.update(44100, 2);
    meanSquareCoefficient_ = defaults.meterFall;
    reset();
}

void MeterMeasurement::reset() {
    inPeak_ = {0.0f, 0.0f};
    outPeak_ = {0.0f, 0.0f};
    inMs_ = {0.0, 0.0};
    outMs_ = {0.0, 0.0};
    att_ = {1.0, 1.0};
    interpolator_.reset();
    resetRequest_.store(false, std::memory_order_relaxed);
    publish();
}

void MeterMeasurement::clear() { interpolator_.clear(); }

void MeterMeasurement::beginBlock(const EngineParameters& parameters, const RateSettings& rates,
                                  double smoothedDrive) {
    inputScale_ = parameters.postMeter.load(std::memory_order_relaxed) ? 1.0 : smoothedDrive;
    oversampledPeaks_ = parameters.meterOvs.load(std::memory_order_relaxed);
    attShow_ = parameters.attShow.load(std::memory_order_relaxed) &
               (kShowBank | kShowTransient | kShowLeveller);
    meanSquareCoefficient_ = rates.meterFall;

    const std::uint32_t serial = parameters.attHoldResetSerial.load(std::memory_order_relaxed);
    if (serial != lastAttHoldResetSerial_) {
        lastAttHoldResetSerial_ = serial;
        att_ = {1.0, 1.0};
        publish();
    }
}

void MeterMeasurement::fetch(float values[kValueCount]) {
    for (std::size_t c = 0; c < 2; ++c) {
        const double inMs = std::max(0.0, publishedInMs_[c].load(std::memory_order_relaxed));
        const double outMs = std::max(0.0, publishedOutMs_[c].load(std::memory_order_relaxed));
        values[kInPeakL + c] = publishedInPeak_[c].load(std::memory_order_relaxed);
        values[kOutPeakL + c] = publishedOutPeak_[c].load(std::memory_order_relaxed);
        values[kInRmsL + c] = static_cast<float>(std::sqrt(2.0 * inMs));
        values[kOutRmsL + c] = static_cast<float>(std::sqrt(2.0 * outMs));
        values[kAttL + c] = static_cast<float>(publishedAtt_[c].load(std::memory_order_relaxed));
    }
    resetRequest_.store(true, std::memory_order_relaxed);
}

}  // namespace tq
