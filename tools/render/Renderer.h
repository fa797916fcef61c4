// Runs a whole file through a started effect in blocks, with latency
// compensation: the effect's initialDelay frames at the start are dropped and
// the tail is flushed with silence, so the output is aligned with the input and
// has exactly its length.
#pragma once

#include <cstdint>

#include "EnvelopeTrace.h"
#include "LevelMeter.h"
#include "PluginHost.h"
#include "SoundFiles.h"

namespace tq {

struct RenderSettings {
    int blockSize = 512;
    SamplePrecision precision = SamplePrecision::single;
    int outputChannels = 2;
    bool showProgress = false;
    // Off for repeated passes over one input whose levels are already known:
    // the loudness and true-peak measurement costs more than the render.
    bool measureInput = true;
};

struct RenderResult {
    std::int64_t frames = 0;           // input and output length (what the input held)
    std::int64_t declaredFrames = 0;   // what a truncated input's header promised, else 0
    std::int64_t processedFrames = 0;  // including the flushed tail and padding
    int latency = 0;
    bool latencyChanged = false;  // the effect changed it mid-render: output misaligned
    double cpuSeconds = 0.0;      // thread CPU time spent inside the process calls
    LevelSummary input;
    LevelSummary output;
    EnvelopeTrace trace;
};

// The effect must be started with the file's rate and `settings.blockSize`.
RenderResult renderFile(PluginHost& host, InputFile& input, AtomicOutputFile& output,
                        const RenderSettings& settings);

}  // namespace tq
