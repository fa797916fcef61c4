// The limiter signal path: everything the effect runs on audio.
//
// Owns the limiter engine of the chosen flavour (scalar: separate left/right arrays and
// the 1e-30 denormal guard; paired: interleaved (left, right) pairs processed two lanes
// at a time, with flush-to-zero set for each call), the smoothing kernel, the shared
// noise generator, the requantizer, the meter measurements and the calibration
// generator. Every buffer is allocated by the constructor for
// the worst case (rate band 2, N = 256); nothing allocates afterwards.
//
// Engine values are taken once at the start of each process call: a setter's change
// acts from the first frame of the next block, never within one.
//
// Latency: the output is the input delayed by L + 31 frames (look-ahead plus the
// interpolator's centre delay) in every setting.
#pragma once

#include <memory>

#include "dsp/BlockHandover.h"
#include "dsp/CalibrationGenerator.h"
#include "dsp/EngineSettings.h"
#include "dsp/MeterMeasurement.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/Requantizer.h"
#include "paths/SmoothingKernel.h"

namespace tq {

struct ScalarLayout;
struct PairedLayout;
template <typename Layout>
class LimiterEngine;

// The rate-dependent lengths and coefficients together with the smoothing kernel built
// for their smoothing length: what a rate or TransShape change replaces at once.
struct PathSettings {
    RateSettings rates;
    SmoothingKernel kernel;
};

class SignalPath {
  public:
    // [lock held] Allocates everything, starts at 44100 Hz with the TransShape step of
    // `parameters`, builds the kernel and runs suspend().
    SignalPath(Flavour flavour, EngineParameters& parameters);
    ~SignalPath();
    SignalPath(const SignalPath&) = delete;
    SignalPath& operator=(const SignalPath&) = delete;

    Flavour flavour() const { return flavour_; }
    // [lock held] The settings in use.
    const RateSettings& rateSettings() const { return settings_.front().rates; }
    const SmoothingKernel& kernel() const { return settings_.front().kernel; }
    int latency() const { return rateSettings().latency(); }

    // [lock held] New rate values (RateSettings::update already run by the caller).
    // Rebuilds the smoothing kernel when N changed. Does not reset the signal state; the
    // caller runs suspend()/clearBuffers() as it needs. Positions that would fall outside
    // new, shorter buffers restart at 0, so no reset order can index out of range. A
    // record whose lengths do not fit the buffers (not made by RateSettings::update) is
    // ignored.
    void setRateSettings(const RateSettings& settings);
    // [lock held] New TransShape step (0 .. 2): N, ring length and kernel (no reset).
    void setTransShape(int step);

    // Changes without the lock, taken over by the audio thread at its next block:
    // [one caller at a time, any thread, no lock] Builds the kernel for `settings` (made
    // by RateSettings::update) off the audio thread and offers both for the next block.
    // Returns false, offering nothing, for a record that does not fit the buffers.
    bool publishRateSettings(const RateSettings& settings);
    // [lock held] Puts the newest offered settings in use, if any came since the last
    // call, as setRateSettings would (no reset). Never allocates or waits. Returns whether
    // the settings changed: the caller then resets the signal state.
    bool adoptPublished();

    // [lock held] Every reset of the effect's suspend, then clearBuffers().
    void suspend();
    // [lock held] Zeroes every delay, tree, history and FFT buffer; positions stay.
    void clearBuffers();

    // [audio-thread, lock held] Runs the limiter for `frames` frames. inRight null: the
    // left input feeds both channels. outRight null: only the left channel is written
    // (to outLeft). inLeft null: silence in. outLeft null: the engine runs, nothing is
    // written. frames <= 0: returns at once. Input samples are sanitised: non-finite ->
    // 0, magnitudes below the smallest normal float -> 0, magnitudes limited to 1e6.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 int frames);
    void process(const double* inLeft, const double* inRight, double* outLeft, double* outRight,
                 int frames);

    // [audio-thread, lock held] The calibration generator instead of the limiter (mode and
    // scale from the parameters); the engine does not advance. outRight null = not
    // connected. frames <= 0 returns at once.
    void calibrate(float* outLeft, float* outRight, int frames);
    void calibrate(double* outLeft, double* outRight, int frames);

    // [any thread] The ten meter values (inPk L,R, outPk L,R, inRMS L,R, outRMS L,R,
    // att L,R); raises the reset request the audio thread honours at its next frame.
    void fetchMeters(float values[MeterMeasurement::kValueCount]);

  private:
    void applyLengths();
    double smoothedDrive() const;
    template <typename Sample>
    void processBlock(const Sample* inLeft, const Sample* inRight, Sample* outLeft,
                      Sample* outRight, int frames);
    template <typename Sample>
    void calibrateBlock(Sample* outLeft, Sample* outRight, int frames);

    Flavour flavour_;
    EngineParameters& parameters_;
    BlockHandover<PathSettings> settings_;
    NoiseGenerator generator_;
    Requantizer requantizer_;
    MeterMeasurement meters_;
    CalibrationGenerator calibration_;
    std::unique_ptr<LimiterEngine<ScalarLayout>> scalar_;
    std::unique_ptr<LimiterEngine<PairedLayout>> paired_;
};

}  // namespace tq
