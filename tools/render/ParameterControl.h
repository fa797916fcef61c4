// Parameters by the effect's own names and display texts: --set, --preset and
// --list work through setParameter, getParameter and the text opcodes only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ParameterUnits.h"
#include "PluginHost.h"

namespace tq {

struct ParameterInfo {
    int index = 0;
    std::string name;
    float value = 0.0f;
    std::string display;
    std::string label;
    std::string typed;       // what --set takes to show this display again
    std::string normalised;  // "n:" and enough digits to give `value` back exactly
    std::optional<ParameterRange> range;  // known for the effect the model describes
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
    explicit ParameterControl(PluginHost& host);

    // Index of the parameter called `name`: the one name equal to it, first
    // exactly, then ignoring case; else the one name it begins (ignoring case).
    // A name that matches none or several is refused with the candidates.
    int findParameter(const std::string& name) const;
    // Sets and returns the value `text` stands for. "n:X" is the normalised value
    // X itself. For the effect the parameter model describes, anything else is a
    // value in the parameter's unit or a step text (ParameterUnits.h); for other
    // effects it is a display text, with or without the effect's label after it,
    // found by probing values 0..1 (the middle of the first run that shows the
    // text exactly, else ignoring case; other parameters the probing disturbed
    // are put back).
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
    float resolveModelValue(int index, const std::string& text);
    float resolveByDisplay(int index, const std::string& text);
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
    bool modelDescribesEffect_ = false;
};

}  // namespace tq
