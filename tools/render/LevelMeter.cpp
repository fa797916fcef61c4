#include "LevelMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ToolError.h"

namespace tq {

double decibels(double linear) {
    if (!(linear > 0.0)) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(linear);
}

LevelMeter::LevelMeter(int channels, int sampleRate) : channels_(channels) {
    state_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (state_ == nullptr) {
        throw ToolError("cannot measure loudness of " + std::to_string(channels) + " channels at " +
                        std::to_string(sampleRate) + " Hz");
    }
    if (channels == 1) ebur128_set_channel(state_, 0, EBUR128_DUAL_MONO);
}

LevelMeter::~LevelMeter() { ebur128_destroy(&state_); }

void LevelMeter::add(const double* interleaved, std::int64_t frames) {
    if (frames <= 0) return;
    const std::int64_t samples = frames * channels_;
    std::int64_t nonFinite = 0;
    for (std::int64_t i = 0; i < samples; ++i) {
        if (!std::isfinite(interleaved[i])) {
            ++nonFinite;
        } else if (std::fabs(interleaved[i]) > 1.0) {
            ++overs_;
        }
    }
    nonFinite_ += nonFinite;
    if (nonFinite == 0) {
        ebur128_add_frames_double(state_, interleaved, static_cast<std::size_t>(frames));
        return;
    }
    // A NaN would poison every peak and loudness sum after it; such samples are counted
    // on their own and measured as silence.
    finite_.assign(interleaved, interleaved + samples);
    for (double& sample : finite_) {
        if (!std::isfinite(sample)) sample = 0.0;
    }
    ebur128_add_frames_double(state_, finite_.data(), static_cast<std::size_t>(frames));
}

LevelSummary LevelMeter::summary() const {
    double samplePeak = 0.0;
    double truePeak = 0.0;
    for (int channel = 0; channel < channels_; ++channel) {
        double value = 0.0;
        if (ebur128_sample_peak(state_, static_cast<unsigned>(channel), &value) ==
            EBUR128_SUCCESS) {
            samplePeak = std::max(samplePeak, value);
        }
        if (ebur128_true_peak(state_, static_cast<unsigned>(channel), &value) == EBUR128_SUCCESS) {
            truePeak = std::max(truePeak, value);
        }
    }
    double loudness = -std::numeric_limits<double>::infinity();
    if (ebur128_loudness_global(state_, &loudness) != EBUR128_SUCCESS) {
        loudness = -std::numeric_limits<double>::infinity();
    }
    // The oversampled estimate can fall a hair below the sample peak.
    truePeak = std::max(truePeak, samplePeak);
    return {decibels(samplePeak), decibels(truePeak), loudness, overs_, nonFinite_};
}

}  // namespace tq
