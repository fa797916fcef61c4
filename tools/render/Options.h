// The command line of tarvel-render.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SoundFiles.h"

namespace tq {

struct Options {
    std::string pluginPath;  // empty: the plug-in beside the executable
    int blockSize = 512;
    bool doublePrecision = false;
    bool monoOut = false;
    std::vector<std::string> assignments;  // --set NAME=VALUE, in order
    std::string presetPath;
    bool list = false;
    bool json = false;
    bool strict = false;                       // a truncated input is an error, not a warning
    std::optional<FileFormat> format;          // unset: from the output name, else WAV
    std::optional<SampleFormat> sampleFormat;  // unset: float for WAV, pcm24 for FLAC
    std::optional<double> targetLufs;          // integrated loudness of the output
    std::optional<double> ceilingDbtp;         // highest true peak of the output
    std::string plotPath;                      // empty: no picture
    std::string inputPath;                     // empty: the built-in demo (or a batch)
    std::string outputPath;                    // empty: derived from the input
    std::vector<std::string> inputPaths;       // every INPUT or FOLDER named
    bool batch = false;           // several inputs or --outdir; a folder input also makes one
    std::string outputOption;     // -o OUTPUT
    std::string outputDirectory;  // --outdir DIR
    int jobs = 0;                 // -j N; 0: one per processor core
    bool help = false;
    bool version = false;
};

// Throws ToolError for an unknown option or a bad option value.
Options parseOptions(const std::vector<std::string>& arguments);

extern const char* const kUsage;

// The output format that applies: --format, else the output name's extension, else
// WAV for a name without one (or a pipe, device or standard output). Throws ToolError
// for an extension that is no format the tool writes.
FileFormat effectiveFormat(const Options& options, const std::string& outputPath);
// Throws ToolError for --subtype with an encoded (lossy) format.
SampleFormat effectiveSampleFormat(const Options& options, FileFormat format);
// "dir/song.flac" -> "dir/song-render.wav" for the given format.
std::string defaultOutputPath(const std::string& inputPath, FileFormat format);

}  // namespace tq
