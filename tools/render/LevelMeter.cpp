#include "LevelMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ToolError.h"

namespace tq {

namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

}  // namespace

double decibels(double linear) {
    if (!(linear > 0.0)) return kNegativeInfinity;
    return 20.0 * std::log10(linear);
}

LevelMeter::LevelMeter(int channels, int sampleRate)
    : channels_(channels),
      stepFrames_(std::max(1, sampleRate / 10)),
      momentaryFrames_(static_cast<std::int64_t>(sampleRate) * 2 / 5),
      shortTermFrames_(static_cast<std::int64_t>(sampleRate) * 3),
      maxMomentary_(kNegativeInfinity),
      maxShortTerm_(kNegativeInfinity) {
    state_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | EBUR128_MODE_S | EBUR128_MODE_LRA |
                              EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK);
    if (state_ == nullptr) {
        throw ToolError("cannot measure loudness of " + std::to_string(channels) + " channels at " +
                        std::to_string(sampleRate) + " Hz");
    }
}

LevelMeter::~LevelMeter() { ebur128_destroy(&state_); }

void LevelMeter::add(const double* interleaved, std::int64_t frames) {
    while (frames > 0) {
        const std::int64_t chunk = std::min(frames, stepFrames_ - framesInStep_);
        addUpToStep(interleaved, chunk);
        interleaved += chunk * channels_;
        frames -= chunk;
    }
}

void LevelMeter::addUpToStep(const double* interleaved, std::int64_t frames) {
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
    } else {
        // A NaN would poison every peak and loudness sum after it; such samples are
        // counted on their own and measured as silence.
        finite_.assign(interleaved, interleaved + samples);
        for (double& sample : finite_) {
            if (!std::isfinite(sample)) sample = 0.0;
        }
        ebur128_add_frames_double(state_, finite_.data(), static_cast<std::size_t>(frames));
    }
    framesInStep_ += frames;
    framesSeen_ += frames;
    if (framesInStep_ == stepFrames_) {
        framesInStep_ = 0;
        sampleWindows();
    }
}

void LevelMeter::sampleWindows() {
    // A window not yet filled would be measured partly on silence.
    double value = 0.0;
    if (framesSeen_ >= momentaryFrames_ &&
        ebur128_loudness_momentary(state_, &value) == EBUR128_SUCCESS) {
        maxMomentary_ = std::max(maxMomentary_, value);
    }
    if (framesSeen_ >= shortTermFrames_ &&
        ebur128_loudness_shortterm(state_, &value) == EBUR128_SUCCESS) {
        maxShortTerm_ = std::max(maxShortTerm_, value);
    }
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
    LevelSummary summary;
    summary.loudnessLufs = kNegativeInfinity;
    if (ebur128_loudness_global(state_, &summary.loudnessLufs) != EBUR128_SUCCESS) {
        summary.loudnessLufs = kNegativeInfinity;
    }
    if (ebur128_loudness_range(state_, &summary.loudnessRangeLu) != EBUR128_SUCCESS ||
        !std::isfinite(summary.loudnessRangeLu)) {
        summary.loudnessRangeLu = 0.0;
    }
    // The oversampled estimate can fall a hair below the sample peak.
    truePeak = std::max(truePeak, samplePeak);
    summary.samplePeakDb = decibels(samplePeak);
    summary.truePeakDb = decibels(truePeak);
    summary.maxShortTermLufs = maxShortTerm_;
    summary.maxMomentaryLufs = maxMomentary_;
    summary.overs = overs_;
    summary.nonFinite = nonFinite_;
    return summary;
}

}  // namespace tq
