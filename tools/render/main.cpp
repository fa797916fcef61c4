// tarvel-render: renders sound files through a Linux VST2 effect, the way a host
// does, and reports levels, loudness, latency and processing cost.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Batch.h"
#include "DemoProgramme.h"
#include "Options.h"
#include "ParameterControl.h"
#include "PendingFiles.h"
#include "Plot.h"
#include "PluginHost.h"
#include "RenderPasses.h"
#include "Renderer.h"
#include "Report.h"
#include "SoundFiles.h"
#include "ToolError.h"
#include "WordLength.h"

// fontconfig (behind the plot's text) keeps its caches for the life of the
// process; only a library-wide teardown would free them, which must not run
// while the effect, which may use it too, is loaded. Read by LeakSanitizer
// builds only.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using namespace tq;

constexpr const char* kDefaultPluginName = "tarvel-quolt.so";
constexpr const char* kDemoInput = "demo-in.wav";

std::string besideExecutable(const std::string& fileName) {
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return fileName;
    std::string executable(path.data(), static_cast<std::size_t>(length));
    const auto slash = executable.find_last_of('/');
    return slash == std::string::npos ? fileName : executable.substr(0, slash + 1) + fileName;
}

// Loads the effect and applies --preset, then every --set in order.
std::unique_ptr<PluginHost> loadConfiguredEffect(const Options& options, std::string& presetName) {
    const std::string path =
        options.pluginPath.empty() ? besideExecutable(kDefaultPluginName) : options.pluginPath;
    // Read the preset before loading, so a bad preset file never costs a load.
    std::optional<PresetRecord> preset;
    if (!options.presetPath.empty()) preset = readPresetFile(options.presetPath);
    auto host = std::make_unique<PluginHost>(path);
    ParameterControl parameters(*host);
    if (preset) {
        parameters.applyPreset(*preset, options.presetPath);
        presetName = preset->name;
    }
    for (const auto& assignment : options.assignments) parameters.applyAssignment(assignment);
    return host;
}

RenderReport renderOne(const Options& options, PluginHost& host, const std::string& inputPath,
                       const std::string& outputPath, bool& soundOnStandardOutput) {
    const FileFormat format = effectiveFormat(options, outputPath);
    const SampleFormat sampleFormat = effectiveSampleFormat(options, format);
    const std::string wordWarning =
        matchWordLength(host, options.assignments, sampleFormat, format);
    if (!wordWarning.empty()) {
        std::fprintf(stderr, "tarvel-render: warning: '%s': %s\n", outputPath.c_str(),
                     wordWarning.c_str());
    }
    PassRunner runner(options, host, inputPath, outputPath);
    RenderReport report;
    RenderPass pass;
    if (options.targetLufs || options.ceilingDbtp) {
        LoudnessGoal goal;
        goal.targetLufs = options.targetLufs;
        goal.ceilingDbtp = options.ceilingDbtp;
        GoalRender mastered = renderToGoal(runner, host, inputPath, goal);
        pass = std::move(mastered.pass);
        report.mastering = mastered.mastering;
    } else {
        pass = runner.run();
    }
    pass.output->commit();
    soundOnStandardOutput = pass.output->writesStandardOutput();
    report.result = std::move(pass.result);

    report.inputPath = inputPath;
    report.outputPath = outputPath;
    report.pluginPath = host.path();
    report.effectName = host.effectName();
    report.pluginVersion = host.version();
    report.sampleRate = runner.sampleRate();
    report.inputChannels = runner.inputChannels();
    report.outputChannels = runner.outputChannels();
    report.blockSize = options.blockSize;
    report.doublePrecision = options.doublePrecision;
    report.outputFormat = formatName(format);
    report.outputSubtype = sampleFormatName(sampleFormat);
    report.settings = ParameterControl(host).listParameters();
    report.staticGainDb = staticGainDb(host);
    report.gainReduction = report.result.trace.summarizeGainReduction(report.staticGainDb);
    if (!options.plotPath.empty()) {
        writePlot(options.plotPath, report);
        report.plotPath = options.plotPath;
    }
    return report;
}

// Empty when the render met its goal (or had none), else why not.
std::string missedGoal(const RenderReport& report) {
    if (!report.mastering || report.mastering->reached) return {};
    return "the output misses the target; '" + report.outputPath + "' holds the closest pass";
}

// The report a printer writes, as text.
std::string captured(const std::function<void(std::FILE*)>& print) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    if (stream == nullptr) throw std::bad_alloc();
    print(stream);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

JobOutcome renderJob(const Options& options, const BatchJob& job) {
    std::string presetName;
    const auto host = loadConfiguredEffect(options, presetName);
    bool soundOnStandardOutput = false;
    RenderReport report = renderOne(options, *host, job.input, job.output, soundOnStandardOutput);
    report.presetName = presetName;
    JobOutcome outcome;
    outcome.report = captured([&](std::FILE* out) {
        if (options.json) {
            printReportJson(out, report);
        } else {
            printReportTable(out, report);
        }
    });
    // The file is written, but a batch counts it as failed.
    if (const std::string missed = missedGoal(report); !missed.empty()) throw ToolError(missed);
    outcome.inputLufs = report.result.input.loudnessLufs;
    outcome.outputLufs = report.result.output.loudnessLufs;
    outcome.outputTruePeakDb = report.result.output.truePeakDb;
    return outcome;
}

