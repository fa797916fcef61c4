#include "ParameterControl.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "FileAccess.h"
#include "ToolError.h"
#include "effect/ParameterModel.h"

namespace tq {
namespace {

// Fine enough to land inside every step of any stepped parameter with up to a
// few thousand steps, and cheap (each probe is one setParameter and one text).
constexpr int kScanSteps = 10000;
// Distinct texts worth listing in an error message; continuous parameters have more.
constexpr std::size_t kMaxTextsInMessage = 16;

bool equalText(const std::string& a, const std::string& b) { return a == b; }

constexpr const char* kNormalisedPrefix = "n:";
// Candidates named when a parameter name matches none: those sharing at least
// this many leading characters with it.
constexpr std::size_t kCandidatePrefix = 3;
constexpr std::size_t kMaxCandidates = 4;

// "n:0.56" -> 0.56; throws for anything but a plain number from 0 to 1.
float parseNormalised(const std::string& name, const std::string& text) {
    const std::string number = trimmed(text.substr(std::strlen(kNormalisedPrefix)));
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(number.c_str(), &end);
    if (number.empty() || errno != 0 || end != number.c_str() + number.size() ||
        !(parsed >= 0.0 && parsed <= 1.0)) {
        throw ToolError("parameter '" + name + "': '" + text +
                        "' is no normalised value (n: takes a number from 0 to 1)");
    }
    return static_cast<float>(parsed);
}

std::size_t commonPrefixIgnoringCase(const std::string& a, const std::string& b) {
    std::size_t n = 0;
    while (n < a.size() && n < b.size() &&
           std::tolower(static_cast<unsigned char>(a[n])) ==
               std::tolower(static_cast<unsigned char>(b[n]))) {
        ++n;
    }
    return n;
}

bool containsIgnoringCase(const std::string& text, const std::string& part) {
    const auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    return !part.empty() && lower(text).find(lower(part)) != std::string::npos;
}

// "'Transient' (2), 'TransShape' (4)"
std::string candidateList(const std::vector<std::pair<int, std::string>>& candidates) {
    std::string text;
    for (const auto& [index, name] : candidates) {
        text += (text.empty() ? "'" : ", '") + name + "' (" + std::to_string(index) + ")";
    }
    return text;
}

// The display with the effect's label after it, as a user reads it.
std::string withLabel(const std::string& display, const std::string& label) {
    return display.empty() ? display : display + label;
}

// "n:0.200000003": nine significant digits give every float back exactly.
std::string normalisedText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%.9g", kNormalisedPrefix, static_cast<double>(value));
    return text;
}

vst::int32 readInt32(const unsigned char* bytes, bool bigEndian) {
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
        word |= static_cast<std::uint32_t>(bytes[i]) << shift;
    }
    return static_cast<vst::int32>(word);
}

