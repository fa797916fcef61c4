#include "ParameterUnits.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include "ToolError.h"
#include "effect/ParameterModel.h"

namespace tq {
namespace {

constexpr std::uint32_t kZeroBits = 0x00000000u;  // 0.0f
constexpr std::uint32_t kOneBits = 0x3F800000u;   // 1.0f
// The text that stands for an empty step text ("AttShow" with no bit set).
constexpr const char* kEmptyText = "\"\"";
constexpr const char* kOffText = "off";

std::string nameOf(int index) { return parameterName(index); }

// The unit a bare number is read in. The effect labels the transient share "ms"
// although it is a plain share of 0..0.5; the link shows a percentage unlabelled.
std::string unitOf(int index) {
    if (index == kTransient) return "";
    if (index == kLink) return "%";
    return parameterLabel(index);
}

bool takesUnit(int index, const std::string& unit) {
    return unit.empty() || equalIgnoringCase(unit, unitOf(index)) ||
           equalIgnoringCase(unit, parameterLabel(index));
}

// The transient knob of the effect's window shows its position as 0..100 %.
bool isKnobPercent(int index, const std::string& unit) {
    return index == kTransient && unit == "%";
}

float fromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

// Orders -0 below +0: the display "-0.00000" stands for values just below zero.
double orderKey(double value) {
    if (value == 0.0 && std::signbit(value)) return -std::numeric_limits<double>::denorm_min();
    return value;
}

// The number a display text shows; "-oo" is minus infinity.
double displayedNumber(int index, float x) {
    const std::string text = parameterDisplay(index, x);
    if (text == "-oo") return -HUGE_VAL;
    return orderKey(std::strtod(text.c_str(), nullptr));
}

// The bits of the first float in 0..1 for which `reached` holds, kOneBits + 1
// when none does. `reached` must hold for every float after one for which it holds.
template <typename Predicate>
std::uint32_t firstReached(Predicate reached) {
    std::uint32_t low = kZeroBits;
    std::uint32_t high = kOneBits + 1;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (reached(fromBits(middle))) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The float x in 0..1 whose number lies closest to `number`.
std::uint32_t closestBits(int index, double number) {
    const std::uint32_t above =
        firstReached([&](float x) { return parameterNumber(index, x) >= number; });
    if (above > kOneBits) return kOneBits;
    if (above == kZeroBits) return kZeroBits;
    const double overshoot = parameterNumber(index, fromBits(above)) - number;
    const double undershoot = number - parameterNumber(index, fromBits(above - 1));
    return overshoot <= undershoot ? above : above - 1;
}

struct TypedNumber {
    double value = 0.0;
    double tolerance = 0.5;  // half a unit of the last digit typed
    std::string unit;
};

// A decimal number, "-oo" or "-inf", then optionally a unit. No exponents, no
// hexadecimal, no "nan": a typed value is a plain reading of a display.
std::optional<TypedNumber> readNumber(const std::string& text) {
    TypedNumber typed;
    std::size_t at = 0;
    for (const char* infinity : {"-oo", "-inf"}) {
        const std::string word = infinity;
        if (equalIgnoringCase(text.substr(0, word.size()), word)) {
            typed.value = -HUGE_VAL;
            typed.unit = trimmed(text.substr(word.size()));
            return typed;
        }
    }
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const std::size_t integerStart = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) ++at;
    int digits = static_cast<int>(at - integerStart);
    int decimals = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
            ++at;
            ++decimals;
        }
        digits += decimals;
    }
    if (digits == 0) return std::nullopt;
    typed.value = orderKey(std::strtod(text.substr(0, at).c_str(), nullptr));
    typed.tolerance = 0.5 * std::pow(10.0, -decimals);
    typed.unit = trimmed(text.substr(at));
    return typed;
}

ToolError outOfRange(int index, const std::string& typed) {
    return ToolError("parameter '" + nameOf(index) + "' takes " + rangeText(modelRange(index)) +
                     ", not '" + typed + "'");
}

float stepValue(int index, const std::string& typed) {
    const int steps = parameterSteps(index);
    const std::string wanted = typed == kEmptyText ? "" : typed;
    for (auto same : {+[](const std::string& a, const std::string& b) { return a == b; },
                      +[](const std::string& a, const std::string& b) {
                          return equalIgnoringCase(a, b);
                      }}) {
        for (int step = 0; step < steps; ++step) {
            const float centre = stepCentre(step, steps);
            if (same(parameterDisplay(index, centre), wanted)) return centre;
        }
    }
    throw ToolError("parameter '" + nameOf(index) + "' has no step '" + typed + "' (it takes " +
                    rangeText(modelRange(index)) + ", or n:VALUE)");
}

