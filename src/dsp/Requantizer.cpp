#include "dsp/Requantizer.h"

#include <algorithm>

namespace tq {

namespace {

// Noise transfer functions 1 + c1 z^-1 + ... + c12 z^-12, one row per type (A, B, C)
// and rate (44100, 48000, 88200, 96000, 176400, 192000 Hz); missing taps are 0.
constexpr std::array<Requantizer::CoefficientSet, 18> kShapingSets{{
    // Type A
    {-1.14927, 0.690052, -0.222153},
    {-1.320576, 0.900871, -0.3339},
    {-2.295096, 2.083295, -0.751798},
    {-2.361518, 2.150189, -0.758101},
    {-1.974841, 1.131472, -0.120763},
    {-1.830033, 0.827539, 0.038527},
    // Type B
    {-1.98998, 2.815903, -3.59874, 4.14422, -3.958916, 3.541496, -2.876669, 2.080732, -1.301405,
     0.738357, -0.324668, 0.094727},
    {-2.292807, 3.449207, -4.278992, 4.405259, -3.551278, 2.383736, -1.145863, 0.178984, 0.308775,
     -0.376613, 0.270185, -0.093739},
    {-2.569667, 2.357124, -0.171799, -1.058195, 0.069182, 0.766136, -0.071017, -0.502235, 0.058293,
     0.427168, -0.30351, 0.055997},
    {-2.420053, 1.813905, 0.349798, -0.85658, -0.3587, 0.482171, 0.380613, -0.250664, -0.307192,
     0.122492, 0.249268, -0.157513},
    {-1.583163, -0.046741, 0.539339, 0.432278, 0.057126, -0.21563, -0.274263, -0.138357, 0.068032,
     0.204997, 0.126801, -0.145297},
    {-1.478775, -0.150194, 0.425819, 0.437121, 0.160451, -0.124695, -0.254447, -0.195122, -0.016586,
     0.163272, 0.17062, -0.110211},
    // Type C
    {-2.373123, 3.202127, -3.536373, 3.495827, -2.380664, 1.002082, -0.045419, -0.485393, 0.707703,
     -0.465713, 0.151443},
    {-2.550927, 3.535094, -3.670588, 2.919664, -1.112481, -0.485228, 1.218951, -1.271762, 0.878562,
     -0.31554, 0.052365},
    {-2.348798, 1.563476, 0.466139, -0.694704, -0.405994, 0.346658, 0.423676, -0.149073, -0.292122,
     0.011553, 0.208539, -0.083328},
    {-2.228022, 1.203183, 0.681533, -0.474134, -0.503511, 0.062118, 0.44359, 0.117306, -0.255252,
     -0.156088, 0.169775, -0.01671},
    {-1.29969, -0.269145, 0.256736, 0.377943, 0.2339, 0.004219, -0.160402, -0.193702, -0.105258,
     0.042255, 0.15463},
    {-1.322058, -0.277325, 0.268108, 0.397685, 0.239571, -0.004577, -0.159831, -0.188303, -0.104882,
     0.035507, 0.146967},
}};

}  // namespace

Requantizer::Requantizer() {
    sets_[kNoiseShapeOff].fill(0.0);
    for (std::size_t i = 0; i < kShapingSets.size(); ++i) sets_[i + 1] = kShapingSets[i];
    coefficients_ = sets_[kNoiseShapeOff].data();
    selectedSet_ = kNoiseShapeOff;
}

void Requantizer::restartPosition() {
    // The ring read backwards from position p gives the errors oldest first as entries
    // p + 1, p + 2, .. p + 12 (modulo 12); from position 0 it gives 1, 2, .. 12.
    std::array<double, 2 * kShaperTaps> turned{};
    for (int i = 0; i < kShaperTaps; ++i) {
        const auto from = static_cast<std::size_t>((i - position_ + kShaperTaps) % kShaperTaps);
        turned[static_cast<std::size_t>(2 * i)] = errors_[2 * from];
        turned[static_cast<std::size_t>(2 * i + 1)] = errors_[2 * from + 1];
    }
    std::copy(turned.begin(), turned.end(), errors_.begin());
    position_ = 0;
}

void Requantizer::reset() {
    restartPosition();
    autoblackLevel_ = kAutoblackStart;
}

void Requantizer::clear() { errors_.fill(0.0); }

double Requantizer::scaleForBitsStep(int step) {
    switch (step) {
        case 0:
            return 128.0;
        case 2:
            return 8388608.0;
        default:
            return 32768.0;
    }
}

void Requantizer::beginBlock(const EngineParameters& parameters, const RateSettings& rates) {
    enabled_ = parameters.quantize.load(std::memory_order_relaxed);
    const double scale = scaleForBitsStep(parameters.bits.load(std::memory_order_relaxed));
    if (scale != scale_) {
        const double ratio = scale / scale_;  // a power of two: exact
        for (std::size_t j = 0; j < 2 * kShaperTaps; ++j) errors_[j] *= ratio;
        scale_ = scale;
        inverseScale_ = 1.0 / scale_;
    }
    autoblackOn_ = parameters.autoblack.load(std::memory_order_relaxed);
    autoblackCoefficient_ = rates.autoblackCoefficient;

    int set = parameters.noiseShapeSet.load(std::memory_order_relaxed);
    if (set < 0 || set >= kNoiseShapeSetCount) set = kNoiseShapeOff;
    selectedSet_ = set;
    coefficients_ = sets_[static_cast<std::size_t>(set)].data();
    for (std::size_t k = 0; k < kShaperTaps; ++k) {
        for (std::size_t lane = 0; lane < 4; ++lane)
            quadCoefficients_[4 * k + lane] = coefficients_[k];
    }

    const std::uint32_t serial = parameters.shaperResetSerial.load(std::memory_order_relaxed);
    if (serial != lastResetSerial_) {
        lastResetSerial_ = serial;
        restartPosition();
    }
}

RequantizerFrames Requantizer::frames() {
    RequantizerFrames block;
    block.coefficients_ = quadCoefficients_.data();
    block.errors_ = errors_.data();
    block.dither_ = dither_.data();
    block.position_ = position_;
    // The most recent error, read from the history so a clear() is seen.
    block.lastError_ = RequantizerFrames::load(errors_.data() + 2 * (kShaperTaps - 1));
    block.previousError_ = RequantizerFrames::load(errors_.data() + 2 * (kShaperTaps - 2));
    block.scale_ = RequantizerFrames::Half{scale_, scale_};
    block.inverseScale_ = RequantizerFrames::Half{inverseScale_, inverseScale_};
    block.level_ = autoblackLevel_;
    block.autoblackCoefficient_ = autoblackCoefficient_;
    block.autoblackOn_ = autoblackOn_;
    return block;
}

void Requantizer::endBlock(const RequantizerFrames& block) {
    position_ = block.position_;
    autoblackLevel_ = block.level_;
}

const Requantizer::CoefficientSet& Requantizer::coefficientSet(int index) const {
    if (index < 0 || index >= kNoiseShapeSetCount) index = kNoiseShapeOff;
    return sets_[static_cast<std::size_t>(index)];
}

}  // namespace tq
