// The measurement record behind the meters: input and output peaks, input and
// output mean squares, and the attenuation holds, per channel.
//
// Threads. The audio thread (under the processing lock) is the only writer: it keeps
// its working values in plain members and publishes them to relaxed atomics. fetch()
// runs on any thread at any time; it reads only the published atomics and raises the
// reset request, which the audio thread honours (and clears).
//
// Two ways to feed it. frame() takes one frame, honours a pending request first and
// publishes after it. The engine's hot loop instead takes a MeterFrames from frames(),
// runs the block's frames on it in registers and hands it to endBlock(), which honours
// a pending request and publishes once. A fetch that lands inside such a block saw the
// values published at the end of the block before, and the request it raises drops
// exactly those: the holds restart with the first frame of the block that was running,
// as if the fetch had come just before it. Every frame is thus shown by exactly one
// fetch either way, and a fetch never sees a torn value.
//
// Oversampled output peaks ("MeterOvs"). The output meters' half-band history is a
// straight run: the 63 outputs before the run, then the run's own, up to 64. A frame
// stores its output and takes its centre sample (31 frames old) at once; the mid values
// of a whole run are computed together when the run is full or the block ends, side by
// side (see HalfbandKernels.h), and only then enter the output peak. A peak is a maximum,
// which does not depend on the order of its values, and it is only published at the end
// of the block, so the readings are those of frame-by-frame filtering. Outputs enter the
// history only while "MeterOvs" is on.
//
// Memory: everything lives inside the object, including the output history; reset() and
// clear() only overwrite, so nothing allocates after construction.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstdint>

#include "dsp/DoublePair.h"
#include "dsp/EngineSettings.h"
#include "dsp/HalfbandInterpolator.h"
#include "dsp/HalfbandKernels.h"

namespace tq {

class MeterMeasurement;

// One block of meter frames as the engine's hot loop runs them: the block's own peaks
// and attenuation minimum, the running mean squares and the output history's pointers
// and run position, all plain locals the compiler can keep in registers. Both channels travel as
// one pair; every lane runs the arithmetic of MeterMeasurement::frame. Peaks are kept
// as double magnitudes and rounded to single precision when the block is folded in
// (rounding is monotonic, so the maximum of the rounded values is the rounded maximum).
class MeterFrames {
  public:
    // One engine frame: dry = raw input delayed like the audio; gain = limiter gain;
    // bankShare = T + (1 - T) / E (read only when needsBankShare()); leveller = leveller
    // gain; out = engine output after output gain, before requantization and clip.
    // Always inlined: as a call its arguments and the block's values would go through
    // memory every frame.
    [[gnu::always_inline]] void frame(DoublePair dry, DoublePair gain, DoublePair bankShare,
                                      double leveller, DoublePair out, bool powerOn) {
        inputFrame(dry);
        outputFrame(gain, bankShare, leveller, out, powerOn);
    }

    // frame() in two halves. The input meters depend on nothing the limiter computes, so
    // the engine runs them in its first pass over a chunk, where registers are to spare,
    // and the rest in its second.
    [[gnu::always_inline]] void inputFrame(DoublePair dry) {
        InputRun run = inputRun();
        inputFrame(run, dry);
        endInputRun(run);
    }

