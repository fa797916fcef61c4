#include "DemoProgramme.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace tq {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kBeatSeconds = 0.5;  // 120 beats per minute

// Small seeded generator so the noise is identical everywhere.
class NoiseSource {
  public:
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<double>(state_ >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }

  private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

// Section envelope: a quiet pad intro, the full mix, the overs passage, a fade.
double mixLevel(double t) {
    if (t < 4.0) return 0.0;
    if (t < 18.0) return 1.0;
    return std::max(0.0, (DemoProgramme::kSeconds - t) / 2.0);
}

}  // namespace

std::vector<double> DemoProgramme::generate() {
    const int frames = static_cast<int>(kSeconds * kSampleRate);
    const double rate = kSampleRate;
    std::vector<double> out(static_cast<std::size_t>(frames) * kChannels, 0.0);
    NoiseSource noise;
    static constexpr double kBassNotes[] = {41.2, 41.2, 49.0, 55.0, 36.7, 36.7, 49.0, 55.0};
    static constexpr double kChords[][3] = {
        {220.0, 261.6, 329.6}, {196.0, 246.9, 293.7}, {174.6, 220.0, 261.6}, {196.0, 246.9, 329.6}};
    double bassPhase = 0.0;
    double kickPhase = 0.0;
    double previousNoise = 0.0;

    for (int n = 0; n < frames; ++n) {
        const double t = n / rate;
        const int beat = static_cast<int>(t / kBeatSeconds);
        const double inBeat = t - beat * kBeatSeconds;
        const double inEighth = std::fmod(t, kBeatSeconds / 2.0);
        const double level = mixLevel(t);
        double left = 0.0;
        double right = 0.0;

        // Pad: a chord per bar, slow tremolo, slightly wider on the right.
        const auto& chord = kChords[(beat / 4) % 4];
        const double tremolo = 0.8 + 0.2 * std::sin(kTwoPi * 0.25 * t);
        for (int v = 0; v < 3; ++v) {
            left += 0.11 * tremolo * std::sin(kTwoPi * chord[v] * t);
            right += 0.11 * tremolo * std::sin(kTwoPi * chord[v] * 1.003 * t + 0.7 * v);
        }

        // Kick on every beat: falling pitch, fast decay, a sharp click at the start.
        const double kickFrequency = 45.0 + 75.0 * std::exp(-inBeat / 0.03);
        kickPhase = inBeat == 0.0 ? 0.0 : kickPhase + kTwoPi * kickFrequency / rate;
        double kick = 1.0 * std::exp(-inBeat / 0.16) * std::sin(kickPhase);
        if (inBeat < 0.002) kick += 0.5 * (1.0 - inBeat / 0.002);
        // Snare on beats 2 and 4: tone plus noise.
        const double white = noise.next();
        double snare = 0.0;
        if (beat % 2 == 1) {
            snare = std::exp(-inBeat / 0.07) * (0.55 * white + 0.3 * std::sin(kTwoPi * 185.0 * t));
        }
        // Hi-hat on every eighth: differentiated noise, very short.
        const double hat = 0.22 * std::exp(-inEighth / 0.018) * (white - previousNoise);
        previousNoise = white;
        // Bass: a few harmonics of the note of the beat.
        bassPhase += kTwoPi * kBassNotes[beat % 8] / rate;
        const double bass = 0.28 * (std::sin(bassPhase) + 0.4 * std::sin(2.0 * bassPhase) +
                                    0.2 * std::sin(3.0 * bassPhase));
        const bool hatLeft = static_cast<int>(t / (kBeatSeconds / 2.0)) % 2 == 0;
        left += level * (kick + 0.9 * snare + bass + (hatLeft ? hat : 0.4 * hat));
        right += level * (kick + snare + bass + (hatLeft ? 0.4 * hat : hat));

        // Overs passage: a tone at a quarter of the rate sampled 45 degrees off
        // its crests, so its true peak is 3 dB above its sample peak.
        if (t >= 14.0 && t < 17.0) {
            const double over = 0.9 * std::sin(kTwoPi * 0.25 * n + std::numbers::pi / 4.0);
            left += over;
            right += over;
        }
        out[static_cast<std::size_t>(n) * 2] = left;
        out[static_cast<std::size_t>(n) * 2 + 1] = right;
    }

    double peak = 0.0;
    for (double sample : out) peak = std::max(peak, std::fabs(sample));
    const double gain = kPeak / peak;
    for (double& sample : out) sample *= gain;
    return out;
}

}  // namespace tq
