// Peak, true peak and loudness of a stream of interleaved frames, measured
// with libebur128 (ITU-R BS.1770 / EBU R 128 / EBU Tech 3342).
#pragma once

#include <ebur128.h>

#include <cstdint>
#include <vector>

namespace tq {

struct LevelSummary {
    double samplePeakDb = 0.0;  // dBFS; -infinity for silence
    double truePeakDb = 0.0;    // dBTP, 4x oversampled
    double loudnessLufs = 0.0;  // integrated; -infinity below the absolute gate
    double loudnessRangeLu = 0.0;
    double maxShortTermLufs = 0.0;  // 3 s window; -infinity when shorter than the window
    double maxMomentaryLufs = 0.0;  // 400 ms window
    std::int64_t overs = 0;         // finite samples whose magnitude exceeds full scale
    std::int64_t nonFinite = 0;     // NaN and infinite samples, measured as silence
};

class LevelMeter {
  public:
    // A mono stream is measured as one channel, as a mono file is delivered;
    // it reads about 3 dB below the same signal played as dual mono.
    LevelMeter(int channels, int sampleRate);
    ~LevelMeter();
    LevelMeter(const LevelMeter&) = delete;
    LevelMeter& operator=(const LevelMeter&) = delete;

    void add(const double* interleaved, std::int64_t frames);
    LevelSummary summary() const;

  private:
    void addUpToStep(const double* interleaved, std::int64_t frames);
    void sampleWindows();

    ebur128_state* state_ = nullptr;
    int channels_;
    // The momentary and short-term maxima are read every 100 ms of signal, the
    // step EBU R 128 gives for both.
    std::int64_t stepFrames_;
    std::int64_t framesInStep_ = 0;
    std::int64_t framesSeen_ = 0;
    std::int64_t momentaryFrames_;
    std::int64_t shortTermFrames_;
    double maxMomentary_;
    double maxShortTerm_;
    std::int64_t overs_ = 0;
    std::int64_t nonFinite_ = 0;
    std::vector<double> finite_;  // a block with its non-finite samples zeroed
};

// 20 log10 of a linear level, -infinity for 0.
double decibels(double linear);

}  // namespace tq
