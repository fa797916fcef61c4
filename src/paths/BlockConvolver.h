// Overlap-add fast convolution of the transient envelope with the smoothing kernel,
// followed by the transient ring that lines the result up with the look-ahead.
//
// One value per frame goes in (the windowed maximum rho) and one comes out (tau):
//   tau(n) = sum over m = 0 .. N-1 of h[m] * rho(n - R - N + 1 - m),  R = ring length,
// i.e. a causal FIR with a pure delay of N - 1 frames, then R frames of ring. Blocks of
// N frames are counted across calls; the block that completes runs its transforms in
// the frame that completes it, before that frame's output is read.
//
// The block buffer is a 2N-point real sequence in interleaved-halves order: pair k holds
// time index k (the block's input, later its result) and time index k + N (the zero
// padding, later the part of the result that spills into the next block, moved to the
// tail as it is read). Template over the flavour's layout; all storage is allocated at
// construction for N = 256 and a ring of 512; configure/reset/clear never allocate.
#pragma once

#include "paths/ChannelLayout.h"
#include "paths/RealFft.h"
#include "paths/WideBuild.h"

namespace tq {

template <typename Layout>
class BlockConvolver {
  public:
    using Value = typename Layout::Value;
    static constexpr int kMaxLength = kMaxSmoothingLength;
    static constexpr int kMaxRingLength = kMaxLookAhead;

    BlockConvolver() : block_(2 * kMaxLength), tail_(kMaxLength), ring_(kMaxRingLength) {}

    // [lock held] New kernel length N, ring length R (1 .. 512) and prepared kernel
    // spectrum (in this layout, alive as long as it is used). Positions restart at 0 and
    // the buffers are cleared. Returns false, changing nothing, if N has no transform.
    bool configure(int length, int ringLength, const double* kernelSpectrum) {
        const RealFftSize* fft = Layout::kFlavour == Flavour::Paired ? pairedFftForKernel(length)
                                                                     : scalarFftForKernel(length);
        if (fft == nullptr || fft->convolve == nullptr || length > kMaxLength || ringLength < 1 ||
            ringLength > kMaxRingLength || kernelSpectrum == nullptr) {
            return false;
        }
        convolve_ = wide_ && fft->convolveWide != nullptr ? fft->convolveWide : fft->convolve;
        kernel_ = kernelSpectrum;
        length_ = length;
        ringLength_ = ringLength;
        reset();
        return true;
    }

    // Positions to 0 and buffers cleared.
    void reset() {
        position_ = 0;
        ringIndex_ = 0;
        clear();
    }
    // Buffers cleared; positions kept.
    void clear() {
        block_.clear();
        tail_.clear();
        ring_.clear();
    }

    int length() const { return length_; }
    int ringLength() const { return ringLength_; }

    // The convolver as a hot loop holds it: buffer pointers and positions in registers.
    // (Through the members they would be reloaded after every store of a value.) Take
    // one with cursor(), step it, hand it back with commit().
    class Cursor {
      public:
        // [audio-thread] One frame: rho in, tau out.
        Value step(Value rho) {
            block_.set(2 * position_, rho);
            if (++position_ == length_) [[unlikely]] {
                position_ = 0;
                owner_->transform();
            }
            // The pair read is the one after the pair just written, so the next frame's
            // input lands only where the output has already been taken. The tail index
            // always equals the block position (both restart together after a transform).
            const Value sigma = block_.get(2 * position_) + tail_.get(position_);
            tail_.set(position_, block_.get(2 * position_ + 1));
            block_.set(2 * position_ + 1, Value::both(0.0));

            const Value tau = ring_.get(ringIndex_);
            ring_.set(ringIndex_, sigma);
            if (++ringIndex_ == ringLength_) ringIndex_ = 0;
            return tau;
        }

      private:
        friend class BlockConvolver;
        explicit Cursor(BlockConvolver& owner)
            : owner_(&owner),
              block_(owner.block_.view()),
              tail_(owner.tail_.view()),
              ring_(owner.ring_.view()),
              length_(owner.length_),
              ringLength_(owner.ringLength_),
              position_(owner.position_),
              ringIndex_(owner.ringIndex_) {}

        BlockConvolver* owner_;
        typename Layout::View block_;
        typename Layout::View tail_;
        typename Layout::View ring_;
        Index length_;
        Index ringLength_;
        Index position_;
        Index ringIndex_;
    };

    Cursor cursor() { return Cursor(*this); }
    void commit(const Cursor& c) {
        position_ = static_cast<int>(c.position_);
        ringIndex_ = static_cast<int>(c.ringIndex_);
    }

    // [audio-thread] One frame: rho in, tau out.
    Value step(Value rho) {
        Cursor c = cursor();
        const Value tau = c.step(rho);
        commit(c);
        return tau;
    }

  private:
    // Out of line: it runs once per block, and inlined it would crowd the frame loop.
    [[gnu::noinline]] void transform() {
        if (convolve_ == nullptr) return;  // never configured: the envelope stays at zero
        if constexpr (Layout::kFlavour == Flavour::Paired) {
            convolve_(block_.view().pairs, kernel_);
        } else {
            const auto view = block_.view();
            convolve_(view.left, kernel_);
            convolve_(view.right, kernel_);
        }
    }

    typename Layout::Array block_;
    typename Layout::Array tail_;
    typename Layout::Array ring_;
    void (*convolve_)(double* buffer, const double* kernelSpectrum) = nullptr;
    const bool wide_ = wideBuildAvailable();
    const double* kernel_ = nullptr;
    int length_ = 1;
    int ringLength_ = 1;
    int position_ = 0;
    int ringIndex_ = 0;
};

}  // namespace tq
