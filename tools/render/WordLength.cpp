#include "WordLength.h"

#include <cstdlib>

#include "ParameterControl.h"

namespace tq {
namespace {

int parameterNamed(PluginHost& host, const std::string& name) {
    for (int i = 0; i < host.numParams(); ++i) {
        if (host.parameterName(i) == name) return i;
    }
    return -1;
}

bool setExplicitly(ParameterControl& parameters, const std::vector<std::string>& assignments,
                   int index) {
    for (const auto& assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        if (parameters.findParameter(assignment.substr(0, equals)) == index) return true;
    }
    return false;
}

}  // namespace

std::string matchWordLength(PluginHost& host, const std::vector<std::string>& assignments,
                            SampleFormat sampleFormat, FileFormat format) {
    const int quantize = parameterNamed(host, "Quantize");
    const int bits = parameterNamed(host, "Bits");
    if (quantize < 0 || bits < 0) return {};
    ParameterControl parameters(host);
    const int fileBits = isLossy(format) ? 0 : integerBits(sampleFormat);
    if (fileBits > 0 && !setExplicitly(parameters, assignments, quantize)) {
        parameters.resolveValue(quantize, "on");
        if (!setExplicitly(parameters, assignments, bits)) {
            parameters.resolveValue(bits, std::to_string(fileBits));
        }
    }
    if (host.parameterDisplay(quantize) != "on") return {};
    const int effectBits = std::atoi(host.parameterDisplay(bits).c_str());
    if (effectBits > 0 && fileBits > effectBits) {
        return "the effect requantizes to " + std::to_string(effectBits) +
               " bits, the file holds " + std::to_string(fileBits) + "-bit samples: their lowest " +
               std::to_string(fileBits - effectBits) +
               " bits carry only dither (match --subtype and Bits)";
    }
    return {};
}

}  // namespace tq
