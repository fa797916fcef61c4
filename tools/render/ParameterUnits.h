// Values typed in the units the effect shows: decibels, milliseconds, percent
// and step texts, read through the effect's own parameter model, so a typed
// value means exactly what the effect's display text says.
#pragma once

#include <string>
#include <vector>

namespace tq {

// What one parameter takes, as --list prints it and as refusals state it.
struct ParameterRange {
    std::string unit;                // what a bare number is read in ("dB", "ms", "%", "")
    std::string minimum;             // typed texts of both ends (continuous parameters)
    std::string maximum;
    std::vector<std::string> steps;  // typed texts of the steps (stepped parameters)
    std::string alsoAccepted;        // another form the parameter takes, if any
    bool showsValue = true;          // false: no display text; only n:VALUE sets it
};

// Text without leading and trailing blanks and tabs.
std::string trimmed(const std::string& text);
bool equalIgnoringCase(const std::string& a, const std::string& b);

// Whether the effect with this unique ID and these parameter names (in index
// order) is the one the parameter model describes.
bool modelDescribes(int uniqueId, const std::vector<std::string>& names);

// The normalised value `typed` stands for in parameter `index` of the model: a
// step text, or a number in the parameter's unit (the unit may follow it). A
// number picks, among the values whose display shows that number, the one
// closest to it; a number no display shows exactly picks the closest value.
// Throws ToolError naming the parameter and what it takes.
float modelValueFor(int index, const std::string& typed);

// The text that gives back the display of x (display text and unit).
std::string modelTypedText(int index, float x);
ParameterRange modelRange(int index);

// The range as one line: "-12.0411dB .. 0.000000dB", "hard | med | soft".
std::string rangeText(const ParameterRange& range);

}  // namespace tq
