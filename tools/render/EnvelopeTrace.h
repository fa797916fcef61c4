// The level of a render's input and output over time, in windows of 5 ms: the
// waveform envelopes of the plot and the gain reduction the effect applied.
// The output must be aligned with the input (latency compensated).
#pragma once

#include <cstdint>
#include <vector>

namespace tq {

struct TraceWindow {
    float inputPeak = 0.0f;  // largest magnitude of any channel
    float outputPeak = 0.0f;
    double inputPower = 0.0;  // mean square over the window and the channels
    double outputPower = 0.0;
};

struct GainReductionSummary {
    double maxDb = 0.0;
    double averageDb = 0.0;  // over the windows where the input is not silent
};

class EnvelopeTrace {
  public:
    EnvelopeTrace() = default;
    EnvelopeTrace(int sampleRate, int inputChannels, int outputChannels);

    void addInput(const double* interleaved, std::int64_t frames);
    void addOutput(const double* interleaved, std::int64_t frames);

    int windowFrames() const { return windowFrames_; }
    const std::vector<TraceWindow>& windows() const { return windows_; }

    // Gain reduction of each window in dB: how far the output lies below the
    // input raised by the effect's static gain (`staticGainDb`), never below 0.
    // Windows where the input is silent are NaN.
    std::vector<double> gainReductionDb(double staticGainDb) const;
    GainReductionSummary summarizeGainReduction(double staticGainDb) const;

  private:
    struct Stream {
        int channels = 1;
        std::int64_t frames = 0;  // frames added so far
        double energy = 0.0;      // of the window being filled
        float peak = 0.0f;
    };
    void add(Stream& stream, const double* interleaved, std::int64_t frames, bool isInput);
    void store(const Stream& stream, std::int64_t windowIndex, std::int64_t framesInWindow,
               bool isInput);

    int windowFrames_ = 1;
    Stream input_;
    Stream output_;
    std::vector<TraceWindow> windows_;
};

}  // namespace tq
