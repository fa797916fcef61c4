#include "RenderPasses.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "DecibelParameter.h"
#include "ParameterControl.h"
#include "ToolError.h"

namespace tq {
namespace {

// Files shorter than this finish before a progress bar would be of any use.
constexpr double kProgressMinSeconds = 5.0;
// Passes after which the search gives up; two or three are the rule.
constexpr int kMaxPasses = 6;
// A mono input fed to both outputs measures this much louder there.
constexpr double kDualMonoOffsetDb = 3.0103;

struct InputLevels {
    LevelSummary levels;
    int channels = 0;
};

InputLevels measureInput(const std::string& path, bool strictLength) {
    InputFile input(path, strictLength);
    LevelMeter meter(input.channels(), input.sampleRate());
    constexpr std::int64_t kChunk = 65536;
    std::vector<double> block(static_cast<std::size_t>(kChunk * input.channels()));
    for (std::int64_t left = input.frames(); left > 0;) {
        const std::int64_t frames = input.read(block.data(), std::min(left, kChunk));
        if (frames <= 0) break;  // a truncated file ends early
        meter.add(block.data(), frames);
        left -= frames;
    }
    return {meter.summary(), input.channels()};
}

std::optional<int> findParameter(PluginHost& host, const std::string& name) {
    try {
        return ParameterControl(host).findParameter(name);
    } catch (const ToolError&) {
        return std::nullopt;
    }
}

bool isSwitchedOn(PluginHost& host, const std::string& name) {
    const auto index = findParameter(host, name);
    return index && host.parameterDisplay(*index) == "on";
}

// How close a pass came: ceiling breaches first, then the distance from the
// loudness target.
double shortfall(const LoudnessGoal& goal, const LevelSummary& output) {
    double miss = 0.0;
    if (goal.ceilingDbtp) miss += 1000.0 * std::max(0.0, output.truePeakDb - *goal.ceilingDbtp);
    if (goal.targetLufs) {
        const double error = std::fabs(output.loudnessLufs - *goal.targetLufs);
        miss += std::isfinite(error) ? error : 1000.0;
    }
    return miss;
}

}  // namespace

PassRunner::PassRunner(const Options& options, PluginHost& host, std::string inputPath,
                       std::string outputPath)
    : options_(options),
      host_(host),
      inputPath_(std::move(inputPath)),
      outputPath_(std::move(outputPath)),
      outputChannels_(options.monoOut ? 1 : std::min(2, host.numOutputs())) {
    if (options.doublePrecision && !host.canProcessDouble()) {
        throw ToolError("plug-in '" + host.path() + "' has no double-precision process entry");
    }
}

RenderPass PassRunner::run(bool measureInput) {
    // Opened afresh for every pass: each reads the input from its start.
    InputFile input(inputPath_, options_.strict);
    inputChannels_ = input.channels();
    sampleRate_ = input.sampleRate();
    if (inputChannels_ > host_.numInputs()) {
        throw ToolError("plug-in '" + host_.path() + "' takes " +
                        std::to_string(host_.numInputs()) + " input channel(s), '" + inputPath_ +
                        "' has " + std::to_string(inputChannels_));
    }
    const FileFormat format = effectiveFormat(options_, outputPath_);
    RenderPass pass;
    pass.output = std::make_unique<AtomicOutputFile>(
        outputPath_, format, effectiveSampleFormat(options_, format), input.sampleRate(),
        outputChannels_, input.frames());

    RenderSettings settings;
    settings.blockSize = options_.blockSize;
    settings.precision =
        options_.doublePrecision ? SamplePrecision::double_ : SamplePrecision::single;
    settings.outputChannels = outputChannels_;
    settings.measureInput = measureInput;
    // Several files rendering at once would draw over each other's bar.
    settings.showProgress =
        !options_.batch && ::isatty(STDERR_FILENO) != 0 &&
        static_cast<double>(input.frames()) > kProgressMinSeconds * input.sampleRate();
    // A mono file feeds input 1 only; the effect learns that input 2 is not
    // connected and runs its mono fallback.
    host_.start(input.sampleRate(), settings.blockSize, settings.precision, input.channels(),
                outputChannels_);
    pass.result = renderFile(host_, input, *pass.output, settings);
    host_.stop();
    return pass;
}

double staticGainDb(PluginHost& host) {
    const auto drive = DecibelParameter::find(host, "Drive");
    const double driveDb = drive ? drive->level() : 0.0;
    // AutoOut replaces the output gain with the inverse of the drive.
    if (isSwitchedOn(host, "AutoOut")) return 0.0;
    const auto output = DecibelParameter::find(host, "Output");
    return driveDb + (output ? output->level() : 0.0);
}

GoalRender renderToGoal(PassRunner& runner, PluginHost& host, const std::string& inputPath,
                        const LoudnessGoal& goal) {
    auto drive = DecibelParameter::find(host, "Drive");
    auto output = DecibelParameter::find(host, "Output");
    if (!output || (goal.targetLufs && !drive)) {
        throw ToolError(std::string(goal.targetLufs ? "--target-lufs" : "--ceiling-dbtp") +
                        " needs an effect with " + (goal.targetLufs ? "'Drive' and " : "") +
                        "'Output' levels in dB; '" + host.path() + "' has none");
    }
    if (const auto autoOut = findParameter(host, "AutoOut");
        autoOut && isSwitchedOn(host, "AutoOut")) {
        // AutoOut would override the output level the ceiling needs.
        host.setParameter(*autoOut, 0.0f);
        std::fprintf(stderr, "tarvel-render: note: AutoOut switched off; Output trims the level\n");
    }

    const InputLevels measured = measureInput(inputPath, runner.strictLength());
    const LevelSummary& input = measured.levels;
    if (goal.targetLufs && !std::isfinite(input.loudnessLufs)) {
        throw ToolError("'" + inputPath +
                        "' is silent (below the loudness gate): no Drive can "
                        "bring it to " +
                        std::to_string(*goal.targetLufs) + " LUFS");
    }
    GainLimits limits;
    limits.outputMinDb = output->minimumDb();
    limits.outputMaxDb = output->maximumDb();
    if (drive) {
        limits.driveMinDb = drive->minimumDb();
        limits.driveMaxDb = drive->maximumDb();
    }
    const GainSetting start{drive ? drive->level() : 0.0, output->level()};
    const double inputOffset =
        measured.channels == 1 && runner.outputChannels() == 2 ? kDualMonoOffsetDb : 0.0;
    GainSearch search(goal, limits, start, input, inputOffset);

    // The normalised values a pass ran with, so the kept one is restored
    // exactly: other values can show the same level and still differ.
    struct Applied {
        GainSetting shown;
        float drive = 0.0f;
        float output = 0.0f;
    };
    auto apply = [&](GainSetting wanted) {
        Applied applied{wanted};
        if (drive) {
            applied.shown.driveDb = drive->set(wanted.driveDb);
            applied.drive = host.getParameter(drive->index());
        }
        applied.shown.outputDb = output->set(wanted.outputDb);
        applied.output = host.getParameter(output->index());
        return applied;
    };

    GoalRender best;
    Applied kept;
    bool haveBest = false;
    std::optional<GainSetting> next = search.firstPass();
    int passes = 0;
    while (next && passes < kMaxPasses) {
        const Applied applied = apply(*next);
        RenderPass pass = runner.run(false);
        pass.result.input = input;  // measured once, before the first pass
        ++passes;
        const bool reached = search.record(applied.shown, pass.result.output);
        if (!haveBest ||
            shortfall(goal, pass.result.output) < shortfall(goal, best.pass.result.output)) {
            best.pass = std::move(pass);
            kept = applied;
            haveBest = true;
        }
        if (reached) break;
        next = search.nextPass();
    }
    if (goal.ceilingDbtp && !(best.pass.result.output.truePeakDb <= *goal.ceilingDbtp)) {
        char message[160];
        std::snprintf(message, sizeof message,
                      "the true peak stays at %+.2f dBTP, above the ceiling of %+.2f dBTP, even "
                      "with Output at %+.2f dB; nothing written",
                      best.pass.result.output.truePeakDb, *goal.ceilingDbtp, kept.shown.outputDb);
        throw ToolError(message);
    }
    if (drive) host.setParameter(drive->index(), kept.drive);
    host.setParameter(output->index(), kept.output);
    const GainSetting bestSetting = kept.shown;
    best.mastering.targetLufs = goal.targetLufs;
    best.mastering.ceilingDbtp = goal.ceilingDbtp;
    best.mastering.toleranceLu = goal.toleranceLu;
    best.mastering.passes = passes;
    best.mastering.reached = search.meets(best.pass.result.output);
    best.mastering.driveDb = bestSetting.driveDb;
    best.mastering.outputDb = bestSetting.outputDb;
    return best;
}

}  // namespace tq
