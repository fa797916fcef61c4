#include "paths/SignalPath.h"

#include <cmath>

#include "paths/LimiterEngine.h"

namespace tq {

SignalPath::SignalPath(Flavour flavour, EngineParameters& parameters)
    : flavour_(flavour), parameters_(parameters) {
    if (flavour_ == Flavour::Paired) {
        paired_ = std::make_unique<LimiterEngine<PairedLayout>>(parameters_);
    } else {
        scalar_ = std::make_unique<LimiterEngine<ScalarLayout>>(parameters_);
    }
    rates_.update(44100, parameters_.transShape.load(std::memory_order_relaxed));
    kernel_.build(rates_.smoothingLength, flavour_);
    applyLengths();
    suspend();
}

SignalPath::~SignalPath() = default;

namespace {

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

// Lengths the buffers were sized for, consistent with each other; anything else (a
// caller that filled the record by hand) is refused rather than indexing past a buffer.
bool fitsTheBuffers(const RateSettings& r) {
    return isPowerOfTwo(r.lookAhead) && r.lookAhead >= 128 && r.lookAhead <= kMaxLookAhead &&
           isPowerOfTwo(r.smoothingLength) && r.smoothingLength >= 8 &&
           r.smoothingLength <= kMaxSmoothingLength &&
           r.transientRingLength == r.lookAhead - 2 * r.smoothingLength + 2 &&
           r.transientRingLength >= 1 && std::isfinite(r.gainSmoothing) &&
           std::isfinite(r.levellerCoefficient);
}

}  // namespace

void SignalPath::setRateSettings(const RateSettings& settings) {
    if (!fitsTheBuffers(settings)) return;
    const bool lengthChanged = settings.smoothingLength != kernel_.length();
    rates_ = settings;
    if (lengthChanged) kernel_.build(rates_.smoothingLength, flavour_);
    applyLengths();
}

void SignalPath::setTransShape(int step) {
    rates_.setTransShape(step);
    if (rates_.smoothingLength != kernel_.length()) {
        kernel_.build(rates_.smoothingLength, flavour_);
    }
    applyLengths();
}

void SignalPath::applyLengths() {
    if (paired_) paired_->configure(rates_, kernel_.spectrum());
    if (scalar_) scalar_->configure(rates_, kernel_.spectrum());
}

void SignalPath::suspend() {
    generator_.reseed();
    requantizer_.reset();
    meters_.reset();
    calibration_.reset();
    if (paired_) paired_->reset();
    if (scalar_) scalar_->reset();
    clearBuffers();
}

void SignalPath::clearBuffers() {
    if (paired_) paired_->clear();
    if (scalar_) scalar_->clear();
    requantizer_.clear();
    meters_.clear();
}

double SignalPath::smoothedDrive() const {
    return paired_ ? paired_->smoothedDrive() : scalar_->smoothedDrive();
}

template <typename Sample>
void SignalPath::processBlock(const Sample* inLeft, const Sample* inRight, Sample* outLeft,
                              Sample* outRight, int frames) {
    if (frames <= 0) return;
    requantizer_.beginBlock(parameters_, rates_);
    meters_.beginBlock(parameters_, rates_, smoothedDrive());
    if (paired_) {
        const DenormalFlushScope flush;
        paired_->process(inLeft, inRight, outLeft, outRight, frames, requantizer_, generator_,
                         meters_);
    } else {
        scalar_->process(inLeft, inRight, outLeft, outRight, frames, requantizer_, generator_,
                         meters_);
    }
}

template <typename Sample>
void SignalPath::calibrateBlock(Sample* outLeft, Sample* outRight, int frames) {
    if (frames <= 0) return;
    meters_.beginBlock(parameters_, rates_, smoothedDrive());
    calibration_.process(outLeft, outRight, frames,
                         parameters_.calibrate.load(std::memory_order_relaxed),
                         parameters_.scale.load(std::memory_order_relaxed), generator_, meters_);
}

void SignalPath::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                         int frames) {
    processBlock(inLeft, inRight, outLeft, outRight, frames);
}

void SignalPath::process(const double* inLeft, const double* inRight, double* outLeft,
                         double* outRight, int frames) {
    processBlock(inLeft, inRight, outLeft, outRight, frames);
}

void SignalPath::calibrate(float* outLeft, float* outRight, int frames) {
    calibrateBlock(outLeft, outRight, frames);
}

void SignalPath::calibrate(double* outLeft, double* outRight, int frames) {
    calibrateBlock(outLeft, outRight, frames);
}

void SignalPath::fetchMeters(float values[MeterMeasurement::kValueCount]) { meters_.fetch(values); }

}  // namespace tq
