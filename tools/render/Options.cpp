#include "Options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "ToolError.h"

namespace tq {

const char* const kUsage =
    "usage: tarvel-render [options] [INPUT [OUTPUT]]\n"
    "       tarvel-render [options] INPUT -o OUTPUT\n"
    "       tarvel-render [options] [--outdir DIR] INPUT|FOLDER...\n"
    "Renders INPUT (any file libsndfile reads, mono or stereo, 5000..200000 Hz) through a\n"
    "VST2 effect into OUTPUT (default: INPUT's name with -render). Without INPUT it renders\n"
    "a built-in demo into demo-in.wav and demo-out.wav in the current directory.\n"
    "INPUT - reads standard input; OUTPUT - writes standard output (the report then goes\n"
    "to standard error). An existing OUTPUT that is a pipe or device is written into.\n"
    "Several inputs (or a folder, or --outdir) make a batch: each file renders with its\n"
    "own instance of the effect, in parallel, into NAME-render.wav (or the --format's\n"
    "extension) beside it or in DIR; names that would collide get the input's extension\n"
    "(m-mp3-render.wav, m-flac-render.wav) or a number. A folder gives its sound files,\n"
    "leaving out hidden ones and earlier -render outputs. One failure does not stop the\n"
    "others; the exit status is 0 only when every file succeeded.\n"
    "\n"
    "  --plugin PATH         VST2 library (default: tarvel-quolt.so beside this program)\n"
    "  --block N             frames per process call, 1..65536 (default 512)\n"
    "  --double              use the double-precision process entry\n"
    "  --mono-out            write only output 1 (output 2 reported as not connected)\n"
    "  --set NAME=VALUE      set a parameter by its name or the start of it; VALUE in the\n"
    "                        parameter's unit as --list shows it (Drive=+3dB, Release=100ms,\n"
    "                        Transient=20%, Bits=24, Leveller=off), or n:X for the\n"
    "                        normalised value X from 0 to 1\n"
    "  --preset FILE         apply a 133-byte preset record before the --set values\n"
    "  --list                print every parameter (after --preset and --set) with its\n"
    "                        range or steps, and stop\n"
    "  --json                print the report (or --list) as JSON instead of a table\n"
    "  --strict              refuse an input that holds fewer frames than its header says\n"
    "  --format FORMAT       wav, flac, ogg (Vorbis), opus, aiff or mp3 (default: from\n"
    "                        OUTPUT's extension; wav when it has none)\n"
    "  --subtype float|pcm16|pcm24   samples of wav, flac and aiff (default float for\n"
    "                        wav, pcm24 otherwise); pcm16 and pcm24 also switch on the\n"
    "                        effect's Quantize with matching Bits unless --set says\n"
    "  -o, --output OUTPUT   the output of a single INPUT\n"
    "  --outdir DIR          where a batch's outputs go (made if missing)\n"
    "  -j, --jobs N          files rendered at once (default: one per processor core)\n"
    "  --target-lufs L       find the Drive (Output trims for the ceiling) that gives the\n"
    "                        output an integrated loudness within 0.1 LU of L, -70..0\n"
    "  --ceiling-dbtp C      keep the output's true peak at or below C dBTP, -12..0\n"
    "                        (lowers Output and renders again when a pass overshoots)\n"
    "                        streaming master: --target-lufs -14 --ceiling-dbtp -1\n"
    "  --plot FILE.png       draw input and output envelopes and the gain reduction\n"
    "  --version             the tool's version, and which effect it loads\n"
    "  --help                this text\n";

namespace {

constexpr int kMaxBlockSize = 65536;
constexpr int kMaxJobs = 256;

// A whole number from 1 to `largest`; `what` says what it counts for the message.
int parseCount(const std::string& text, int largest, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || end != text.c_str() + text.size() || value < 1 ||
        value > largest) {
        throw ToolError(what + " from 1 to " + std::to_string(largest) + ", got '" + text + "'");
    }
    return static_cast<int>(value);
}

// A level given on the command line, in `low`..`high`.
double parseLevel(const std::string& option, const std::string& text, double low, double high) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value) ||
        value < low || value > high) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        throw ToolError(option + " needs a number from " + range + ", got '" + text + "'");
    }
    return value;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            if (argument == "-h" && !optionsEnded) {
                options.help = true;
                continue;
            }
            const bool shortForm =
                !optionsEnded && (argument == "-o" || argument.rfind("-j", 0) == 0);
            if (!shortForm) {
                positional.push_back(argument);
                continue;
            }
            // The short forms stand for their long options.
            if (argument == "-o") {
                argument = "--output";
            } else {
                argument = argument == "-j" ? "--jobs" : "--jobs=" + argument.substr(2);
            }
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" and "--name value" both work for options that take a value.
        std::string inlineValue;
        bool hasInlineValue = false;
        if (const auto equals = argument.find('='); equals != std::string::npos) {
            inlineValue = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
            hasInlineValue = true;
        }
        auto value = [&]() -> std::string {
            if (hasInlineValue) return inlineValue;
            if (i + 1 >= arguments.size()) throw ToolError(argument + " needs a value");
            return arguments[++i];
        };
        auto noValue = [&]() {
            if (hasInlineValue) throw ToolError(argument + " takes no value");
        };
        if (argument == "--plugin") {
            options.pluginPath = value();
        } else if (argument == "--block") {
            options.blockSize =
                parseCount(value(), kMaxBlockSize, "--block needs a whole number of frames");
        } else if (argument == "--double") {
            noValue();
            options.doublePrecision = true;
        } else if (argument == "--mono-out") {
            noValue();
            options.monoOut = true;
        } else if (argument == "--set") {
            options.assignments.push_back(value());
        } else if (argument == "--preset") {
            options.presetPath = value();
        } else if (argument == "--list") {
            noValue();
            options.list = true;
        } else if (argument == "--json") {
            noValue();
            options.json = true;
        } else if (argument == "--strict") {
            noValue();
            options.strict = true;
        } else if (argument == "--format") {
            const std::string text = value();
            FileFormat format;
            if (!parseFileFormat(text, format)) {
                throw ToolError("--format must be one of " + std::string(formatNames()) +
                                ", got '" + text + "'");
            }
            options.format = format;
        } else if (argument == "--subtype") {
            const std::string text = value();
            SampleFormat sampleFormat;
            if (!parseSampleFormat(text, sampleFormat)) {
                throw ToolError("--subtype must be float, pcm16 or pcm24, got '" + text + "'");
            }
            options.sampleFormat = sampleFormat;
        } else if (argument == "--output") {
            options.outputOption = value();
            if (options.outputOption.empty()) throw ToolError("-o needs a file name");
        } else if (argument == "--outdir") {
            options.outputDirectory = value();
            if (options.outputDirectory.empty()) throw ToolError("--outdir needs a folder name");
        } else if (argument == "--jobs") {
            options.jobs = parseCount(value(), kMaxJobs, "-j needs a whole number of files");
        } else if (argument == "--version") {
            noValue();
            options.version = true;
        } else if (argument == "--target-lufs") {
            options.targetLufs = parseLevel(argument, value(), -70.0, 0.0);
        } else if (argument == "--ceiling-dbtp") {
            options.ceilingDbtp = parseLevel(argument, value(), -12.0, 0.0);
        } else if (argument == "--plot") {
            options.plotPath = value();
            if (options.plotPath.empty()) throw ToolError("--plot needs a file name");
        } else if (argument == "--help") {
            noValue();
            options.help = true;
        } else {
            throw ToolError("unknown option '" + argument + "' (--help lists the options)");
        }
    }
    if (!options.outputOption.empty()) {
        if (!options.outputDirectory.empty()) throw ToolError("-o and --outdir exclude each other");
        if (positional.size() != 1) {
            throw ToolError("-o names the output of exactly one INPUT, got " +
                            std::to_string(positional.size()) + " file names");
        }
        positional.push_back(options.outputOption);
    }
    // Two names without -o or --outdir keep their old meaning, INPUT OUTPUT.
    const bool batch = !options.outputDirectory.empty() || positional.size() > 2;
    options.inputPaths =
        batch ? positional
              : std::vector<std::string>(
                    positional.begin(),
                    positional.begin() + std::min<std::size_t>(1, positional.size()));
    options.batch = batch;
    if (!batch && !positional.empty()) options.inputPath = positional[0];
    if (!batch && positional.size() == 2) options.outputPath = positional[1];
    if (batch) {
        for (const auto& path : positional) {
            if (path == "-") throw ToolError("standard input (-) cannot be part of a batch");
        }
    }
    if (options.inputPath == "-" && options.presetPath == "-") {
        throw ToolError("standard input (-) can carry the input or the preset, not both");
    }
    return options;
}

