// Peak, true peak and integrated loudness of a stream of interleaved frames,
// measured with libebur128 (ITU-R BS.1770 / EBU R 128).
#pragma once

#include <ebur128.h>

#include <cstdint>
#include <vector>

namespace tq {

struct LevelSummary {
    double samplePeakDb = 0.0;   // dBFS; -infinity for silence
    double truePeakDb = 0.0;     // dBTP
    double loudnessLufs = 0.0;   // integrated; -infinity below the absolute gate
    std::int64_t overs = 0;      // finite samples whose magnitude exceeds full scale
    std::int64_t nonFinite = 0;  // NaN and infinite samples, measured as silence
};

class LevelMeter {
  public:
    // A mono stream counts as dual mono: the level it has when played over both
    // loudspeakers, so a mono input and its stereo rendering compare directly.
    LevelMeter(int channels, int sampleRate);
    ~LevelMeter();
    LevelMeter(const LevelMeter&) = delete;
    LevelMeter& operator=(const LevelMeter&) = delete;

    void add(const double* interleaved, std::int64_t frames);
    LevelSummary summary() const;

  private:
    ebur128_state* state_ = nullptr;
    int channels_;
    std::int64_t overs_ = 0;
    std::int64_t nonFinite_ = 0;
    std::vector<double> finite_;  // a block with its non-finite samples zeroed
};

// 20 log10 of a linear level, -infinity for 0.
double decibels(double linear);

}  // namespace tq
