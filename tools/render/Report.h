// What a render prints: a table for people, or one JSON document (--json).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "EnvelopeTrace.h"
#include "ParameterControl.h"
#include "Renderer.h"

namespace tq {

// What --target-lufs and --ceiling-dbtp asked for and what the passes found.
struct MasteringReport {
    std::optional<double> targetLufs;
    std::optional<double> ceilingDbtp;
    double toleranceLu = 0.1;
    int passes = 0;
    bool reached = false;  // the written output meets every goal
    double driveDb = 0.0;  // the gain used: Drive and Output as the effect shows them
    double outputDb = 0.0;
};

struct RenderReport {
    std::string inputPath;
    std::string outputPath;
    std::string pluginPath;
    std::string effectName;
    std::string presetName;  // empty without --preset
    int sampleRate = 0;
    int inputChannels = 0;
    int outputChannels = 0;
    int blockSize = 0;
    bool doublePrecision = false;
    std::string outputFormat;   // "wav", "flac"
    std::string outputSubtype;  // "float", "pcm16", "pcm24"
    int pluginVersion = 0;
    std::vector<ParameterInfo> settings;  // every parameter as the render used it
    double staticGainDb = 0.0;            // what the gain reduction is measured against
    GainReductionSummary gainReduction;
    std::optional<MasteringReport> mastering;
    std::string plotPath;  // empty without --plot
    RenderResult result;
};

void printReportTable(std::FILE* out, const RenderReport& report);
void printReportJson(std::FILE* out, const RenderReport& report);
void printParameterTable(std::FILE* out, const std::string& effectName,
                         const std::vector<ParameterInfo>& parameters);
void printParameterJson(std::FILE* out, const std::string& effectName,
                        const std::vector<ParameterInfo>& parameters);

// The tool's own version, as --version and the reports give it.
extern const char* const kToolVersion;

// Text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

}  // namespace tq
