#include "effect/ParameterModel.h"

#include <cmath>
#include <cstdio>

namespace tq {

namespace {

constexpr const char* kNames[kNumParameters] = {
    "Output",   "Drive",   "Transient", "Release",   "TransShape", "L/R Link", "Oversample",
    "DetectorOrder", "Power", "Scale",  "Bits",      "NoiseShape", "Calibrate", "Leveller",
    "MeterOvs", "AutoOut", "Quantize",  "Autoblack", "MeterType",  "AttZoom",  "AttShow",
    "PostMeter", "dummy",  "dummy",     "dummy",     "resvd-vid",
};

// The gain behind a decibel display (Leveller shows the dB of its value itself).
double displayedGain(int index, float x) {
    switch (index) {
        case kOutput:
            return outputGainFor(x);
        case kDrive:
            return driveGainFor(x);
        default:
            return static_cast<double>(x);
    }
}

// The plain number behind the other number displays.
double displayedNumber(int index, float x) {
    switch (index) {
        case kTransient:
            return transientShareFor(x);
        case kRelease:
            return releaseTimeFor(x);
        default:
            return static_cast<double>(x) * 100.0;
    }
}

}  // namespace

double outputGainFor(float x) { return std::pow(2.0, (static_cast<double>(x) - 1.0) * 2.0); }
double driveGainFor(float x) { return std::pow(2.0, (static_cast<double>(x) - 0.5) * 8.0); }
double transientShareFor(float x) {
    const double scaled = 1.4142136 * static_cast<double>(x);
    return 0.25 * scaled * scaled;
}
double releaseTimeFor(float x) {
    return std::pow(10.0, 3.0 * std::pow(static_cast<double>(x), 0.82030212));
}
double levellerGainFor(float x) { return outputGainFor(x); }

std::string numberText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    const bool negative = value < 0.0;
    const double magnitude = std::fabs(value);
    // Print more digits than the budget can ever hold, then cut: the digits kept
    // are those of the exact value, without any rounding of the last one.
    char digits[400];
    std::snprintf(digits, sizeof(digits), "%.24f", magnitude);
    std::string text(digits);
    const std::size_t point = text.find('.');
    const int integerDigits = static_cast<int>(point);
    const int fractionDigits = 8 - (negative ? 1 : 0) - 1 - integerDigits;
    std::string result = negative ? "-" : "";
    result += text.substr(0, point);
    if (fractionDigits > 0) {
        result += '.';
        result += text.substr(point + 1, static_cast<std::size_t>(fractionDigits));
    }
    return result;
}

std::string decibelText(double value) {
    if (!(value > 0.0)) return "-oo";
    // The gain and the decibel value are both kept in single precision before the
    // digits are cut: -0.01002 for Output at 0.999167, -12.0411 for a gain of 0.25.
    const float gain = static_cast<float>(value);
    const float decibels = static_cast<float>(20.0 * std::log10(static_cast<double>(gain)));
    return numberText(static_cast<double>(decibels));
}

const char* parameterName(int index) {
    if (index < 0 || index >= kNumParameters) return nullptr;
    return kNames[index];
}

const char* parameterLabel(int index) {
    switch (index) {
        case kOutput:
        case kDrive:
        case kLeveller:
            return "dB";
        case kTransient:
        case kRelease:
            return "ms";
        default:
            return "";
    }
}

int parameterSteps(int index) {
    switch (index) {
        case kOversample:
        case kDetectorOrder:
        case kPower:
        case kMeterOvs:
        case kAutoOut:
        case kQuantize:
        case kAutoblack:
        case kMeterType:
        case kAttZoom:
        case kPostMeter:
            return 2;
        case kTransShape:
        case kScale:
        case kBits:
            return 3;
        case kNoiseShape:
        case kCalibrate:
            return 4;
        case kAttShow:
            return 8;
        default:
            return 0;
    }
}

double parameterNumber(int index, float x) {
    switch (index) {
        case kOutput:
        case kDrive:
        case kLeveller: {
            const double gain = displayedGain(index, x);
            return gain > 0.0 ? 20.0 * std::log10(gain) : -HUGE_VAL;
        }
        case kTransient:
        case kRelease:
        case kLink:
            return displayedNumber(index, x);
        default:
            return std::nan("");
    }
}

std::string parameterDisplay(int index, float x) {
    const int steps = parameterSteps(index);
    const int step = steps > 0 ? stepIndex(x, steps) : 0;
    switch (index) {
        case kOutput:
        case kDrive:
        case kLeveller:
            // Leveller: the dB of the normalised value itself, not of the leveller gain.
            return decibelText(displayedGain(index, x));
        case kTransient:
        case kRelease:
        case kLink:
            return numberText(displayedNumber(index, x));
        case kTransShape: {
            static constexpr const char* kTexts[] = {"hard", "med", "soft"};
            return kTexts[step];
        }
        case kOversample:
        case kPower:
        case kMeterOvs:
        case kAutoOut:
        case kQuantize:
        case kAutoblack:
            return step == 0 ? "off" : "on";
        case kDetectorOrder:
            return step == 0 ? "I" : "II";
        case kScale: {
            static constexpr const char* kTexts[] = {"K-12", "K-14", "K-20"};
            return kTexts[step];
        }
        case kBits: {
            static constexpr const char* kTexts[] = {"8", "16", "24"};
            return kTexts[step];
        }
        case kNoiseShape: {
            static constexpr const char* kTexts[] = {"off", "type A", "type B", "type C"};
            return kTexts[step];
        }
        case kCalibrate: {
            static constexpr const char* kTexts[] = {"off", "left", "l+r uncor", "right"};
            return kTexts[step];
        }
        case kMeterType:
            return step == 0 ? "peak" : "k-system";
        case kAttZoom:
            return step == 0 ? "24dB" : "12dB";
        case kAttShow: {
            std::string text;
            if (step & 1) text += '1';
            if (step & 2) text += '2';
            if (step & 4) text += 'L';
            return text;
        }
        case kPostMeter:
            return step == 0 ? "pre" : "post";
        default:
            return "";
    }
}

}  // namespace tq
