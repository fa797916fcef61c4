#include "Options.h"

#include <cerrno>
#include <cstdlib>

#include "ToolError.h"

namespace tq {

const char* const kUsage =
    "usage: tarvel-render [options] [INPUT [OUTPUT]]\n"
    "Renders INPUT (any file libsndfile reads, mono or stereo, 5000..200000 Hz) through a\n"
    "VST2 effect into OUTPUT (default: INPUT's name with -render). Without INPUT it renders\n"
    "a built-in demo into demo-in.wav and demo-out.wav in the current directory.\n"
    "INPUT - reads standard input; OUTPUT - writes standard output (the report then goes\n"
    "to standard error). An existing OUTPUT that is a pipe or device is written into.\n"
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
    "  --format wav|flac     output container (default: from OUTPUT's extension, else wav)\n"
    "  --subtype float|pcm16|pcm24   output samples (default float; pcm24 for FLAC)\n"
    "  --help                this text\n";

namespace {

constexpr int kMaxBlockSize = 65536;

int parseBlockSize(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || end != text.c_str() + text.size() || value < 1 ||
        value > kMaxBlockSize) {
        throw ToolError("--block needs a whole number of frames from 1 to 65536, got '" + text +
                        "'");
    }
    return static_cast<int>(value);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = text[text.size() - suffix.size() + i];
        if (std::tolower(static_cast<unsigned char>(c)) != suffix[i]) return false;
    }
    return true;
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
            positional.push_back(argument);
            continue;
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
            options.blockSize = parseBlockSize(value());
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
                throw ToolError("--format must be wav or flac, got '" + text + "'");
            }
            options.format = format;
        } else if (argument == "--subtype") {
            const std::string text = value();
            SampleFormat sampleFormat;
            if (!parseSampleFormat(text, sampleFormat)) {
                throw ToolError("--subtype must be float, pcm16 or pcm24, got '" + text + "'");
            }
            options.sampleFormat = sampleFormat;
        } else if (argument == "--help") {
            noValue();
            options.help = true;
        } else {
            throw ToolError("unknown option '" + argument + "' (--help lists the options)");
        }
    }
    if (positional.size() > 2) {
        throw ToolError("too many file names: '" + positional[2] + "' (give INPUT and OUTPUT)");
    }
    if (!positional.empty()) options.inputPath = positional[0];
    if (positional.size() == 2) options.outputPath = positional[1];
    if (options.inputPath == "-" && options.presetPath == "-") {
        throw ToolError("standard input (-) can carry the input or the preset, not both");
    }
    return options;
}

FileFormat effectiveFormat(const Options& options, const std::string& outputPath) {
    if (options.format) return *options.format;
    return endsWith(outputPath, ".flac") ? FileFormat::flac : FileFormat::wav;
}

SampleFormat effectiveSampleFormat(const Options& options, FileFormat format) {
    if (options.sampleFormat) return *options.sampleFormat;
    return format == FileFormat::flac ? SampleFormat::pcm24 : SampleFormat::float32;
}

std::string defaultOutputPath(const std::string& inputPath, FileFormat format) {
    const auto slash = inputPath.find_last_of('/');
    const auto dot = inputPath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasExtension ? inputPath.substr(0, dot) : inputPath;
    return stem + "-render" + (format == FileFormat::flac ? ".flac" : ".wav");
}

}  // namespace tq
