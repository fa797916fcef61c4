// The measurement record behind the meters: input and output peaks, input and
// output mean squares, and the attenuation holds, per channel.
//
// Threads. The audio thread (under the processing lock) is the only writer: it keeps
// its working values in plain members and publishes them to relaxed atomics after
// every frame. fetch() runs on any thread at any time; it reads only the published
// atomics and raises the reset request, which the audio thread honours (and clears)
// at its next frame. A fetch may thus see values from different frames of one block,
// never a torn value.
//
// Memory: everything lives inside the object, including the output meters' half-band
// interpolator; reset() and clear() only overwrite, so nothing allocates after
// construction.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "dsp/EngineSettings.h"
#include "paths/HalfbandInterpolator.h"

namespace tq {

class MeterMeasurement {
  public:
    // Order of the ten fetched values.
    enum Value {
        kInPeakL,
        kInPeakR,
        kOutPeakL,
        kOutPeakR,
        kInRmsL,
        kInRmsR,
        kOutRmsL,
        kOutRmsR,
        kAttL,
        kAttR,
        kValueCount
    };
    // "AttShow" bits.
    static constexpr int kShowBank = 1;       // "1": the smoother bank's share
    static constexpr int kShowTransient = 2;  // "2": the rest of the limiter gain
    static constexpr int kShowLeveller = 4;   // "L": the leveller gain

    // Record at its reset values; mean-square coefficient for 44100 Hz until the
    // first beginBlock.
    MeterMeasurement();

    // [audio-thread, lock held] Suspend: peaks and mean squares 0, attenuation 1,
    // request cleared, interpolator history and position 0.
    void reset();
    // [audio-thread, lock held] Zeroes the output meters' interpolator history.
    void clear();

    // [audio-thread, lock held] Once per block, before any frame (in calibration mode
    // too): reads postMeter, meterOvs, attShow, attHoldResetSerial and the mean-square
    // coefficient. `smoothedDrive` is the smoothed drive gain at the block start; it
    // scales the input meters while "PostMeter" is "pre".
    void beginBlock(const EngineParameters& parameters, const RateSettings& rates,
                    double smoothedDrive);

    // [audio-thread, lock held] One engine frame. dry = raw input delayed like the
    // audio; gain = limiter gain; bankShare = T + (1 - T) / E; leveller = leveller
    // gain; out = engine output after output gain, before requantization and clip.
    void frame(double dryL, double dryR, double gainL, double gainR, double bankShareL,
               double bankShareR, double leveller, double outL, double outR, bool powerOn) {
        honourResetRequest();

        const double inL = dryL * inputScale_;
        const double inR = dryR * inputScale_;
        inPeak_[0] = std::max(inPeak_[0], magnitude(inL));
        inPeak_[1] = std::max(inPeak_[1], magnitude(inR));
        inMs_[0] = smoothSquare(inMs_[0], inL);
        inMs_[1] = smoothSquare(inMs_[1], inR);

        if (powerOn) {
            double shownL = 1.0;
            double shownR = 1.0;
            if (attShow_ & kShowBank) {
                shownL *= bankShareL;
                shownR *= bankShareR;
            }
            if (attShow_ & kShowTransient) {
                shownL *= gainL / bankShareL;
                shownR *= gainR / bankShareR;
            }
            if (attShow_ & kShowLeveller) {
                shownL *= leveller;
                shownR *= leveller;
            }
            att_[0] = std::min(att_[0], shownL);
            att_[1] = std::min(att_[1], shownR);
        }

        // Always fed, so switching "MeterOvs" on never meets a stale history.
        interpolator_.push(DoublePair(outL, outR));
        if (oversampledPeaks_) {
            const PairedHalfbandEstimate e = interpolator_.estimate();
            const double centreL = e.centre.left();
            const double centreR = e.centre.right();
            outPeak_[0] = std::max(outPeak_[0], magnitude(e.mid.left()));
            outPeak_[1] = std::max(outPeak_[1], magnitude(e.mid.right()));
            outPeak_[0] = std::max(outPeak_[0], magnitude(centreL));
            outPeak_[1] = std::max(outPeak_[1], magnitude(centreR));
            outMs_[0] = smoothSquare(outMs_[0], centreL);
            outMs_[1] = smoothSquare(outMs_[1], centreR);
        } else {
            outPeak_[0] = std::max(outPeak_[0], magnitude(outL));
            outPeak_[1] = std::max(outPeak_[1], magnitude(outR));
            outMs_[0] = smoothSquare(outMs_[0], outL);
            outMs_[1] = smoothSquare(outMs_[1], outR);
        }
        publish();
    }

