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
#include "PluginHost.h"
#include "Renderer.h"
#include "Report.h"
#include "SoundFiles.h"
#include "ToolError.h"
#include "WordLength.h"

namespace {

using namespace tq;

constexpr const char* kDefaultPluginName = "tarvel-quolt.so";
constexpr const char* kDemoInput = "demo-in.wav";
// Files shorter than this finish before a progress bar would be of any use.
constexpr double kProgressMinSeconds = 5.0;

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
    InputFile input(inputPath, options.strict);
    if (options.doublePrecision && !host.canProcessDouble()) {
        throw ToolError("plug-in '" + host.path() + "' has no double-precision process entry");
    }
    if (input.channels() > host.numInputs()) {
        throw ToolError("plug-in '" + host.path() + "' takes " + std::to_string(host.numInputs()) +
                        " input channel(s), '" + inputPath + "' has " +
                        std::to_string(input.channels()));
    }
    const int outputChannels = options.monoOut ? 1 : std::min(2, host.numOutputs());
    const FileFormat format = effectiveFormat(options, outputPath);
    const SampleFormat sampleFormat = effectiveSampleFormat(options, format);
    const std::string wordWarning =
        matchWordLength(host, options.assignments, sampleFormat, format);
    if (!wordWarning.empty()) {
        std::fprintf(stderr, "tarvel-render: warning: '%s': %s\n", outputPath.c_str(),
                     wordWarning.c_str());
    }
    AtomicOutputFile output(outputPath, format, sampleFormat, input.sampleRate(), outputChannels,
                            input.frames());

    RenderSettings settings;
    settings.blockSize = options.blockSize;
    settings.precision =
        options.doublePrecision ? SamplePrecision::double_ : SamplePrecision::single;
    settings.outputChannels = outputChannels;
    // Several files rendering at once would draw over each other's bar.
    settings.showProgress =
        !options.batch && ::isatty(STDERR_FILENO) != 0 &&
        static_cast<double>(input.frames()) > kProgressMinSeconds * input.sampleRate();
    // A mono file feeds input 1 only; the effect learns that input 2 is not
    // connected and runs its mono fallback.
    host.start(input.sampleRate(), settings.blockSize, settings.precision, input.channels(),
               outputChannels);
    RenderReport report;
    report.result = renderFile(host, input, output, settings);
    host.stop();
    output.commit();
    soundOnStandardOutput = output.writesStandardOutput();

    report.inputPath = inputPath;
    report.outputPath = outputPath;
    report.pluginPath = host.path();
    report.effectName = host.effectName();
    report.sampleRate = input.sampleRate();
    report.inputChannels = input.channels();
    report.outputChannels = outputChannels;
    report.blockSize = settings.blockSize;
    report.doublePrecision = options.doublePrecision;
    return report;
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
    outcome.inputLufs = report.result.input.loudnessLufs;
    outcome.outputLufs = report.result.output.loudnessLufs;
    outcome.outputTruePeakDb = report.result.output.truePeakDb;
    return outcome;
}

// Several files, each with its own instance of the effect; a report for each as it
// ends, then a summary (or one JSON document holding them all).
int runFiles(const Options& options) {
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
        std::printf("tarvel-render %s\n", TQ_RENDER_VERSION_TEXT);
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
