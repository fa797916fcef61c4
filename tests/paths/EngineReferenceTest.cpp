// The whole limiter engine against a plain, frame-by-frame model of it.
//
// The model keeps the full history of every signal since the last reset and reads each
// delay as "the value so many frames ago" (zero before the reset), takes every window
// maximum by scanning the window, and forms the transient envelope as the direct sum of
// the kernel's taps over the windowed maxima. It shares no code with the engine: the
// coefficients, the kernel taps and the half-band table are computed or written out here.
// It does include the engine's deliberate departures from the textbook formulas (input
// sanitising, the detector's upper clamp, the convolved envelope's downward bias and its
// floor, the final clip as min/max), so that the two agree to rounding, not merely in
// spirit. Both flavours must match it to 1e-12 on the double path over programme
// material that keeps the limiter busy, for every shape and rate band.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "paths/EngineTestRig.h"
#include "paths/SignalPath.h"

namespace tq {
namespace {

using testing::EngineRig;
using testing::EngineSetup;
using testing::StereoSignal;

constexpr double kTolerance = 1e-12;

// Half-band estimator weights: c[0] for the outermost pair (newest and oldest of 64
// samples) to c[31] for the innermost pair (31 and 32 frames old).
constexpr std::array<double, 32> kHalfband{
    -9.527392564188e-07, 3.996486423714e-06, -1.118903986638e-05,  2.467901457974e-05,
    -4.780600972514e-05, 8.530390769326e-05, -0.00014352763960636, 0.0002306980712456,
    -0.000357158325338,  0.000535634929485,  -0.0007814991979156,  0.0011130288264378,
    -0.001551677555882,  0.002122372982078,  -0.002853880759364,   0.00377930020547,
    -0.004936796264104,  0.006370734171862,  -0.00813348126163,    0.01028830415771,
    -0.01291407644336,   0.016113039457338,  -0.02002388179646,    0.024844505906,
    -0.03087347507758,   0.0385901644437,    -0.04882272473866,    0.06314023363682,
    -0.08491709155632,   0.12295148511888,   -0.2095561567046,     0.6357317598066,
};

double onePole(double ms, double rate) { return 1.0 - std::exp(-1000.0 / (ms * rate)); }

// One lobe of sin(x)/x over N taps, the abscissa accumulated from -pi, unit sum.
std::vector<double> kernelTaps(int length) {
    const double pi = 3.14159265358979323846;
    const double step = 2.0 * pi / (length - 1);
    std::vector<double> taps;
    double x = -pi;
    for (int i = 0; i < length; ++i) {
        taps.push_back(x == 0.0 ? 1.0 : std::sin(x) / x);
        x += step;
    }
    double sum = 0.0;
    for (double t : taps) sum += t;
    for (double& t : taps) t /= sum;
    return taps;
}

// One channel's signals since the last reset, one entry per frame.
struct ChannelHistory {
    std::vector<double> input;     // x: the host's sample
    std::vector<double> levelled;  // v: after drive and leveller
    std::vector<double> detector;  // delta
    std::vector<double> windowed;  // rho: maximum of delta over the last N frames
    std::array<double, 8> stage1{};
    std::array<double, 8> stage2{};
};

// The value `frame` of a history, zero before the reset.
double at(const std::vector<double>& history, long frame) {
    return frame < 0 ? 0.0 : history[static_cast<std::size_t>(frame)];
}

// The largest value of history[first .. last], frames before the reset counting as 0.
double maximumOver(const std::vector<double>& history, long first, long last) {
    double m = 0.0;
    for (long k = std::max(first, 0L); k <= last; ++k) m = std::max(m, at(history, k));
    return m;
}

class PlainLimiter {
  public:
    explicit PlainLimiter(const EngineSetup& setup) : settings_(setup) {
        rate_ = setup.rate;
        const int band = rate_ < 80000 ? 0 : (rate_ < 170000 ? 1 : 2);
        lookAhead_ = 128 << band;
        smoothingLength_ = (setup.transShape == 0 ? 8 : setup.transShape == 1 ? 16 : 64) << band;
        taps_ = kernelTaps(smoothingLength_);
        gainSmoothing_ = 1.0 - std::exp(-188.49555921538757 / rate_);
        levellerCoefficient_ = onePole(1000.0, rate_);
        double ms = 32.0;
        for (double& a : attack_) {
            a = onePole(ms, rate_);
            ms -= 4.428571428571429;
        }
        setRelease(setup.releaseMs);
        suspend();
    }

