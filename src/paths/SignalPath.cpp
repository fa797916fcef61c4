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
    PathSettings& current = settings_.front();
    current.rates.update(44100, parameters_.transShape.load(std::memory_order_relaxed));
    current.kernel.build(current.rates.smoothingLength, flavour_);
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
    PathSettings& current = settings_.front();
    current.rates = settings;
    if (current.rates.smoothingLength != current.kernel.length()) {
        current.kernel.build(current.rates.smoothingLength, flavour_);
    }
    applyLengths();
}

void SignalPath::setTransShape(int step) {
    PathSettings& current = settings_.front();
    current.rates.setTransShape(step);
    if (current.rates.smoothingLength != current.kernel.length()) {
        current.kernel.build(current.rates.smoothingLength, flavour_);
    }
    applyLengths();
}

bool SignalPath::publishRateSettings(const RateSettings& settings) {
    if (!fitsTheBuffers(settings)) return false;
    PathSettings& next = settings_.back();
    // A slot that comes back keeps its kernel: rebuilt only for another length.
    if (next.kernel.length() != settings.smoothingLength &&
        !next.kernel.build(settings.smoothingLength, flavour_)) {
        return false;
    }
    next.rates = settings;
    settings_.publish();
    return true;
}

bool SignalPath::adoptPublished() {
    if (!settings_.adopt()) return false;
    applyLengths();
    return true;
}

void SignalPath::applyLengths() {
    const PathSettings& current = settings_.front();
    if (paired_) paired_->configure(current.rates, current.kernel.spectrum());
    if (scalar_) scalar_->configure(current.rates, current.kernel.spectrum());
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
    const RateSettings& rates = settings_.front().rates;
    requantizer_.beginBlock(parameters_, rates);
    meters_.beginBlock(parameters_, rates, smoothedDrive());
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
    meters_.beginBlock(parameters_, settings_.front().rates, smoothedDrive());
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