float continuousValue(int index, const std::string& typed) {
    if (index == kLeveller && equalIgnoringCase(typed, kOffText)) return 1.0f;
    const auto number = readNumber(typed);
    if (!number || !(takesUnit(index, number->unit) || isKnobPercent(index, number->unit))) {
        throw ToolError("parameter '" + nameOf(index) + "' has no value '" + typed + "' (it takes " +
                        rangeText(modelRange(index)) + ", or n:VALUE)");
    }
    const double t = number->value;
    if (isKnobPercent(index, number->unit)) {
        if (!(t >= -number->tolerance && t <= 100.0 + number->tolerance)) {
            throw outOfRange(index, typed);
        }
        return static_cast<float>(std::clamp(t, 0.0, 100.0) / 100.0);
    }
    const double low = parameterNumber(index, 0.0f);
    const double high = parameterNumber(index, 1.0f);
    if (t < low - number->tolerance || t > high + number->tolerance) throw outOfRange(index, typed);
    // The floats whose display shows exactly the typed number form one run (the
    // display rises with x); within it the one closest to the number wins.
    const std::uint32_t closest = closestBits(index, t);
    const std::uint32_t first =
        firstReached([&](float x) { return displayedNumber(index, x) >= t; });
    const std::uint32_t pastLast =
        firstReached([&](float x) { return displayedNumber(index, x) > t; });
    if (first < pastLast) return fromBits(std::clamp(closest, first, pastLast - 1));
    return fromBits(closest);
}

}  // namespace

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

bool modelDescribes(int uniqueId, const std::vector<std::string>& names) {
    constexpr int kUniqueId = ('T' << 24) | ('R' << 16) | ('q' << 8) | 'l';
    if (uniqueId != kUniqueId || names.size() != static_cast<std::size_t>(kNumParameters)) {
        return false;
    }
    for (int i = 0; i < kNumParameters; ++i) {
        if (trimmed(names[static_cast<std::size_t>(i)]) != parameterName(i)) return false;
    }
    return true;
}

float modelValueFor(int index, const std::string& typed) {
    const std::string text = trimmed(typed);
    if (parameterSteps(index) > 0) return stepValue(index, text);
    if (std::isnan(parameterNumber(index, 0.0f))) {
        throw ToolError("parameter '" + nameOf(index) +
                        "' shows no value; only n:VALUE (0..1) sets it");
    }
    return continuousValue(index, text);
}

std::string modelTypedText(int index, float x) {
    if (parameterSteps(index) > 0) {
        const std::string display = parameterDisplay(index, x);
        return display.empty() ? kEmptyText : display;
    }
    if (std::isnan(parameterNumber(index, 0.0f))) return "";
    const std::string display = parameterDisplay(index, x);
    return display == "-oo" ? display : display + unitOf(index);
}

ParameterRange modelRange(int index) {
    ParameterRange range;
    const int steps = parameterSteps(index);
    if (steps > 0) {
        for (int step = 0; step < steps; ++step) {
            range.steps.push_back(modelTypedText(index, stepCentre(step, steps)));
        }
        return range;
    }
    if (std::isnan(parameterNumber(index, 0.0f))) {
        range.showsValue = false;
        return range;
    }
    range.unit = unitOf(index);
    range.minimum = modelTypedText(index, 0.0f);
    range.maximum = modelTypedText(index, 1.0f);
    if (index == kLeveller) range.alsoAccepted = "off (the same as 0dB)";
    if (index == kTransient) range.alsoAccepted = "0% .. 100% as the knob shows it";
    return range;
}

std::string rangeText(const ParameterRange& range) {
    if (!range.showsValue) return "n:0 .. n:1 (no display)";
    std::string text;
    if (!range.steps.empty()) {
        for (const auto& step : range.steps) text += (text.empty() ? "" : " | ") + step;
        return text;
    }
    text = range.minimum + " .. " + range.maximum;
    if (!range.alsoAccepted.empty()) text += "; or " + range.alsoAccepted;
    return text;
}

}  // namespace tq