    // New engine values from now on (sample rate and shape excepted).
    void change(const EngineSetup& setup) {
        if (setup.releaseMs != settings_.releaseMs) setRelease(setup.releaseMs);
        settings_ = setup;
    }

    // Every signal and smoother back to its starting state; gains snap to their targets.
    void suspend() {
        for (ChannelHistory& c : channels_) c = ChannelHistory{};
        frame_ = 0;
        drive_ = settings_.drive;
        output_ = settings_.output;
        leveller_ = 1e-5;
    }

    // One host call. AutoOut is read once per call, everything else once per frame.
    void process(const double* inLeft, const double* inRight, double* outLeft, double* outRight,
                 int frames) {
        const bool autoOut = settings_.autoOut;
        for (int i = 0; i < frames; ++i) {
            double out[2];
            processFrame(inLeft[i], inRight[i], autoOut, out);
            outLeft[i] = out[0];
            outRight[i] = out[1];
        }
    }

    // The smallest limiter gain so far: a case that never limits proves little.
    double smallestGain() const { return smallestGain_; }

  private:
    void setRelease(double releaseMs) {
        const double step = (releaseMs - 2.0) / 7.0;
        double ms = releaseMs;
        for (double& r : release_) {
            r = onePole(ms, rate_);
            ms -= step;
        }
    }

    static double sanitize(double x) {
        const double m = std::fabs(x);
        if (!(m <= 1.7976931348623157e308) || m < 1.1754943508222875e-38) return 0.0;
        return m > 1e6 ? std::copysign(1e6, x) : x;
    }

    void processFrame(double inLeft, double inRight, bool autoOut, double* out) {
        const EngineSetup& p = settings_;
        const long n = frame_++;
        const long L = lookAhead_;
        const long N = smoothingLength_;
        const double x[2] = {sanitize(inLeft), sanitize(inRight)};

        // 1. Gain smoothing.
        drive_ += (p.drive - drive_) * gainSmoothing_;
        output_ += ((autoOut ? 1.0 / p.drive : p.output) - output_) * gainSmoothing_;

        // 2. and 3. Dry delay and drive.
        double dry[2];
        double driven[2];
        for (int c = 0; c < 2; ++c) {
            dry[c] = at(channels_[c].input, n - L - 31);
            channels_[c].input.push_back(x[c]);
            driven[c] = x[c] * drive_;
        }

        // 4. Leveller.
        const double level = std::max({std::fabs(driven[0]), std::fabs(driven[1]), 1e-5});
        leveller_ += (level - leveller_) * levellerCoefficient_;
        const double levellerGain =
            (!p.levellerEngaged || leveller_ <= p.leveller) ? 1.0 : p.leveller / leveller_;

        // 5. and 6. Alignment delay and detector.
        for (int c = 0; c < 2; ++c) {
            ChannelHistory& h = channels_[c];
            const double v = driven[c] * levellerGain;
            h.levelled.push_back(v);
            const double aligned = at(h.levelled, n - 31);
            double q = aligned;
            if (p.oversample) {
                double mid = 0.0;
                for (int k = 0; k < 32; ++k) {
                    mid += (at(h.levelled, n - k) + at(h.levelled, n - 63 + k)) * kHalfband[k];
                }
                q = (std::fabs(mid) >= std::fabs(aligned) ? mid : aligned) * 1.001;
            }
            h.detector.push_back(std::min(std::max(std::fabs(q), 1e-5), 1e9));
        }

        // 8. Peak windows over L frames, 9. stereo link.
        double peaks[2];
        for (int c = 0; c < 2; ++c) peaks[c] = maximumOver(channels_[c].detector, n - L + 1, n);
        const double linked = std::max(peaks[0], peaks[1]);

        for (int c = 0; c < 2; ++c) {
            ChannelHistory& h = channels_[c];
            const double l = p.link * linked + (1.0 - p.link) * peaks[c];

            // 10. Smoother bank.
            double bank = 1.0;
            for (int i = 0; i < 8; ++i) {
                h.stage1[i] += (l >= h.stage1[i] ? attack_[i] : release_[i]) * (l - h.stage1[i]);
                if (p.detectorOrder == 1) {
                    h.stage2[i] += (h.stage1[i] > h.stage2[i] ? attack_[i] : release_[i]) *
                                   (h.stage1[i] - h.stage2[i]);
                } else {
                    h.stage2[i] = h.stage1[i];
                }
                bank = std::max(bank, h.stage2[i]);
            }

            // 11. Transient envelope: the windowed maxima convolved with the kernel, lined
            // up with the released audio; pulled down by 2^-40 and floored at the detector
            // value of the released frame.
            h.windowed.push_back(maximumOver(h.detector, n - N + 1, n));
            double tau = 0.0;
            for (long m = 0; m < N; ++m) {
                tau += taps_[static_cast<std::size_t>(m)] * at(h.windowed, n - L + N - 1 - m);
            }
            tau = std::max(tau * (1.0 - 0x1p-40), at(h.detector, n - L));

            // 12. Gain.
            const double g1 = 1.0 / std::max(bank, tau);
            const double g2 = 1.0 / std::max(tau, 1.0);
            const double gain = (1.0 - p.transient) * g1 + p.transient * g2;
            smallestGain_ = std::min(smallestGain_, gain);

            // 7. and 13. The look-ahead delay's audio through gain and output gain, or the
            // dry input; 14. the final clip.
            const double released = at(h.levelled, n - 31 - L);
            const double o = p.power ? gain * released * output_ : dry[c];
            out[c] = std::min(std::max(o, -1.0), 1.0);
        }
    }

