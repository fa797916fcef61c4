// A signal path set up from plain settings, for tests that drive it without a host.
#pragma once

#include <memory>
#include <random>
#include <vector>

#include "dsp/EngineSettings.h"
#include "paths/SignalPath.h"

namespace tq::testing {

struct EngineSetup {
    int rate = 44100;
    int transShape = 2;
    double drive = 1.0;
    double output = 1.0;
    double transient = 0.02;
    double releaseMs = 200.0;
    double link = 1.0;
    bool oversample = false;
    int detectorOrder = 0;
    bool power = true;
    double leveller = 1.0;
    bool levellerEngaged = false;
    bool autoOut = false;
};

struct StereoSignal {
    std::vector<double> left;
    std::vector<double> right;
    int frames() const { return static_cast<int>(left.size()); }
};

inline void applySetup(EngineParameters& p, const EngineSetup& s) {
    p.driveGain = s.drive;
    p.outputGain = s.output;
    p.transientShare = s.transient;
    p.releaseMs = s.releaseMs;
    p.linkAmount = s.link;
    p.oversample = s.oversample;
    p.detectorOrder = s.detectorOrder;
    p.powerGain = s.power ? 1.0 : 0.0;
    p.levellerGain = s.leveller;
    p.levellerEngaged = s.levellerEngaged;
    p.autoOut = s.autoOut;
    p.transShape = s.transShape;
    fillAttackCoefficients(p, s.rate);
    fillReleaseCoefficients(p, s.releaseMs, s.rate);
}

class EngineRig {
  public:
    explicit EngineRig(Flavour flavour, const EngineSetup& setup = {}) : setup_(setup) {
        applySetup(parameters_, setup);
        path_ = std::make_unique<SignalPath>(flavour, parameters_);
        RateSettings rates;
        rates.update(setup.rate, setup.transShape);
        path_->setRateSettings(rates);
        path_->suspend();
    }

    EngineParameters& parameters() { return parameters_; }
    SignalPath& path() { return *path_; }
    int latency() const { return path_->latency(); }

    // Runs the signal in host buffers of `block` frames (double samples).
    StereoSignal run(const StereoSignal& in, int block = 256) {
        StereoSignal out{std::vector<double>(in.left.size()), std::vector<double>(in.left.size())};
        for (int start = 0; start < in.frames(); start += block) {
            const int n = std::min(block, in.frames() - start);
            path_->process(in.left.data() + start, in.right.data() + start, out.left.data() + start,
                           out.right.data() + start, n);
        }
        return out;
    }

    // The same in single precision.
    std::vector<std::vector<float>> runFloat(const StereoSignal& in, int block = 256) {
        std::vector<float> l(in.left.begin(), in.left.end());
        std::vector<float> r(in.right.begin(), in.right.end());
        std::vector<float> ol(l.size()), orr(l.size());
        for (int start = 0; start < in.frames(); start += block) {
            const int n = std::min(block, in.frames() - start);
            path_->process(l.data() + start, r.data() + start, ol.data() + start,
                           orr.data() + start, n);
        }
        return {ol, orr};
    }

  private:
    EngineSetup setup_;
    EngineParameters parameters_;
    std::unique_ptr<SignalPath> path_;
};

// Seeded noise with occasional loud bursts (up to `peak`), values exact in float.
inline StereoSignal loudNoise(int frames, double peak, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    StereoSignal s{std::vector<double>(frames), std::vector<double>(frames)};
    double envelope = 0.2;
    for (int i = 0; i < frames; ++i) {
        if (i % 97 == 0) envelope = peak * (0.1 + 0.9 * (uniform(random) * 0.5 + 0.5));
        s.left[i] = static_cast<float>(envelope * uniform(random));
        s.right[i] = static_cast<float>(envelope * uniform(random) * (i % 300 < 150 ? 1.0 : 0.3));
    }
    return s;
}

inline StereoSignal silence(int frames) {
    return StereoSignal{std::vector<double>(frames, 0.0), std::vector<double>(frames, 0.0)};
}

inline constexpr Flavour kFlavours[] = {Flavour::Scalar, Flavour::Paired};
inline constexpr int kRates[] = {44100, 96000, 192000};

}  // namespace tq::testing
