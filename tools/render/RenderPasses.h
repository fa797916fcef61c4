// Whole-file renders of one input through a configured effect, each into an
// output that stays under its temporary name until it is committed, and the
// search that repeats them until the output meets a loudness target and a
// true-peak ceiling. Only the pass that is kept ever reaches the output name.
#pragma once

#include <memory>
#include <string>

#include "GainSearch.h"
#include "Options.h"
#include "PluginHost.h"
#include "Renderer.h"
#include "Report.h"
#include "SoundFiles.h"

namespace tq {

struct RenderPass {
    RenderResult result;
    std::unique_ptr<AtomicOutputFile> output;  // not yet committed
};

class PassRunner {
  public:
    PassRunner(const Options& options, PluginHost& host, std::string inputPath,
               std::string outputPath);

    // Renders the whole input with the effect's current settings. Without
    // `measureInput` the result's input levels are left empty.
    RenderPass run(bool measureInput = true);
    int outputChannels() const { return outputChannels_; }
    // Known once a pass has opened the input.
    int inputChannels() const { return inputChannels_; }
    int sampleRate() const { return sampleRate_; }
    bool strictLength() const { return options_.strict; }

  private:
    const Options& options_;
    PluginHost& host_;
    std::string inputPath_;
    std::string outputPath_;
    int inputChannels_ = 0;
    int sampleRate_ = 0;
    int outputChannels_ = 0;
};

struct GoalRender {
    RenderPass pass;  // the pass to keep
    MasteringReport mastering;
};

// Renders until the output meets `goal`, moving the effect's "Drive" (for a
// loudness target) and "Output" (the ceiling trim). Leaves the effect set as
// the kept pass was rendered. Throws ToolError when the effect lacks those
// parameters, when the input is silent, and when no pass holds the ceiling.
GoalRender renderToGoal(PassRunner& runner, PluginHost& host, const std::string& inputPath,
                        const LoudnessGoal& goal);

// The gain the effect applies before any limiting, from its "Drive", "Output"
// and "AutoOut" settings; 0 dB for effects without them.
double staticGainDb(PluginHost& host);

}  // namespace tq