    // The running values a loop over frames carries, taken out for a run of frames and
    // put back after it. As locals of the loop they stay in registers; as members of this
    // object, whose address reaches endBlock, they would go through memory every frame.
    struct InputRun {
        DoublePair peak;
        DoublePair meanSquare;
    };
    struct UsualOutputRun {
        DoublePair peak;
        DoublePair att;
        DoublePair meanSquare;
        double* next;  // the output history's next slot ("MeterOvs")
    };
    InputRun inputRun() const { return {inPeak_, inMs_}; }
    void endInputRun(const InputRun& run) {
        inPeak_ = run.peak;
        inMs_ = run.meanSquare;
    }
    UsualOutputRun usualOutputRun() const { return {outPeak_, att_, outMs_, next_}; }
    void endUsualOutputRun(const UsualOutputRun& run) {
        outPeak_ = run.peak;
        att_ = run.att;
        outMs_ = run.meanSquare;
        next_ = run.next;
    }
    [[gnu::always_inline]] void inputFrame(InputRun& run, DoublePair dry) const {
        const DoublePair in = dry * inputScale_;
        run.peak = max(run.peak, abs(in));
        run.meanSquare = smoothSquare(run.meanSquare, in);
    }
    [[gnu::always_inline]] void outputFrame(DoublePair gain, DoublePair bankShare, double leveller,
                                            DoublePair out, bool powerOn) {
        if (powerOn) {
            // Factors not shown are 1; multiplying by 1 is exact, so skipping them is too.
            // The bank's share and the rest of the gain together are the limiter gain
            // itself, taken as it is rather than divided and multiplied again.
            DoublePair shown = DoublePair::both(1.0);
            if (showBank_ && showTransient_) {
                shown = gain;
            } else if (showBank_) {
                shown = bankShare;
            } else if (showTransient_) {
                shown = gain / bankShare;
            }
            if (showLeveller_) shown = shown * DoublePair::both(leveller);
            att_ = min(shown, att_);
        }

        if (oversampled_) {
            measureOutput<true>(outPeak_, outMs_, next_, out);
        } else {
            measureOutput<false>(outPeak_, outMs_, next_, out);
        }
    }

    // The usual block: the whole limiter gain and the leveller shown ("AttShow" 1, 2 and
    // L). The engine runs such a block with inputFrame() and usualOutputFrame(), those
    // settings and "MeterOvs" (oversampled()) fixed where it is compiled.
    bool takesUsualRoute() const { return showBank_ && showTransient_ && showLeveller_; }
    // The output half of frame() for a usual block, Power on, on a run's values;
    // `leveller` holds the leveller gain in both lanes. kOversampled: oversampled().
    // Oversampled, the caller's frames come in chunks of at most kRun, each followed by
    // endChunk(), so no frame tests for a full run.
    template <bool kOversampled>
    [[gnu::always_inline]] void usualOutputFrame(UsualOutputRun& run, DoublePair gain,
                                                 DoublePair leveller, DoublePair out) const {
        run.att = min(gain * leveller, run.att);
        measureOutput<kOversampled, false>(run.peak, run.meanSquare, run.next, out);
    }
    // Oversampled: the chunk's run is finished (its mid values enter the peak), so the
    // next chunk starts a run of its own. (A block starts with an empty run: endBlock
    // finishes the last one.) The peak is a maximum, so where runs end does not change
    // it; each mid value is still taken from its own window.
    void endChunk(UsualOutputRun& run) const {
        const int count = runLength(run.next);
        if (count > 0) {
            run.peak = max(run.peak, finishRun(history_, coefficients_, kernel_, count));
            run.next = history_ + 2 * kHistoryTail;
        }
    }

    // Whether frame() reads its bankShare argument this block (one of "AttShow" bits 0
    // and 1 without the other).
    bool needsBankShare() const { return showBank_ != showTransient_; }
    // Whether the output meters take the inter-sample values this block ("MeterOvs").
    bool oversampled() const { return oversampled_; }

    // Output history: the 63 outputs before a run, then up to 64 of the run.
    static constexpr int kHistoryTail = 2 * HalfbandCoefficients::kCount - 1;
    static constexpr int kRun = 64;
    static constexpr int kHistoryLength = kHistoryTail + kRun;

  private:
    friend class MeterMeasurement;

    MeterFrames(double* history, const double* coefficients, PairedHalfbandPeakKernel kernel)
        : history_(history),
          next_(history + 2 * kHistoryTail),
          coefficients_(coefficients),
          kernel_(kernel) {}

