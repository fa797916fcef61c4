#include "EnvelopeTrace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tq {
namespace {

constexpr int kWindowsPerSecond = 200;
// Input windows quieter than this (mean square, about -70 dBFS) carry too
// little signal for a meaningful ratio: dither and noise floors dominate.
constexpr double kSilentPower = 1e-7;

}  // namespace

EnvelopeTrace::EnvelopeTrace(int sampleRate, int inputChannels, int outputChannels)
    : windowFrames_(std::max(1, sampleRate / kWindowsPerSecond)),
      input_{inputChannels},
      output_{outputChannels} {}

void EnvelopeTrace::addInput(const double* interleaved, std::int64_t frames) {
    add(input_, interleaved, frames, true);
}

void EnvelopeTrace::addOutput(const double* interleaved, std::int64_t frames) {
    add(output_, interleaved, frames, false);
}

void EnvelopeTrace::add(Stream& stream, const double* interleaved, std::int64_t frames,
                        bool isInput) {
    for (std::int64_t n = 0; n < frames; ++n) {
        for (int c = 0; c < stream.channels; ++c) {
            const double value = interleaved[n * stream.channels + c];
            stream.energy += value * value;
            stream.peak = std::max(stream.peak, static_cast<float>(std::fabs(value)));
        }
        ++stream.frames;
        if (stream.frames % windowFrames_ == 0) {
            store(stream, stream.frames / windowFrames_ - 1, windowFrames_, isInput);
            stream.energy = 0.0;
            stream.peak = 0.0f;
        }
    }
    // A partly filled last window is stored as it stands, so the trace is
    // complete whenever the stream ends; the next add goes on filling it.
    const std::int64_t rest = stream.frames % windowFrames_;
    if (rest != 0) store(stream, stream.frames / windowFrames_, rest, isInput);
}

void EnvelopeTrace::store(const Stream& stream, std::int64_t windowIndex,
                          std::int64_t framesInWindow, bool isInput) {
    const auto index = static_cast<std::size_t>(windowIndex);
    if (windows_.size() <= index) windows_.resize(index + 1);
    TraceWindow& window = windows_[index];
    const double power = stream.energy / static_cast<double>(framesInWindow * stream.channels);
    if (isInput) {
        window.inputPeak = stream.peak;
        window.inputPower = power;
    } else {
        window.outputPeak = stream.peak;
        window.outputPower = power;
    }
}

std::vector<double> EnvelopeTrace::gainReductionDb(double staticGainDb) const {
    const double staticPower = std::pow(10.0, staticGainDb / 10.0);
    std::vector<double> reduction(windows_.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        const TraceWindow& window = windows_[i];
        if (window.inputPower < kSilentPower) continue;
        const double expected = window.inputPower * staticPower;
        // Silence out of a sounding input is as much reduction as can be shown.
        const double output = std::max(window.outputPower, expected * 1e-12);
        reduction[i] = std::max(0.0, 10.0 * std::log10(expected / output));
    }
    return reduction;
}

GainReductionSummary EnvelopeTrace::summarizeGainReduction(double staticGainDb) const {
    GainReductionSummary summary;
    double sum = 0.0;
    std::size_t counted = 0;
    for (const double value : gainReductionDb(staticGainDb)) {
        if (std::isnan(value)) continue;
        summary.maxDb = std::max(summary.maxDb, value);
        sum += value;
        ++counted;
    }
    if (counted > 0) summary.averageDb = sum / static_cast<double>(counted);
    return summary;
}

}  // namespace tq