// Several files, each with its own instance of the effect; a report for each as it
// ends, then a summary (or one JSON document holding them all).
int runFiles(const Options& options) {
    if (!options.plotPath.empty()) {
        throw ToolError("--plot draws one render; give a single INPUT (and -o OUTPUT)");
    }
    const std::vector<BatchJob> jobs =
        planBatch(options.inputPaths, options.outputDirectory, effectiveFormat(options, ""));
    const auto outcomes = runBatch(
        jobs, options.jobs, [&](const BatchJob& job) { return renderJob(options, job); },
        [&](const BatchJob& job, const JobOutcome& outcome) {
            if (!outcome.succeeded) {
                std::fprintf(stderr, "tarvel-render: %s: %s\n", job.input.c_str(),
                             outcome.error.c_str());
            } else if (!options.json) {
                std::fprintf(stdout, "%s\n", outcome.report.c_str());
                std::fflush(stdout);
            }
        });
    std::size_t failed = 0;
    for (const auto& outcome : outcomes) failed += outcome.succeeded ? 0 : 1;
    if (options.json) {
        std::fprintf(stdout, "{\n\"files\": [");
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            std::fprintf(stdout, "%s\n", i == 0 ? "" : ",");
            if (outcomes[i].succeeded) {
                std::string text = outcomes[i].report;
                while (!text.empty() && text.back() == '\n') text.pop_back();
                std::fputs(text.c_str(), stdout);
            } else {
                std::fprintf(stdout, "{\"input_file\": %s, \"output_file\": %s, \"error\": %s}",
                             jsonString(jobs[i].input).c_str(), jsonString(jobs[i].output).c_str(),
                             jsonString(outcomes[i].error).c_str());
            }
        }
        std::fprintf(stdout, "\n],\n\"rendered\": %zu,\n\"failed\": %zu\n}\n", jobs.size() - failed,
                     failed);
    } else {
        printBatchSummary(stdout, jobs, outcomes);
    }
    return failed == 0 ? 0 : 1;
}

void writeDemoInput(const std::string& path) {
    const std::vector<double> programme = DemoProgramme::generate();
    const auto frames = static_cast<std::int64_t>(programme.size() / DemoProgramme::kChannels);
    AtomicOutputFile file(path, FileFormat::wav, SampleFormat::float32, DemoProgramme::kSampleRate,
                          DemoProgramme::kChannels, frames);
    file.write(programme.data(), frames);
    file.commit();
}

int run(const std::vector<std::string>& arguments) {
    // Before any file exists: a signal or file-size limit must find the handlers set.
    installCleanupHandlers();
    const Options options = parseOptions(arguments);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tarvel-render %s\n", kToolVersion);
        try {
            std::string presetName;
            const auto host = loadConfiguredEffect(options, presetName);
            std::printf("plug-in %s (%s)\n", host->effectName().c_str(), host->path().c_str());
        } catch (const ToolError& error) {
            std::printf("plug-in not loaded: %s\n", error.what());
        }
        return 0;
    }
    std::string presetName;
    const auto host = loadConfiguredEffect(options, presetName);
    if (options.list) {
        ParameterControl parameters(*host);
        if (options.json) {
            printParameterJson(stdout, host->effectName(), parameters.listParameters());
        } else {
            printParameterTable(stdout, host->effectName(), parameters.listParameters());
        }
        return 0;
    }

    if (options.batch || (options.inputPaths.size() == 1 && isFolder(options.inputPaths[0]) &&
                          options.outputPath.empty())) {
        return runFiles(options);
    }
    std::string inputPath = options.inputPath;
    std::string outputPath = options.outputPath;
    if (inputPath.empty()) {
        // The demo is written only once the effect has loaded, so a broken
        // plug-in leaves nothing behind.
        inputPath = kDemoInput;
        const FileFormat format = effectiveFormat(options, "");
        outputPath = std::string("demo-out") + defaultExtension(format);
        writeDemoInput(inputPath);
    } else if (outputPath.empty()) {
        if (inputPath == "-") throw ToolError("give OUTPUT (or -) when INPUT is standard input");
        outputPath = defaultOutputPath(inputPath, effectiveFormat(options, ""));
    }

    bool soundOnStandardOutput = false;
    RenderReport report = renderOne(options, *host, inputPath, outputPath, soundOnStandardOutput);
    report.presetName = presetName;
    std::FILE* reportStream = soundOnStandardOutput ? stderr : stdout;
    if (options.json) {
        printReportJson(reportStream, report);
    } else {
        printReportTable(reportStream, report);
    }
    if (const std::string missed = missedGoal(report); !missed.empty()) {
        std::fprintf(stderr, "tarvel-render: %s\n", missed.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ToolError& error) {
        std::fprintf(stderr, "tarvel-render: %s\n", error.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tarvel-render: out of memory\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvel-render: %s\n", error.what());
    }
    return 1;
}