float readFloat(const unsigned char* bytes, bool bigEndian) {
    const auto word = static_cast<std::uint32_t>(readInt32(bytes, bigEndian));
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

std::string fourChars(vst::int32 code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((static_cast<std::uint32_t>(code) >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

constexpr vst::int32 kPresetMagic = vst::fourCharCode('T', 'R', 'q', 'l');
constexpr unsigned char kPresetKind = '!';
constexpr unsigned char kBankKind = '7';
constexpr std::size_t kNameOffset = 5;
constexpr std::size_t kNameSize = 24;
constexpr std::size_t kValuesOffset = 29;

}  // namespace

PresetRecord readPresetFile(const std::string& path) {
    const Descriptor file = openReadableFile(path, "preset");
    // Bytes past the record are ignored, as the effect itself does.
    std::vector<unsigned char> bytes(PresetRecord::kSize + 1);
    const std::size_t size = readPrefix(file.get(), bytes.data(), bytes.size(), path);
    if (size < PresetRecord::kSize) {
        throw ToolError("preset '" + path + "' is " + std::to_string(size) +
                        " bytes long, a preset record has " + std::to_string(PresetRecord::kSize));
    }
    bool bigEndian;
    if (readInt32(bytes.data(), false) == kPresetMagic) {
        bigEndian = false;
    } else if (readInt32(bytes.data(), true) == kPresetMagic) {
        bigEndian = true;
    } else {
        throw ToolError("preset '" + path + "' does not start with the effect's code 'TRql'");
    }
    if (bytes[4] == kBankKind) {
        throw ToolError("'" + path + "' is a bank file, not a preset");
    }
    if (bytes[4] != kPresetKind) {
        throw ToolError("preset '" + path + "' has record kind byte " + std::to_string(bytes[4]) +
                        ", not '!'");
    }
    PresetRecord preset;
    preset.uniqueId = kPresetMagic;
    const char* name = reinterpret_cast<const char*>(bytes.data() + kNameOffset);
    preset.name.assign(name, strnlen(name, kNameSize));
    for (int i = 0; i < PresetRecord::kValueCount; ++i) {
        const float value = readFloat(bytes.data() + kValuesOffset + 4 * i, bigEndian);
        // A value outside 0..1 is not a normalised parameter value; handing it to
        // the effect would be undefined territory, so the whole preset is refused.
        if (!std::isfinite(value) || value < 0.0f || value > 1.0f) {
            throw ToolError("preset '" + path + "' holds value " + std::to_string(value) +
                            " for parameter " + std::to_string(i) + ", outside 0..1");
        }
        preset.values.push_back(value);
    }
    return preset;
}

ParameterControl::ParameterControl(PluginHost& host) : host_(host) {
    std::vector<std::string> names;
    for (int i = 0; i < host_.numParams(); ++i) names.push_back(host_.parameterName(i));
    modelDescribesEffect_ = modelDescribes(host_.uniqueId(), names);
}

int ParameterControl::findParameter(const std::string& name) const {
    const int count = host_.numParams();
    std::vector<std::pair<int, std::string>> names;
    for (int i = 0; i < count; ++i) names.emplace_back(i, trimmed(host_.parameterName(i)));
    using Rule = bool (*)(const std::string& real, const std::string& typed);
    const Rule rules[] = {
        [](const std::string& real, const std::string& typed) { return real == typed; },
        [](const std::string& real, const std::string& typed) {
            return equalIgnoringCase(real, typed);
        },
        // A typed name may stop short of a real one, never run past it: with
        // "Oversample" real, "Oversampled" must not set it.
        [](const std::string& real, const std::string& typed) {
            return !typed.empty() && commonPrefixIgnoringCase(real, typed) == typed.size();
        },
    };
    for (const Rule rule : rules) {
        std::vector<std::pair<int, std::string>> matches;
        for (const auto& entry : names) {
            if (rule(entry.second, name)) matches.push_back(entry);
        }
        if (matches.size() == 1) return matches.front().first;
        if (matches.size() > 1) {
            throw ToolError("parameter name '" + name + "' is ambiguous: it could be " +
                            candidateList(matches));
        }
    }
    std::vector<std::pair<int, std::string>> near;
    for (const auto& entry : names) {
        if (commonPrefixIgnoringCase(entry.second, name) >= kCandidatePrefix ||
            containsIgnoringCase(entry.second, name)) {
            near.push_back(entry);
        }
    }
    std::stable_sort(near.begin(), near.end(), [&](const auto& a, const auto& b) {
        return commonPrefixIgnoringCase(a.second, name) > commonPrefixIgnoringCase(b.second, name);
    });
    if (near.size() > kMaxCandidates) near.resize(kMaxCandidates);
    std::string message = "unknown parameter '" + name + "'";
    if (!near.empty()) message += "; did you mean " + candidateList(near) + "?";
    throw ToolError(message + " (--list shows the names)");
}

namespace {

// The first run of consecutive probe values that show one matching text.
class MatchRun {
  public:
    void feed(bool match, const std::string& display, float x) {
        if (ended_) return;
        if (started_ && (!match || display != text_)) {
            ended_ = true;
        } else if (match) {
            if (!started_) {
                first_ = x;
                text_ = display;
            }
            started_ = true;
            last_ = x;
        }
    }
    bool ended() const { return ended_; }
    ParameterControl::DisplayMatch match() const {
        // The middle of the run sits away from the step boundaries.
        return {started_, first_, first_ + 0.5f * (last_ - first_)};
    }

  private:
    bool started_ = false;
    bool ended_ = false;
    float first_ = 0.0f;
    float last_ = 0.0f;
    std::string text_;
};

}  // namespace

ParameterControl::ScanResult ParameterControl::scanDisplays(int index, const std::string& text) {
    ScanResult result;
    MatchRun exact;
    MatchRun ignoringCase;
    for (int step = 0; step <= kScanSteps && !exact.ended(); ++step) {
        const float x = static_cast<float>(step) / static_cast<float>(kScanSteps);
        host_.setParameter(index, x);
        const std::string display = trimmed(host_.parameterDisplay(index));
        if (result.texts.size() <= kMaxTextsInMessage &&
            std::find(result.texts.begin(), result.texts.end(), display) == result.texts.end()) {
            result.texts.push_back(display);
        }
        exact.feed(display == text, display, x);
        ignoringCase.feed(equalIgnoringCase(display, text), display, x);
    }
    result.exact = exact.match();
    result.ignoringCase = ignoringCase.match();
    return result;
}

float ParameterControl::settle(int index, const DisplayMatch& match,
                               bool (*same)(const std::string&, const std::string&),
                               const std::string& text) {
    host_.setParameter(index, match.middle);
    if (same(trimmed(host_.parameterDisplay(index)), text)) return match.middle;
    // A display that is not monotonic in the value: the first match is certain.
    host_.setParameter(index, match.first);
    return match.first;
}

float ParameterControl::resolveValue(int index, const std::string& text) {
    const std::string value = trimmed(text);
    if (value.rfind(kNormalisedPrefix, 0) == 0) {
        const float chosen = parseNormalised(trimmed(host_.parameterName(index)), value);
        host_.setParameter(index, chosen);
        return chosen;
    }
    return modelDescribesEffect_ ? resolveModelValue(index, value) : resolveByDisplay(index, value);
}

float ParameterControl::resolveModelValue(int index, const std::string& text) {
    const float chosen = modelValueFor(index, text);
    host_.setParameter(index, chosen);
    // The model is this tool's copy; a plug-in built from other sources would
    // silently get other values, so its own display must agree.
    const std::string shown = trimmed(host_.parameterDisplay(index));
    const std::string expected = parameterDisplay(index, chosen);
    if (shown != expected) {
        throw ToolError("parameter '" + trimmed(host_.parameterName(index)) + "' at " +
                        normalisedText(chosen) + " shows '" + shown + "', not '" + expected +
                        "' as this tool's parameter model says (plug-in and tool from different "
                        "builds?); give the value as n:VALUE");
    }
    return chosen;
}

float ParameterControl::resolveByDisplay(int index, const std::string& text) {
    const int count = host_.numParams();
    std::vector<float> before(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) before[static_cast<std::size_t>(i)] = host_.getParameter(i);

    ScanResult scan = scanDisplays(index, text);
    std::string wanted = text;
    // "-6.02dB" for a display "-6.02" labelled "dB".
    const std::string label = trimmed(host_.parameterLabel(index));
    if (!scan.exact.found && !scan.ignoringCase.found && !label.empty() &&
        text.size() > label.size() &&
        equalIgnoringCase(text.substr(text.size() - label.size()), label)) {
        wanted = trimmed(text.substr(0, text.size() - label.size()));
        scan = scanDisplays(index, wanted);
    }
    float chosen = before[static_cast<std::size_t>(index)];
    bool found = true;
    if (scan.exact.found) {
        chosen = settle(index, scan.exact, equalText, wanted);
    } else if (scan.ignoringCase.found) {
        chosen = settle(index, scan.ignoringCase, equalIgnoringCase, wanted);
    } else {
        found = false;
        host_.setParameter(index, chosen);
    }
    // Probing one parameter may move others (an effect may convert old value sets
    // when a marker parameter changes); put those back as they were.
    for (int i = 0; i < count; ++i) {
        const float old = before[static_cast<std::size_t>(i)];
        if (i != index && host_.getParameter(i) != old) host_.setParameter(i, old);
    }
    if (!found) {
        std::string message = "parameter '" + trimmed(host_.parameterName(index)) +
                              "' has no value '" + text + "' (give n:VALUE for a value 0..1";
        if (scan.texts.size() <= kMaxTextsInMessage) {
            message += " or one of:";
            for (const auto& t : scan.texts) message += " '" + t + "'";
        } else {
            message += " or a display text";
        }
        throw ToolError(message + ")");
    }
    return chosen;
}

void ParameterControl::applyAssignment(const std::string& assignment) {
    const auto equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw ToolError("--set needs NAME=VALUE, got '" + assignment + "'");
    }
    const int index = findParameter(assignment.substr(0, equals));
    resolveValue(index, assignment.substr(equals + 1));
}

void ParameterControl::applyPreset(const PresetRecord& preset, const std::string& path) {
    if (host_.uniqueId() != preset.uniqueId) {
        throw ToolError("preset '" + path + "' is for effect code '" + fourChars(preset.uniqueId) +
                        "', the plug-in is '" + fourChars(host_.uniqueId()) + "'");
    }
    if (host_.numParams() < PresetRecord::kValueCount) {
        throw ToolError("preset '" + path + "' has " + std::to_string(PresetRecord::kValueCount) +
                        " values, the plug-in only " + std::to_string(host_.numParams()) +
                        " parameters");
    }
    // Index order matters: the last value marks the layout the others follow.
    for (int i = 0; i < PresetRecord::kValueCount; ++i) {
        host_.setParameter(i, preset.values[static_cast<std::size_t>(i)]);
    }
}

std::vector<ParameterInfo> ParameterControl::listParameters() const {
    std::vector<ParameterInfo> list;
    for (int i = 0; i < host_.numParams(); ++i) {
        ParameterInfo info;
        info.index = i;
        info.name = host_.parameterName(i);
        info.value = host_.getParameter(i);
        info.display = host_.parameterDisplay(i);
        info.label = host_.parameterLabel(i);
        info.normalised = normalisedText(info.value);
        if (modelDescribesEffect_) {
            info.typed = modelTypedText(i, info.value);
            info.range = modelRange(i);
        } else {
            info.typed = withLabel(trimmed(info.display), trimmed(info.label));
        }
        list.push_back(info);
    }
    return list;
}

}  // namespace tq
