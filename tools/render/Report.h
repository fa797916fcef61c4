// What a render prints: a table for people, or one JSON document (--json).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ParameterControl.h"
#include "Renderer.h"

namespace tq {

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
    RenderResult result;
};

void printReportTable(std::FILE* out, const RenderReport& report);
void printReportJson(std::FILE* out, const RenderReport& report);
void printParameterTable(std::FILE* out, const std::string& effectName,
                         const std::vector<ParameterInfo>& parameters);
void printParameterJson(std::FILE* out, const std::string& effectName,
                        const std::vector<ParameterInfo>& parameters);

// Text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

}  // namespace tq
