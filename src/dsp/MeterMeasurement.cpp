#include "dsp/MeterMeasurement.h"

namespace tq {

MeterMeasurement::MeterMeasurement() {
    const auto& table = HalfbandCoefficients::table();
    for (int k = 0; k < HalfbandCoefficients::kCount; ++k) {
        halfbandCoefficients_[2 * k] = table[k];
        halfbandCoefficients_[2 * k + 1] = table[k];
    }
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
    outputHistory_.fill(0.0);
    resetRequest_.store(false, std::memory_order_relaxed);
    publish();
}

void MeterMeasurement::clear() { outputHistory_.fill(0.0); }

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
    MeterFrames block(outputHistory_.data(), halfbandCoefficients_.data(), halfbandKernel_);
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

DoublePair MeterFrames::finishRun(double* history, const double* coefficients,
                                  PairedHalfbandPeakKernel kernel, int count) {
    alignas(16) double peak[2];
    kernel(history, coefficients, count, peak);
    return DoublePair::load(peak);
}

void MeterMeasurement::endBlock(const MeterFrames& block) {
    DoublePair outPeak = block.outPeak_;
    const int count = block.runLength(block.next_);
    if (count > 0) {
        outPeak = max(outPeak, MeterFrames::finishRun(block.history_, block.coefficients_,
                                                      block.kernel_, count));
    }
    honourResetRequest();
    inPeak_[0] = std::max(inPeak_[0], static_cast<float>(block.inPeak_.left()));
    inPeak_[1] = std::max(inPeak_[1], static_cast<float>(block.inPeak_.right()));
    outPeak_[0] = std::max(outPeak_[0], static_cast<float>(outPeak.left()));
    outPeak_[1] = std::max(outPeak_[1], static_cast<float>(outPeak.right()));
    att_[0] = std::min(att_[0], block.att_.left());
    att_[1] = std::min(att_[1], block.att_.right());
    // A fading signal never lingers as denormals.
    const DoublePair guard = DoublePair::both(1e-30);
    const DoublePair inMs = (block.inMs_ + guard) - guard;
    const DoublePair outMs = (block.outMs_ + guard) - guard;
    inMs_ = {inMs.left(), inMs.right()};
    outMs_ = {outMs.left(), outMs.right()};
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