    // [audio-thread, lock held] One calibration frame: the generated samples of both
    // channels. A channel that carries nothing reads 0 everywhere; input meters follow
    // the output meters; attenuation holds are left alone.
    void calibrationFrame(double nL, double nR, bool leftCarries, bool rightCarries) {
        honourResetRequest();
        calibrationChannel(0, nL, leftCarries);
        calibrationChannel(1, nR, rightCarries);
        publish();
    }

    // [any thread] The ten values in Value order (RMS = sqrt(2 * mean square), so a
    // sine reads its peak), then raises the reset request.
    void fetch(float values[kValueCount]);

    // [any thread] Whether a fetch is waiting for the audio thread to restart the holds.
    bool resetRequested() const { return resetRequest_.load(std::memory_order_relaxed); }

  private:
    static float magnitude(double x) { return static_cast<float>(std::fabs(x)); }

    double smoothSquare(double meanSquare, double x) const {
        meanSquare = meanSquare + (x * x - meanSquare) * meanSquareCoefficient_;
        return (meanSquare + 1e-30) - 1e-30;  // a fading signal never lingers as denormals
    }

    void honourResetRequest() {
        // The exchange only runs when a request is pending, so a request raised
        // between load and clear is never lost.
        if (resetRequest_.load(std::memory_order_relaxed) &&
            resetRequest_.exchange(false, std::memory_order_relaxed)) {
            inPeak_ = {0.0f, 0.0f};
            outPeak_ = {0.0f, 0.0f};
            att_ = {1.0, 1.0};
        }
    }

    void calibrationChannel(int c, double n, bool carries) {
        const auto i = static_cast<std::size_t>(c);
        if (carries) {
            outPeak_[i] = std::max(outPeak_[i], magnitude(n));
            outMs_[i] = smoothSquare(outMs_[i], n);
        } else {
            outPeak_[i] = 0.0f;
            outMs_[i] = 0.0;
        }
        inPeak_[i] = outPeak_[i];
        inMs_[i] = outMs_[i];
    }

    void publish() {
        for (std::size_t c = 0; c < 2; ++c) {
            publishedInPeak_[c].store(inPeak_[c], std::memory_order_relaxed);
            publishedOutPeak_[c].store(outPeak_[c], std::memory_order_relaxed);
            publishedInMs_[c].store(inMs_[c], std::memory_order_relaxed);
            publishedOutMs_[c].store(outMs_[c], std::memory_order_relaxed);
            publishedAtt_[c].store(att_[c], std::memory_order_relaxed);
        }
    }

    // Audio thread's working values.
    std::array<float, 2> inPeak_{};
    std::array<float, 2> outPeak_{};
    std::array<double, 2> inMs_{};
    std::array<double, 2> outMs_{};
    std::array<double, 2> att_{1.0, 1.0};

    // Block settings.
    double inputScale_ = 1.0;
    double meanSquareCoefficient_ = 0.0;
    int attShow_ = kShowBank | kShowTransient | kShowLeveller;
    bool oversampledPeaks_ = false;
    std::uint32_t lastAttHoldResetSerial_ = 0;

    // Both channels in one two-lane filter: half the work of two scalar ones, same results.
    PairedHalfbandInterpolator interpolator_;

    // What fetch() sees.
    std::array<std::atomic<float>, 2> publishedInPeak_{};
    std::array<std::atomic<float>, 2> publishedOutPeak_{};
    std::array<std::atomic<double>, 2> publishedInMs_{};
    std::array<std::atomic<double>, 2> publishedOutMs_{};
    std::array<std::atomic<double>, 2> publishedAtt_{};
    std::atomic<bool> resetRequest_{false};
};

}  // namespace tq
