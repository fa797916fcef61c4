#include "DecibelParameter.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "ParameterControl.h"
#include "ToolError.h"

namespace tq {
namespace {

// Each halving is one setParameter and one display text; 40 reach the
// resolution of a single-precision value.
constexpr int kBisectionSteps = 40;
// Below the resolution of the effect's display texts.
constexpr double kSameLevelDb = 1e-7;

}  // namespace

std::optional<double> parseLevelText(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    const std::string trimmed = text.substr(first);
    if (trimmed.rfind("-oo", 0) == 0 || trimmed.rfind("-inf", 0) == 0) {
        return -std::numeric_limits<double>::infinity();
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(trimmed.c_str(), &end);
    if (end == trimmed.c_str() || errno != 0 || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<DecibelParameter> DecibelParameter::find(PluginHost& host, const std::string& name) {
    int index = -1;
    try {
        index = ParameterControl(host).findParameter(name);
    } catch (const ToolError&) {
        return std::nullopt;
    }
    if (host.parameterLabel(index) != "dB") return std::nullopt;
    DecibelParameter parameter(host, index);
    const float original = host.getParameter(index);
    parameter.minimumDb_ = parameter.levelAt(0.0f);
    parameter.maximumDb_ = parameter.levelAt(1.0f);
    host.setParameter(index, original);
    if (!std::isfinite(parameter.maximumDb_) || !(parameter.maximumDb_ > parameter.minimumDb_)) {
        return std::nullopt;
    }
    return parameter;
}

double DecibelParameter::levelAt(float value) {
    host_->setParameter(index_, value);
    return level();
}

double DecibelParameter::level() const {
    const auto parsed = parseLevelText(host_->parameterDisplay(index_));
    if (!parsed) {
        throw ToolError("parameter '" + host_->parameterName(index_) + "' shows '" +
                        host_->parameterDisplay(index_) + "', not a level in dB");
    }
    return *parsed;
}

double DecibelParameter::set(double db) {
    // A value that already shows the level stays: any other showing the same
    // text could still differ in the last bits and change the render.
    if (const double shown = level(); std::fabs(shown - db) < kSameLevelDb) return shown;
    float low = 0.0f;
    float high = 1.0f;
    if (db <= minimumDb_) return levelAt(low);
    if (db >= maximumDb_) return levelAt(high);
    for (int step = 0; step < kBisectionSteps; ++step) {
        const float middle = low + 0.5f * (high - low);
        if (middle <= low || middle >= high) break;
        if (levelAt(middle) < db) {
            low = middle;
        } else {
            high = middle;
        }
    }
    const double lowLevel = levelAt(low);
    const double highLevel = levelAt(high);
    if (db - lowLevel < highLevel - db) return levelAt(low);
    return highLevel;
}

}  // namespace tq