    // The output's peak and mean square, on the record's values or a run's. Oversampled,
    // the output enters the history and the centre sample (31 frames old) is measured;
    // the run's mid values enter the peak when it is full.
    // kRunMayFill: the run may fill with this frame (else the caller has seen to it that
    // it cannot).
    template <bool kOversampled, bool kRunMayFill = true>
    [[gnu::always_inline]] void measureOutput(DoublePair& peak, DoublePair& meanSquare,
                                              double*& next, DoublePair out) const {
        if constexpr (kOversampled) {
            assert(next < history_ + 2 * kHistoryLength);
            out.store(next);
            const DoublePair centre = DoublePair::load(next - 2 * kAlignmentDelay);
            peak = max(peak, abs(centre));
            meanSquare = smoothSquare(meanSquare, centre);
            next += 2;
            if (kRunMayFill && next == history_ + 2 * kHistoryLength) [[unlikely]] {
                peak = max(peak, finishRun(history_, coefficients_, kernel_, kRun));
                next = history_ + 2 * kHistoryTail;
            }
        } else {
            peak = max(peak, abs(out));
            meanSquare = smoothSquare(meanSquare, out);
        }
    }

    // Frames in the run so far, whose next output goes to `next`.
    int runLength(const double* next) const {
        return static_cast<int>(next - history_) / 2 - kHistoryTail;
    }

    // The largest mid-value magnitude of the run's `count` frames; then the run's last 63
    // outputs move to the front, as the history before the next run. Out of line: it runs
    // once per 64 frames, and its arguments are all it touches, so the caller's block
    // values stay in registers.
    [[gnu::noinline]] static DoublePair finishRun(double* history, const double* coefficients,
                                                  PairedHalfbandPeakKernel kernel, int count);

    // The denormal guard of a fading mean square runs once per block, in endBlock: one
    // block cannot take it from the guard's floor down into the denormal range, and per
    // frame the guard would lengthen the loop-carried chain by two additions.
    DoublePair smoothSquare(DoublePair meanSquare, DoublePair x) const {
        return meanSquare + (x * x - meanSquare) * meanSquareCoefficient_;
    }

    // Block settings.
    DoublePair inputScale_;
    DoublePair meanSquareCoefficient_;
    bool showBank_ = false;
    bool showTransient_ = false;
    bool showLeveller_ = false;
    bool oversampled_ = false;

    // Since the block began: peak magnitudes, attenuation minimum; running mean squares.
    DoublePair inPeak_;
    DoublePair outPeak_;
    DoublePair att_;
    DoublePair inMs_;
    DoublePair outMs_;
    double* history_;
    double* next_;  // where the next output goes: the run's own start plus its length so far
    const double* coefficients_;
    PairedHalfbandPeakKernel kernel_;
};

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
    // [audio-thread, lock held] Zeroes the output meters' half-band history.
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
    // Honours a pending reset request before the frame and publishes after it.
    void frame(double dryL, double dryR, double gainL, double gainR, double bankShareL,
               double bankShareR, double leveller, double outL, double outR, bool powerOn) {
        MeterFrames block = frames();
        block.frame(DoublePair(dryL, dryR), DoublePair(gainL, gainR),
                    DoublePair(bankShareL, bankShareR), leveller, DoublePair(outL, outR), powerOn);
        endBlock(block);
    }

    // [audio-thread, lock held] After beginBlock: an empty block of frames carrying the
    // block's settings, the running mean squares and the output history.
    MeterFrames frames();
    // [audio-thread, lock held] Folds the frames run since frames() into the record and
    // publishes it. A pending reset request is honoured first: the holds then restart
    // from this block's frames alone.
    void endBlock(const MeterFrames& block);

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

    // Output history, both channels in (left, right) pairs: half the work of two scalar
    // filters, same results.
    alignas(16) std::array<double, 2 * MeterFrames::kHistoryLength> outputHistory_{};
    alignas(16) std::array<double, 2 * HalfbandCoefficients::kCount> halfbandCoefficients_{};
    PairedHalfbandPeakKernel halfbandKernel_ = pairedHalfbandPeakKernel();

    // What fetch() sees.
    std::array<std::atomic<float>, 2> publishedInPeak_{};
    std::array<std::atomic<float>, 2> publishedOutPeak_{};
    std::array<std::atomic<double>, 2> publishedInMs_{};
    std::array<std::atomic<double>, 2> publishedOutMs_{};
    std::array<std::atomic<double>, 2> publishedAtt_{};
    std::atomic<bool> resetRequest_{false};
};

}  // namespace tq