FileFormat effectiveFormat(const Options& options, const std::string& outputPath) {
    if (options.format) return *options.format;
    if (const auto byName = formatFromExtension(outputPath)) return *byName;
    const std::string extension = extensionOf(outputPath);
    // A pipe, device or standard output has no format in its name.
    struct stat info {};
    const bool stream =
        outputPath == "-" || (::stat(outputPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode));
    if (extension.empty() || stream) return FileFormat::wav;
    throw ToolError("cannot write '" + outputPath + "': '." + extension +
                    "' is not a format this tool writes (" + formatNames() +
                    "); --format chooses one");
}

SampleFormat effectiveSampleFormat(const Options& options, FileFormat format) {
    if (!options.sampleFormat) return defaultSampleFormat(format);
    if (isLossy(format)) {
        throw ToolError(std::string("--subtype does not apply to ") + formatName(format) +
                        ", which is encoded from the effect's output as it is");
    }
    return *options.sampleFormat;
}

std::string defaultOutputPath(const std::string& inputPath, FileFormat format) {
    const std::string extension = extensionOf(inputPath);
    const std::string stem = extension.empty()
                                 ? inputPath
                                 : inputPath.substr(0, inputPath.size() - extension.size() - 1);
    return stem + "-render" + defaultExtension(format);
}

}  // namespace tq
