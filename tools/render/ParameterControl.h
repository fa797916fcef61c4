// Parameters by the effect's own names and display texts: --set, --preset and
// --list work through setParameter, getParameter and the text opcodes only.
#pragma once

#include <string>
#include <vector>

#include "PluginHost.h"

namespace tq {

struct ParameterInfo {
    int index = 0;
    std::string name;
    float value = 0.0f;
    std::string display;
    std::string label;
};

// A 133-byte preset record as the effect writes it: magic, kind byte '!',
// 24-byte name, 26 single-precision values in the magic's byte order.
struct PresetRecord {
    static constexpr std::size_t kSize = 133;
    static constexpr int kValueCount = 26;
    vst::int32 uniqueId = 0;
    std::string name;
    std::vector<float> values;
};

// Throws ToolError naming the file and the reason when the record is unusable.
PresetRecord readPresetFile(const std::string& path);

class ParameterControl {
  public:
    explicit ParameterControl(PluginHost& host) : host_(host) {}

    // Index of the parameter called `name`: exact match first, then ignoring
    // case, then a single name the effect cut short (8 characters or more).
    int findParameter(const std::string& name) const;
    // Sets and returns the value `text` stands for: a number from 0 to 1 is the
    // normalised value itself; anything else is a display text, found by probing
    // values 0..1 (the middle of the first run that shows the text exactly, else
    // ignoring case). Other parameters the probing disturbed are put back.
    float resolveValue(int index, const std::string& text);
    // "NAME=VALUE" as given to --set.
    void applyAssignment(const std::string& assignment);
    void applyPreset(const PresetRecord& preset, const std::string& path);
    std::vector<ParameterInfo> listParameters() const;

    struct DisplayMatch {
        bool found = false;
        float first = 0.0f;
        float middle = 0.0f;
    };

  private:
    struct ScanResult {
        DisplayMatch exact;
        DisplayMatch ignoringCase;
        std::vector<std::string> texts;  // distinct texts seen, in order
    };
    ScanResult scanDisplays(int index, const std::string& text);
    // Sets the run's middle value if it shows the text, else its first value.
    float settle(int index, const DisplayMatch& match,
                 bool (*same)(const std::string&, const std::string&), const std::string& text);

    PluginHost& host_;
};

}  // namespace tq
