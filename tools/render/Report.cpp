#include "Report.h"

#include <cmath>

#include "FileAccess.h"

namespace tq {

const char* const kToolVersion = TQ_RENDER_VERSION;

namespace {

// Levels as "+1.52" or "-inf"; JSON has no infinity, so it gets null there.
std::string levelText(double db) {
    if (!std::isfinite(db)) return "-inf";
    if (std::fabs(db) < 0.005) db = 0.0;  // no "-0.00"
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f", db);
    return text;
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

double realtimeFactor(const RenderResult& result, int sampleRate) {
    if (result.cpuSeconds <= 0.0) return INFINITY;
    return static_cast<double>(result.processedFrames) / sampleRate / result.cpuSeconds;
}

double nanosecondsPerFrame(const RenderResult& result) {
    if (result.processedFrames <= 0) return 0.0;
    return result.cpuSeconds * 1e9 / static_cast<double>(result.processedFrames);
}

const char* measuredAs(int channels) { return channels == 1 ? "mono" : "stereo"; }

void printLevelsJson(std::FILE* out, const char* name, const LevelSummary& levels, int channels) {
    std::fprintf(out,
                 "  \"%s\": {\"sample_peak_dbfs\": %s, \"true_peak_dbtp\": %s, "
                 "\"integrated_lufs\": %s, \"loudness_range_lu\": %s, "
                 "\"max_short_term_lufs\": %s, \"max_momentary_lufs\": %s, "
                 "\"measured_as\": \"%s\", \"overs\": %lld, \"non_finite_samples\": %lld},\n",
                 name, jsonNumber(levels.samplePeakDb).c_str(),
                 jsonNumber(levels.truePeakDb).c_str(), jsonNumber(levels.loudnessLufs).c_str(),
                 jsonNumber(levels.loudnessRangeLu).c_str(),
                 jsonNumber(levels.maxShortTermLufs).c_str(),
                 jsonNumber(levels.maxMomentaryLufs).c_str(), measuredAs(channels),
                 static_cast<long long>(levels.overs), static_cast<long long>(levels.nonFinite));
}

std::string optionalLevel(const std::optional<double>& level) {
    return level ? jsonNumber(*level) : "null";
}

void printMasteringJson(std::FILE* out, const std::optional<MasteringReport>& mastering) {
    if (!mastering) {
        std::fprintf(out, "  \"mastering\": null,\n");
        return;
    }
    const MasteringReport& m = *mastering;
    std::fprintf(out,
                 "  \"mastering\": {\"target_lufs\": %s, \"ceiling_dbtp\": %s, "
                 "\"tolerance_lu\": %s, \"passes\": %d, \"reached\": %s, \"drive_db\": %s, "
                 "\"output_db\": %s},\n",
                 optionalLevel(m.targetLufs).c_str(), optionalLevel(m.ceilingDbtp).c_str(),
                 jsonNumber(m.toleranceLu).c_str(), m.passes, m.reached ? "true" : "false",
                 jsonNumber(m.driveDb).c_str(), jsonNumber(m.outputDb).c_str());
}

void printSettingsJson(std::FILE* out, const std::vector<ParameterInfo>& settings) {
    std::fprintf(out, "  \"settings\": [");
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const auto& p = settings[i];
        // Nine significant digits give every single-precision value back exactly.
        char value[40];
        std::snprintf(value, sizeof value, "%.9g", static_cast<double>(p.value));
        std::fprintf(out,
                     "%s\n    {\"index\": %d, \"name\": %s, \"value\": %s, \"normalised\": %s, "
                     "\"display\": %s, \"label\": %s}",
                     i == 0 ? "" : ",", p.index, jsonString(p.name).c_str(), value,
                     jsonString(p.normalised).c_str(), jsonString(p.display).c_str(),
                     jsonString(p.label).c_str());
    }
    std::fprintf(out, "%s],\n", settings.empty() ? "" : "\n  ");
}

void printMasteringTable(std::FILE* out, const RenderReport& report) {
    if (!report.mastering) return;
    const MasteringReport& m = *report.mastering;
    const LevelSummary& result = report.result.output;
    std::string goal;
    if (m.targetLufs) goal += levelText(*m.targetLufs) + " LUFS";
    if (m.ceilingDbtp) {
        goal += (goal.empty() ? "" : ", ") + std::string("ceiling ") + levelText(*m.ceilingDbtp) +
                " dBTP";
    }
    std::fprintf(out, "target        %s: %s in %d pass%s\n", goal.c_str(),
                 m.reached ? "reached" : "NOT reached", m.passes, m.passes == 1 ? "" : "es");
    std::fprintf(out, "result        %s LUFS, %s dBTP with Drive %s dB, Output %s dB\n",
                 levelText(result.loudnessLufs).c_str(), levelText(result.truePeakDb).c_str(),
                 levelText(m.driveDb).c_str(), levelText(m.outputDb).c_str());
}

void printSettingsTable(std::FILE* out, const std::vector<ParameterInfo>& settings) {
    std::string line = "settings     ";
    std::size_t width = line.size();
    for (const auto& p : settings) {
        if (p.display.empty()) continue;  // placeholders with nothing to show
        std::string item = " " + p.name + " " + p.display + (p.label.empty() ? "" : " " + p.label);
        if (width + item.size() > 96) {
            std::fprintf(out, "%s\n", line.c_str());
            line = "             ";
            width = line.size();
        }
        line += item + ",";
        width += item.size() + 1;
    }
    if (!line.empty() && line.back() == ',') line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
}

}  // namespace

// Length of the well-formed UTF-8 sequence starting at `i`, or 0.
static std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // Effect texts are 8-bit: pass UTF-8 through, read other bytes as Latin-1.
            const std::size_t length = utf8SequenceLength(text, i);
            if (length > 0) {
                quoted.append(text, i, length);
                i += length - 1;
                continue;
            }
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

void printReportTable(std::FILE* out, const RenderReport& report) {
    const RenderResult& r = report.result;
    const double seconds = static_cast<double>(r.frames) / report.sampleRate;
    std::fprintf(out, "%s -> %s\n", report.inputPath.c_str(), report.outputPath.c_str());
    std::fprintf(out, "plug-in       %s (%s)\n", report.effectName.c_str(),
                 report.pluginPath.c_str());
    if (!report.presetName.empty())
        std::fprintf(out, "preset        %s\n", printable(report.presetName).c_str());
    std::fprintf(out, "audio         %d Hz, %d -> %d channels, %.3f s, %s path, block %d\n",
                 report.sampleRate, report.inputChannels, report.outputChannels, seconds,
                 report.doublePrecision ? "double" : "float", report.blockSize);
    if (r.declaredFrames > 0) {
        std::fprintf(out, "truncated     header promises %lld frames, the file holds %lld\n",
                     static_cast<long long>(r.declaredFrames), static_cast<long long>(r.frames));
    }
    std::fprintf(out, "latency       %d frames (%.2f ms), compensated\n", r.latency,
                 1000.0 * r.latency / report.sampleRate);
    std::fprintf(out, "                      input    output\n");
    std::fprintf(out, "sample peak   dBFS  %8s  %8s\n", levelText(r.input.samplePeakDb).c_str(),
                 levelText(r.output.samplePeakDb).c_str());
    std::fprintf(out, "true peak     dBTP  %8s  %8s\n", levelText(r.input.truePeakDb).c_str(),
                 levelText(r.output.truePeakDb).c_str());
    std::fprintf(out, "loudness      LUFS  %8s  %8s\n", levelText(r.input.loudnessLufs).c_str(),
                 levelText(r.output.loudnessLufs).c_str());
    std::fprintf(out, "loudness range  LU  %8s  %8s\n", levelText(r.input.loudnessRangeLu).c_str(),
                 levelText(r.output.loudnessRangeLu).c_str());
    std::fprintf(out, "max short-term LUFS %8s  %8s\n", levelText(r.input.maxShortTermLufs).c_str(),
                 levelText(r.output.maxShortTermLufs).c_str());
    std::fprintf(out, "max momentary  LUFS %8s  %8s\n", levelText(r.input.maxMomentaryLufs).c_str(),
                 levelText(r.output.maxMomentaryLufs).c_str());
    std::fprintf(out, "overs (>0dBFS)      %8lld  %8lld\n", static_cast<long long>(r.input.overs),
                 static_cast<long long>(r.output.overs));
    if (r.input.nonFinite > 0 || r.output.nonFinite > 0) {
        std::fprintf(out, "NaN/inf samples     %8lld  %8lld   (measured as silence)\n",
                     static_cast<long long>(r.input.nonFinite),
                     static_cast<long long>(r.output.nonFinite));
    }
    std::fprintf(out, "measured as         %8s  %8s\n", measuredAs(report.inputChannels),
                 measuredAs(report.outputChannels));
    std::fprintf(out, "gain reduction      max %.2f dB, average %.2f dB\n",
                 report.gainReduction.maxDb, report.gainReduction.averageDb);
    printMasteringTable(out, report);
    printSettingsTable(out, report.settings);
    if (!report.plotPath.empty()) std::fprintf(out, "plot          %s\n", report.plotPath.c_str());
    std::fprintf(out, "versions      tarvel-render %s, plug-in %d\n", kToolVersion,
                 report.pluginVersion);
    std::fprintf(out, "cpu time      %.3f s, realtime x%.1f, %.1f ns per frame\n", r.cpuSeconds,
                 realtimeFactor(r, report.sampleRate), nanosecondsPerFrame(r));
}

void printReportJson(std::FILE* out, const RenderReport& report) {
    const RenderResult& r = report.result;
    std::fprintf(out, "{\n");
    std::fprintf(out, "  \"input_file\": %s,\n", jsonString(report.inputPath).c_str());
    std::fprintf(out, "  \"output_file\": %s,\n", jsonString(report.outputPath).c_str());
    std::fprintf(out, "  \"plugin\": %s,\n", jsonString(report.pluginPath).c_str());
    std::fprintf(out, "  \"effect_name\": %s,\n", jsonString(report.effectName).c_str());
    std::fprintf(out, "  \"preset\": %s,\n",
                 report.presetName.empty() ? "null" : jsonString(report.presetName).c_str());
    std::fprintf(out, "  \"sample_rate\": %d,\n", report.sampleRate);
    std::fprintf(out, "  \"input_channels\": %d,\n", report.inputChannels);
    std::fprintf(out, "  \"output_channels\": %d,\n", report.outputChannels);
    std::fprintf(out, "  \"frames\": %lld,\n", static_cast<long long>(r.frames));
    if (r.declaredFrames > 0) {
        std::fprintf(out, "  \"declared_frames\": %lld,\n",
                     static_cast<long long>(r.declaredFrames));
    }
    std::fprintf(out, "  \"precision\": \"%s\",\n", report.doublePrecision ? "double" : "float");
    std::fprintf(out, "  \"block_size\": %d,\n", report.blockSize);
    std::fprintf(out, "  \"latency_frames\": %d,\n", r.latency);
    std::fprintf(out, "  \"latency_changed\": %s,\n", r.latencyChanged ? "true" : "false");
    std::fprintf(out, "  \"output_format\": %s,\n", jsonString(report.outputFormat).c_str());
    std::fprintf(out, "  \"output_subtype\": %s,\n", jsonString(report.outputSubtype).c_str());
    std::fprintf(out, "  \"tool_version\": %s,\n", jsonString(kToolVersion).c_str());
    std::fprintf(out, "  \"plugin_version\": %d,\n", report.pluginVersion);
    printLevelsJson(out, "input", r.input, report.inputChannels);
    printLevelsJson(out, "output", r.output, report.outputChannels);
    std::fprintf(out, "  \"gain_reduction\": {\"max_db\": %s, \"average_db\": %s},\n",
                 jsonNumber(report.gainReduction.maxDb).c_str(),
                 jsonNumber(report.gainReduction.averageDb).c_str());
    printMasteringJson(out, report.mastering);
    printSettingsJson(out, report.settings);
    std::fprintf(out, "  \"plot\": %s,\n",
                 report.plotPath.empty() ? "null" : jsonString(report.plotPath).c_str());
    std::fprintf(out, "  \"processed_frames\": %lld,\n", static_cast<long long>(r.processedFrames));
    std::fprintf(out, "  \"cpu_seconds\": %s,\n", jsonNumber(r.cpuSeconds).c_str());
    std::fprintf(out, "  \"realtime_factor\": %s,\n",
                 jsonNumber(realtimeFactor(r, report.sampleRate)).c_str());
    std::fprintf(out, "  \"ns_per_frame\": %s\n", jsonNumber(nanosecondsPerFrame(r)).c_str());
    std::fprintf(out, "}\n");
}

void printParameterTable(std::FILE* out, const std::string& effectName,
                         const std::vector<ParameterInfo>& parameters) {
    std::fprintf(out, "%s: %zu parameters (--set NAME=VALUE takes a value as shown, or n:0..1)\n",
                 effectName.c_str(), parameters.size());
    std::fprintf(out, "%5s  %-16s %-14s %-14s %s\n", "index", "name", "value", "normalised",
                 "range or steps");
    for (const auto& p : parameters) {
        const std::string range = p.range ? rangeText(*p.range) : "";
        std::fprintf(out, "%5d  %-16s %-14s %-14s %s\n", p.index, p.name.c_str(), p.typed.c_str(),
                     p.normalised.c_str(), range.c_str());
    }
}

namespace {

std::string jsonStrings(const std::vector<std::string>& texts) {
    std::string list = "[";
    for (const auto& text : texts) list += (list.size() > 1 ? ", " : "") + jsonString(text);
    return list + "]";
}

// ", \"unit\": \"dB\", \"minimum\": ..." for a parameter whose range is known.
std::string jsonRange(const ParameterRange& range) {
    std::string members = ", \"unit\": " + jsonString(range.unit);
    if (!range.steps.empty()) {
        members += ", \"steps\": " + jsonStrings(range.steps);
    } else if (range.showsValue) {
        members += ", \"minimum\": " + jsonString(range.minimum) +
                   ", \"maximum\": " + jsonString(range.maximum);
    }
    if (!range.alsoAccepted.empty()) members += ", \"also\": " + jsonString(range.alsoAccepted);
    return members;
}

}  // namespace

void printParameterJson(std::FILE* out, const std::string& effectName,
                        const std::vector<ParameterInfo>& parameters) {
    std::fprintf(out, "{\n  \"effect_name\": %s,\n  \"parameters\": [",
                 jsonString(effectName).c_str());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const auto& p = parameters[i];
        std::fprintf(out,
                     "%s\n    {\"index\": %d, \"name\": %s, \"value\": %s, \"display\": %s, "
                     "\"label\": %s, \"typed\": %s, \"normalised\": %s%s}",
                     i == 0 ? "" : ",", p.index, jsonString(p.name).c_str(),
                     jsonNumber(static_cast<double>(p.value)).c_str(),
                     jsonString(p.display).c_str(), jsonString(p.label).c_str(),
                     jsonString(p.typed).c_str(), jsonString(p.normalised).c_str(),
                     p.range ? jsonRange(*p.range).c_str() : "");
    }
    std::fprintf(out, "\n  ]\n}\n");
}

}  // namespace tq
