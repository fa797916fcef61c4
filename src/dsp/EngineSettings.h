// The values the signal path reads, as the effect's parameter setters write them.
//
// EngineParameters are written from any thread without the processing lock and
// read by the audio thread: every field is a relaxed atomic, read once at the start
// of a block and held for the whole block, so a change lands at the next block's first
// frame (never within a block). RateSettings change only under the processing lock.
#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>

namespace tq {

enum class Flavour { Scalar, Paired };

// One-pole smoother coefficient for a time constant of `ms` milliseconds.
inline double onePoleCoefficient(double ms, double rate) {
    return 1.0 - std::exp(-1000.0 / (ms * rate));
}

// Number of noise-shaping coefficient sets: the all-zero set plus 3 types x 6 rates.
inline constexpr int kNoiseShapeSetCount = 19;
inline constexpr int kNoiseShapeOff = 0;
inline constexpr std::array<int, 6> kNoiseShapeRates{44100, 48000, 88200, 96000, 176400, 192000};

// Set index for a NoiseShape step (0 off, 1..3 types A..C) at an integer rate; a rate
// with no table keeps `previous`.
inline int selectNoiseShapeSet(int type, int integerRate, int previous) {
    if (type <= 0) return kNoiseShapeOff;
    for (int r = 0; r < static_cast<int>(kNoiseShapeRates.size()); ++r) {
        if (kNoiseShapeRates[static_cast<std::size_t>(r)] == integerRate) {
            return 1 + (type - 1) * 6 + r;
        }
    }
    return previous;
}

struct EngineParameters {
    // Gains and times (linear, milliseconds, shares).
    std::atomic<double> driveGain{1.0};
    std::atomic<double> outputGain{1.0};
    std::atomic<double> transientShare{0.0};
    std::atomic<double> releaseMs{200.0};
    std::atomic<double> levellerGain{1.0};
    // False while "Leveller" stands at exactly 1.0: the leveller is then disengaged.
    std::atomic<bool> levellerEngaged{false};
    std::atomic<double> linkAmount{1.0};
    std::atomic<double> powerGain{1.0};

    // Steps and switches.
    std::atomic<int> transShape{2};  // 0 hard, 1 med, 2 soft
    std::atomic<bool> oversample{false};
    std::atomic<int> detectorOrder{0};  // 0 first order, 1 second order
    std::atomic<bool> autoOut{false};
    std::atomic<bool> quantize{false};
    std::atomic<int> bits{1};  // 0 8 bits, 1 16 bits, 2 24 bits
    std::atomic<int> noiseShapeSet{kNoiseShapeOff};
    std::atomic<bool> autoblack{false};
    std::atomic<bool> meterOvs{false};
    std::atomic<int> attShow{7};  // bit 0 "1", bit 1 "2", bit 2 "L"
    std::atomic<bool> postMeter{false};
    std::atomic<int> calibrate{0};  // 0 off, 1 left, 2 l+r uncorrelated, 3 right
    std::atomic<int> scale{0};      // 0 K-12, 1 K-14, 2 K-20

    // Smoother bank coefficients, rewritten element by element by the setters; read
    // once per block, each element on its own (a block may see part of a rewrite, as
    // the frames of one block once did).
    std::array<std::atomic<double>, 8> attack{};
    std::array<std::atomic<double>, 8> release{};

    // Requests to the audio thread: a setter bumps the serial, the audio thread acts
    // once per change (zero the noise shaper's history position; reset both
    // attenuation holds to 1).
    std::atomic<std::uint32_t> shaperResetSerial{0};
    std::atomic<std::uint32_t> attHoldResetSerial{0};
};

// Frames by which the half-band interpolator's centre sample trails its newest input
// (64 symmetric taps centre between the samples 31 and 32 frames old). The detector,
// the look-ahead input, the dry signal and the meters all align to it, so the latency
// is the look-ahead length plus this delay.
inline constexpr int kAlignmentDelay = 31;

// Rate-dependent quantities; changed only while the processing lock is held.
struct RateSettings {
    double sampleRate = 44100.0;
    int integerRate = 44100;
    int rateBand = 0;
    int lookAhead = 128;            // L = 128 << rateBand
    int smoothingLength = 64;       // N = (8, 16, 64)[transShape] << rateBand
    int transientRingLength = 2;    // L - 2N + 2
    double gainSmoothing = 0.0;     // 1 - exp(-2 pi 30 / fs)
    double meterFall = 0.0;         // 1 - 0.01^(1000 / (600 fs))
    double autoblackCoefficient = 0.0;  // 10 ms one-pole
    double levellerCoefficient = 0.0;   // 1 s one-pole

    static int bandForRate(int integerRate) {
        return integerRate < 80000 ? 0 : (integerRate < 170000 ? 1 : 2);
    }
    static int smoothingBase(int transShape) {
        return transShape <= 0 ? 8 : (transShape == 1 ? 16 : 64);
    }
    // Recomputes every derived value from integerRate and a TransShape step.
    void update(int newIntegerRate, int transShape) {
        integerRate = newIntegerRate;
        sampleRate = static_cast<double>(newIntegerRate);
        rateBand = bandForRate(newIntegerRate);
        lookAhead = 128 << rateBand;
        setTransShape(transShape);
        gainSmoothing = 1.0 - std::exp(-188.49555921538757 / sampleRate);
        meterFall = 1.0 - std::pow(0.01, 1000.0 / (600.0 * sampleRate));
        autoblackCoefficient = onePoleCoefficient(10.0, sampleRate);
        levellerCoefficient = onePoleCoefficient(1000.0, sampleRate);
    }
    void setTransShape(int transShape) {
        smoothingLength = smoothingBase(transShape) << rateBand;
        transientRingLength = lookAhead - 2 * smoothingLength + 2;
    }
    int latency() const { return lookAhead + kAlignmentDelay; }
};

// Worst-case sizes: every buffer is allocated once at these.
inline constexpr int kMaxLookAhead = 512;
inline constexpr int kMaxSmoothingLength = 256;

// Attack coefficients of the smoother bank: time constants from 32 ms down to 1 ms,
// stepped by repeated subtraction so every caller gets the same eight values.
inline void fillAttackCoefficients(EngineParameters& parameters, double rate) {
    double ms = 32.0;
    for (auto& coefficient : parameters.attack) {
        coefficient.store(onePoleCoefficient(ms, rate), std::memory_order_relaxed);
        ms -= 4.428571428571429;
    }
}

// Release coefficients of the smoother bank: from `releaseMs` down to 2 ms in seven
// equal steps (repeated subtraction).
inline void fillReleaseCoefficients(EngineParameters& parameters, double releaseMs, double rate) {
    const double step = (releaseMs - 2.0) / 7.0;
    double ms = releaseMs;
    for (auto& coefficient : parameters.release) {
        coefficient.store(onePoleCoefficient(ms, rate), std::memory_order_relaxed);
        ms -= step;
    }
}

}  // namespace tq
