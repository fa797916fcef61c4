#include "paths/SignalPath.h"

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

void SignalPath::setRateSettings(const RateSettings& settings) {
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
    if (paired_) paired_->reset();
    if (scalar_) scalar_->reset();
    clearBuffers();
}

void SignalPath::clearBuffers() {
    if (paired_) paired_->clear();
    if (scalar_) scalar_->clear();
    requantizer_.clear();
}

namespace {

template <typename Sample, typename Engine>
void runBlock(Engine& engine, const Sample* inLeft, const Sample* inRight, Sample* outLeft,
              Sample* outRight, int frames, Requantizer& requantizer, NoiseGenerator& generator) {
    engine.process(inLeft, inRight, outLeft, outRight, frames, requantizer, generator);
}

}  // namespace

void SignalPath::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                         int frames) {
    if (frames <= 0) return;
    requantizer_.beginBlock(parameters_, rates_);
    if (paired_) {
        const DenormalFlushScope flush;
        runBlock(*paired_, inLeft, inRight, outLeft, outRight, frames, requantizer_, generator_);
    } else {
        runBlock(*scalar_, inLeft, inRight, outLeft, outRight, frames, requantizer_, generator_);
    }
}

void SignalPath::process(const double* inLeft, const double* inRight, double* outLeft,
                         double* outRight, int frames) {
    if (frames <= 0) return;
    requantizer_.beginBlock(parameters_, rates_);
    if (paired_) {
        const DenormalFlushScope flush;
        runBlock(*paired_, inLeft, inRight, outLeft, outRight, frames, requantizer_, generator_);
    } else {
        runBlock(*scalar_, inLeft, inRight, outLeft, outRight, frames, requantizer_, generator_);
    }
}

}  // namespace tq
