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

MeterFrames MeterMeasurement::frames() {
    MeterFrames block(interpolator_.cursor());
    block.inputScale_ = DoublePair::both(inputScale_);
    block.meanSquareCoefficient_ = DoublePair::both(meanSquareCoefficient_);
    block.showBank_ = (attShow_ & kShowBank) != 0;
    block.showTransient_ = (attShow_ & kShowTransient) != 0;
    block.showLeveller_ = (attShow_ & kShowLeveller) != 0;
    block.oversampled_ = oversampledPeaks_;
    block.inPeak_ = DoublePair::both(0.0);
    block.outPeak_ = DoublePair::both(0.0);
    block.att_ = DoublePair::both(1.0);
    block.inMs_ = DoublePair(inMs_[0], inMs_[1]);
    block.outMs_ = DoublePair(outMs_[0], outMs_[1]);
    return block;
}

void MeterMeasurement::endBlock(const MeterFrames& block) {
    honourResetRequest();
    inPeak_[0] = std::max(inPeak_[0], static_cast<float>(block.inPeak_.left()));
    inPeak_[1] = std::max(inPeak_[1], static_cast<float>(block.inPeak_.right()));
    outPeak_[0] = std::max(outPeak_[0], static_cast<float>(block.outPeak_.left()));
    outPeak_[1] = std::max(outPeak_[1], static_cast<float>(block.outPeak_.right()));
    att_[0] = std::min(att_[0], block.att_.left());
    att_[1] = std::min(att_[1], block.att_.right());
    inMs_ = {block.inMs_.left(), block.inMs_.right()};
    outMs_ = {block.outMs_.left(), block.outMs_.right()};
    interpolator_.commit(block.ring_);
    publish();
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
