#include "ParameterControl.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "ToolError.h"

namespace tq {
namespace {

// Fine enough to land inside every step of any stepped parameter with up to a
// few thousand steps, and cheap (each probe is one setParameter and one text).
constexpr int kScanSteps = 10000;
// Names shorter than the old 8-character convention were not cut by the effect.
constexpr std::size_t kShortestCutName = 8;
// Distinct texts worth listing in an error message; continuous parameters have more.
constexpr std::size_t kMaxTextsInMessage = 16;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool equalText(const std::string& a, const std::string& b) { return a == b; }

bool parseNormalised(const std::string& text, float& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
    if (parsed < 0.0 || parsed > 1.0) return false;
    value = static_cast<float>(parsed);
    return true;
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
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw ToolError("cannot read preset '" + path + "': " + std::strerror(errno));
    }
    // Bytes past the record are ignored, as the effect itself does.
    std::vector<unsigned char> bytes(PresetRecord::kSize + 1);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file.bad()) throw ToolError("cannot read preset '" + path + "': read error");
    const auto size = static_cast<std::size_t>(file.gcount());
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

int ParameterControl::findParameter(const std::string& name) const {
    const int count = host_.numParams();
    for (int i = 0; i < count; ++i) {
        if (trimmed(host_.parameterName(i)) == name) return i;
    }
    for (int i = 0; i < count; ++i) {
        if (equalIgnoringCase(trimmed(host_.parameterName(i)), name)) return i;
    }
    // Effects cut long names to fit the host's old small text buffers
    // ("DetectorOrder" may arrive as "DetectorOrde"): the full name matches a
    // cut one, if only one.
    int cutMatch = -1;
    for (int i = 0; i < count; ++i) {
        const std::string cut = trimmed(host_.parameterName(i));
        if (cut.size() < kShortestCutName || cut.size() >= name.size()) continue;
        if (!equalIgnoringCase(cut, name.substr(0, cut.size()))) continue;
        if (cutMatch >= 0) {
            throw ToolError("parameter name '" + name + "' is ambiguous (--list shows the names)");
        }
        cutMatch = i;
    }
    if (cutMatch >= 0) return cutMatch;
    throw ToolError("unknown parameter '" + name + "' (--list shows the names)");
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
    // A number from 0 to 1 is always a normalised value, whatever the texts.
    float number = 0.0f;
    if (parseNormalised(text, number)) {
        host_.setParameter(index, number);
        return number;
    }
    const int count = host_.numParams();
    std::vector<float> before(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) before[static_cast<std::size_t>(i)] = host_.getParameter(i);

    const ScanResult scan = scanDisplays(index, text);
    float chosen = before[static_cast<std::size_t>(index)];
    bool found = true;
    if (scan.exact.found) {
        chosen = settle(index, scan.exact, equalText, text);
    } else if (scan.ignoringCase.found) {
        chosen = settle(index, scan.ignoringCase, equalIgnoringCase, text);
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
                              "' has no value '" + text + "' (give a number 0..1";
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
        list.push_back({i, host_.parameterName(i), host_.getParameter(i), host_.parameterDisplay(i),
                        host_.parameterLabel(i)});
    }
    return list;
}

}  // namespace tq