    EngineSetup settings_;
    int rate_ = 44100;
    int lookAhead_ = 128;
    int smoothingLength_ = 64;
    std::vector<double> taps_;
    double gainSmoothing_ = 0.0;
    double levellerCoefficient_ = 0.0;
    std::array<double, 8> attack_{};
    std::array<double, 8> release_{};
    std::array<ChannelHistory, 2> channels_;
    long frame_ = 0;
    double drive_ = 1.0;
    double output_ = 1.0;
    double leveller_ = 1e-5;
    double smallestGain_ = 1.0;
};

// --- Programme --------------------------------------------------------------------------

// Varied material at `rate`, every value exact in single precision: music-like noise
// bursts (filtered noise under attack/decay envelopes, partly correlated channels), a
// logarithmic sine sweep up to 0.45 fs, isolated peaks (single samples and equal pairs,
// which peak between the samples), silence, then loud bursts dying away.
StereoSignal programme(int rate, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const int frames = static_cast<int>(seconds * rate);
    StereoSignal s = testing::silence(frames);
    const auto segmentEnd = [&](double fraction) { return static_cast<int>(fraction * frames); };

    const auto bursts = [&](int first, int last, double loudness) {
        double lowL = 0.0, lowR = 0.0, envelope = 0.0, target = 0.0;
        const double smoothing = 0.3;
        for (int i = first; i < last; ++i) {
            if (random() % static_cast<unsigned>(rate / 8) == 0) {
                target = loudness * (0.2 + 0.8 * std::fabs(uniform(random)));
            }
            envelope += (target - envelope) * (target > envelope ? 0.05 : 0.0005);
            const double common = uniform(random);
            lowL += smoothing * (common + 0.4 * uniform(random) - lowL);
            lowR += smoothing * (0.7 * common + 0.6 * uniform(random) - lowR);
            s.left[i] = static_cast<float>(envelope * 2.5 * lowL);
            s.right[i] = static_cast<float>(envelope * 2.5 * lowR);
        }
    };
    const int burstsEnd = segmentEnd(0.3);
    bursts(0, burstsEnd, 2.0);

    const int sweepEnd = segmentEnd(0.55);
    const double pi = 3.14159265358979323846;
    const double lowest = 30.0;
    const double highest = 0.45 * rate;
    double phase = 0.0;
    for (int i = burstsEnd; i < sweepEnd; ++i) {
        const double t = static_cast<double>(i - burstsEnd) / (sweepEnd - burstsEnd);
        phase += 2.0 * pi * lowest * std::pow(highest / lowest, t) / rate;
        const double amplitude = 0.3 + 1.5 * t;
        s.left[i] = static_cast<float>(amplitude * std::sin(phase));
        s.right[i] = static_cast<float>(0.6 * amplitude * std::sin(phase + 1.0));
    }

    const int peaksEnd = segmentEnd(0.72);
    for (int i = sweepEnd + 50; i + 2 < peaksEnd; i += 50 + static_cast<int>(random() % 700)) {
        const double height =
            (1.2 + 3.0 * std::fabs(uniform(random))) * (uniform(random) < 0 ? -1 : 1);
        switch (random() % 3) {
            case 0:
                s.left[i] = static_cast<float>(height);
                break;
            case 1:
                s.right[i] = static_cast<float>(height);
                break;
            default:  // an equal pair on both channels: the peak lies between the samples
                s.left[i] = s.left[i + 1] = static_cast<float>(height);
                s.right[i] = s.right[i + 1] = static_cast<float>(-0.5 * height);
                break;
        }
    }

    const int silenceEnd = segmentEnd(0.8);  // silence between the peaks and the tail
    bursts(silenceEnd, segmentEnd(0.92), 3.0);
    return s;
}

// --- Running both sides -----------------------------------------------------------------

// A change of engine values before the host block that starts at `frame`; a different
// TransShape is applied as the effect does it (new shape, then suspend).
struct Change {
    int frame;
    EngineSetup setup;
};

// Host block lengths, uneven so that blocks, the engine's chunks and the convolver's
// blocks all fall differently.
constexpr int kBlockPattern[] = {256, 1, 37, 64, 500, 3, 128, 999, 63, 65, 17, 300};

struct Outputs {
    StereoSignal engine;
    StereoSignal reference;
    double smallestGain = 1.0;
};

Outputs runBoth(Flavour flavour, const EngineSetup& setup, const StereoSignal& in,
                const std::vector<Change>& changes = {}) {
    EngineRig rig(flavour, setup);
    PlainLimiter plain(setup);
    Outputs out{testing::silence(in.frames()), testing::silence(in.frames()), 1.0};
    int current = setup.transShape;
    std::size_t nextChange = 0;
    int pattern = 0;
    for (int start = 0; start < in.frames();) {
        if (nextChange < changes.size() && changes[nextChange].frame <= start) {
            const EngineSetup& s = changes[nextChange++].setup;
            testing::applySetup(rig.parameters(), s);
            plain.change(s);
            if (s.transShape != current) {
                current = s.transShape;
                rig.path().setTransShape(current);
                rig.path().suspend();
                plain = PlainLimiter(s);
            }
        }
        int frames = kBlockPattern[pattern++ % std::size(kBlockPattern)];
        frames = std::min(frames, in.frames() - start);
        if (nextChange < changes.size())
            frames = std::min(frames, changes[nextChange].frame - start);
        rig.path().process(in.left.data() + start, in.right.data() + start,
                           out.engine.left.data() + start, out.engine.right.data() + start, frames);
        plain.process(in.left.data() + start, in.right.data() + start,
                      out.reference.left.data() + start, out.reference.right.data() + start,
                      frames);
        out.smallestGain = std::min(out.smallestGain, plain.smallestGain());
        start += frames;
    }
    return out;
}

std::string describe(Flavour flavour, const EngineSetup& s) {
    return std::string(flavour == Flavour::Paired ? "paired" : "scalar") + ", rate " +
           std::to_string(s.rate) + ", shape " + std::to_string(s.transShape) + ", oversample " +
           std::to_string(s.oversample) + ", order " + std::to_string(s.detectorOrder) + ", link " +
           std::to_string(s.link) + ", release " + std::to_string(s.releaseMs) + ", transient " +
           std::to_string(s.transient) + ", drive " + std::to_string(s.drive) + ", leveller " +
           (s.levellerEngaged ? std::to_string(s.leveller) : "off") +
           (s.autoOut ? ", AutoOut" : "");
}

// Every frame of both channels within the tolerance; reports the first frame that is not.
void expectMatches(const Outputs& out, double tolerance, const std::string& what) {
    for (int i = 0; i < out.engine.frames(); ++i) {
        const double dl = std::fabs(out.engine.left[i] - out.reference.left[i]);
        const double dr = std::fabs(out.engine.right[i] - out.reference.right[i]);
        if (!(dl <= tolerance && dr <= tolerance)) {
            ADD_FAILURE() << what << ": frame " << i << " engine (" << out.engine.left[i] << ", "
                          << out.engine.right[i] << ") reference (" << out.reference.left[i] << ", "
                          << out.reference.right[i] << ")";
            return;
        }
    }
}

// Both flavours against the reference for each setup; the limiter must have worked.
void expectEngineFollowsTheReference(const std::vector<EngineSetup>& setups, double seconds) {
    for (const EngineSetup& setup : setups) {
        const StereoSignal in = programme(setup.rate, seconds, 7u + setup.transShape);
        for (Flavour flavour : testing::kFlavours) {
            const Outputs out = runBoth(flavour, setup, in);
            expectMatches(out, kTolerance, describe(flavour, setup));
            EXPECT_LT(out.smallestGain, 0.5) << describe(flavour, setup);
        }
    }
}

EngineSetup makeSetup(int rate, int shape, bool oversample, int order, double link,
                      double releaseMs, double transient) {
    EngineSetup s;
    s.rate = rate;
    s.transShape = shape;
    s.oversample = oversample;
    s.detectorOrder = order;
    s.link = link;
    s.releaseMs = releaseMs;
    s.transient = transient;
    return s;
}

EngineSetup withLeveller(EngineSetup s, double threshold, double drive) {
    s.leveller = threshold;
    s.levellerEngaged = true;
    s.drive = drive;
    return s;
}

EngineSetup withAutoOut(EngineSetup s, double drive, double output) {
    s.autoOut = true;
    s.drive = drive;
    s.output = output;
    return s;
}

// --- The grid ---------------------------------------------------------------------------

TEST(EngineReferenceSlow, EveryShapeAndDetectorSettingInRateBandZero) {
    expectEngineFollowsTheReference(
        {
            makeSetup(44100, 0, false, 0, 1.0, 200.0, 0.02),
            makeSetup(44100, 0, true, 1, 0.0, 1.0, 0.5),
            withLeveller(makeSetup(48000, 1, false, 1, 0.5, 1000.0, 0.0), 0.5, 2.0),
            withAutoOut(makeSetup(48000, 1, true, 0, 1.0, 50.0, 0.125), 4.0, 0.5),
            withAutoOut(makeSetup(44100, 2, false, 0, 0.0, 1000.0, 0.5), 0.5, 1.0),
            withLeveller(makeSetup(44100, 2, true, 1, 0.3, 1.0, 0.0), 0.25, 1.5),
        },
        1.5);
}

TEST(EngineReferenceSlow, EveryShapeInRateBandOne) {
    expectEngineFollowsTheReference(
        {
            makeSetup(96000, 0, true, 1, 1.0, 1000.0, 0.0),
            withLeveller(makeSetup(88200, 1, false, 0, 0.0, 1.0, 0.02), 0.7, 1.0),
            withAutoOut(makeSetup(96000, 2, true, 1, 0.6, 80.0, 0.5), 2.0, 0.25),
        },
        0.6);
}

TEST(EngineReferenceSlow, EveryShapeInRateBandTwo) {
    expectEngineFollowsTheReference(
        {
            withAutoOut(makeSetup(192000, 0, false, 1, 0.0, 1.0, 0.5), 1.0, 1.0),
            makeSetup(176400, 1, true, 0, 1.0, 1000.0, 0.0),
            withLeveller(makeSetup(192000, 2, true, 1, 0.5, 20.0, 0.02), 0.5, 3.0),
        },
        0.3);
}

// Every engine value changes between uneven host blocks (drive, output, transient share,
// release, link, Oversample, detector order, Power, leveller, AutoOut), and TransShape
// changes with the suspend that goes with it.
TEST(EngineReference, AutomationBetweenUnevenHostBlocks) {
    const int rate = 48000;
    const StereoSignal in = programme(rate, 2.0, 21u);
    const EngineSetup start = makeSetup(rate, 1, false, 0, 1.0, 100.0, 0.02);
    // Each edit applies from the given second on, on top of all earlier ones.
    using Edit = void (*)(EngineSetup&);
    const std::pair<double, Edit> script[] = {
        {0.05, [](EngineSetup& s) { s.drive = 3.0; }},
        {0.10, [](EngineSetup& s) { s.transient = 0.5; }},
        {0.15, [](EngineSetup& s) { s.releaseMs = 1.0; }},
        {0.20, [](EngineSetup& s) { s.oversample = true; }},
        {0.25, [](EngineSetup& s) { s.detectorOrder = 1; }},
        {0.30, [](EngineSetup& s) { s.link = 0.0; }},
        {0.35, [](EngineSetup& s) { s.releaseMs = 1000.0; }},
        {0.40, [](EngineSetup& s) { s.power = false; }},
        {0.45, [](EngineSetup& s) { s.power = true; }},
        {0.50,
         [](EngineSetup& s) {
             s.levellerEngaged = true;
             s.leveller = 0.4;
         }},
        {0.60, [](EngineSetup& s) { s.autoOut = true; }},
        {0.65, [](EngineSetup& s) { s.drive = 0.5; }},
        {0.70, [](EngineSetup& s) { s.transient = 0.0; }},
        {0.75, [](EngineSetup& s) { s.oversample = false; }},
        {0.80, [](EngineSetup& s) { s.detectorOrder = 0; }},
        {0.85, [](EngineSetup& s) { s.transShape = 0; }},
        {0.95,
         [](EngineSetup& s) {
             s.autoOut = false;
             s.output = 0.3;
         }},
        {1.05, [](EngineSetup& s) { s.link = 0.7; }},
        {1.10, [](EngineSetup& s) { s.detectorOrder = 1; }},
        {1.20, [](EngineSetup& s) { s.levellerEngaged = false; }},
        {1.30,
         [](EngineSetup& s) {
             s.transShape = 2;
             s.drive = 2.0;
         }},
        {1.50,
         [](EngineSetup& s) {
             s.releaseMs = 30.0;
             s.transient = 0.3;
         }},
    };
    std::vector<Change> changes;
    EngineSetup s = start;
    for (const auto& [seconds, edit] : script) {
        edit(s);
        // Off the round numbers, so the changes fall inside the engine's chunks.
        changes.push_back({static_cast<int>(seconds * rate) + 11, s});
    }
    for (Flavour flavour : testing::kFlavours) {
        const Outputs out = runBoth(flavour, start, in, changes);
        expectMatches(out, kTolerance, describe(flavour, start) + " with automation");
        EXPECT_LT(out.smallestGain, 0.5);
    }
}

// The single-precision path converts on the way in and out only: its output is the
// reference's rounded to float.
TEST(EngineReference, FloatPathIsTheReferenceRoundedToFloat) {
    const EngineSetup setup = withLeveller(makeSetup(44100, 1, true, 1, 0.5, 50.0, 0.1), 0.5, 2.0);
    const StereoSignal in = programme(setup.rate, 0.5, 3u);
    for (Flavour flavour : testing::kFlavours) {
        EngineRig rig(flavour, setup);
        const auto engine = rig.runFloat(in, 113);
        PlainLimiter plain(setup);
        StereoSignal reference = testing::silence(in.frames());
        plain.process(in.left.data(), in.right.data(), reference.left.data(),
                      reference.right.data(), in.frames());
        Outputs out{StereoSignal{std::vector<double>(engine[0].begin(), engine[0].end()),
                                 std::vector<double>(engine[1].begin(), engine[1].end())},
                    reference, plain.smallestGain()};
        // Half a float step at full scale, plus the double path's own tolerance.
        expectMatches(out, 0x1p-24 + kTolerance, describe(flavour, setup) + " in float");
    }
}

}  // namespace
}  // namespace tq
