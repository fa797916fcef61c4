// Overlap-add fast convolution of the transient envelope with the smoothing kernel,
// followed by the transient ring that lines the result up with the look-ahead.
//
// One value per frame goes in (the windowed maximum rho) and one comes out (tau):
//   tau(n) = sum over m = 0 .. N-1 of h[m] * rho(n - R - N + 1 - m),  R = ring length,
// i.e. a causal FIR with a pure delay of N - 1 frames, then R frames of ring. Blocks of
// N frames are counted across calls; the block that completes runs its transform in the
// frame that completes it, before that frame's output is read.
//
// The frame loop only stores the input and reads the output. The transform of a block
// produces all N of the block's outputs at once (the convolution's first half plus the
// tail the previous block left) and writes them straight into a delay line, a block ahead
// of where they are read: the line holds the R values still waiting plus that block,
// rounded up to whole blocks so that a block's outputs never wrap. The read position
// starts so that a block's outputs land on a block boundary, and the first output of a
// block is read R frames after the frame that completed it.
//
// A hot loop takes frames in runs of up to kMaxRun: the run's inputs are stored first,
// then the transforms of every block they complete run one after the other, then the
// run's outputs are read. The transforms are short chains of dependent steps; back to
// back, the processor works on the next while the last one's steps wait, where one frame
// loop's work between them would keep them apart. The values are those of frame by
// frame: every output read in a run comes from a block completed at least R frames
// before it, so from a transform already run; and the line is a run longer (in whole
// blocks), so that no transform overwrites an output that a frame of its run has still to
// read.
//
// Template over the flavour's layout; all storage is allocated at construction for
// N = 256 and a ring of 512; configure/reset/clear never allocate.
#pragma once

#include "dsp/AlignedBuffer.h"
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
    // Frames per run at most.
    static constexpr int kMaxRun = 64;
    // R plus one block, rounded up to whole blocks (N is a power of two dividing 512), plus
    // a run rounded up to whole blocks.
    static constexpr int kMaxLineLength = kMaxRingLength + kMaxLength + kMaxLength;

    BlockConvolver()
        : input_(kMaxLength + kMaxRun),
          tail_(kMaxLength),
          line_(kMaxLineLength),
          work_(2 * kMaxLength),
          wideKernel_(kMaxWideKernelDoubles) {}

    // [lock held] New kernel length N, ring length R (1 .. 512) and prepared kernel
    // spectrum (in this layout, alive as long as it is used; an AVX2 build that reads it
    // in its own layout takes a copy here). Positions restart and the buffers are
    // cleared. Returns false, changing nothing, if N has no transform.
    bool configure(int length, int ringLength, const double* kernelSpectrum) {
        const RealFftSize* fft = Layout::kFlavour == Flavour::Paired ? pairedFftForKernel(length)
                                                                     : scalarFftForKernel(length);
        if (fft == nullptr || fft->overlapAdd == nullptr || length > kMaxLength || ringLength < 1 ||
            ringLength > kMaxRingLength || kernelSpectrum == nullptr) {
            return false;
        }
        const bool wide = wide_ && fft->overlapAddWide != nullptr;
        overlapAdd_ = wide ? fft->overlapAddWide : fft->overlapAdd;
        kernel_ = kernelSpectrum;
        if (wide && fft->prepareWideKernel != nullptr) {
            fft->prepareWideKernel(kernelSpectrum, wideKernel_.data());
            kernel_ = wideKernel_.data();
        }
        length_ = length;
        ringLength_ = ringLength;
        lineLength_ = ((ringLength + length - 1) / length + 1) * length +
                      (kMaxRun + length - 1) / length * length;
        reset();
        return true;
    }

    // Positions to their start and buffers cleared.
    void reset() {
        position_ = 0;
        writeIndex_ = 0;
        // The block completed N - 1 frames from now writes at 0 and is read R frames later.
        readIndex_ = (lineLength_ - (length_ - 1 + ringLength_) % lineLength_) % lineLength_;
        clear();
    }
    // Buffers cleared; positions kept.
    void clear() {
        input_.clear();
        tail_.clear();
        line_.clear();
    }

    int length() const { return length_; }
    int ringLength() const { return ringLength_; }

    // The convolver as a hot loop holds it: the input and line views moved to the current
    // value and counts of the values left before the block ends and the line wraps, in
    // registers. (Through the members they would be reloaded after every store of a
    // value.) Take one with cursor(), step it, hand it back with commit().
    class Cursor {
      public:
        // [audio-thread] A run of `count` frames (at most kMaxRun): the caller puts their
        // inputs (rho) at inputs().get(0 .. count - 1), then calls transformRun(count),
        // then output() once for each frame of the run, in order (tau).
        typename Layout::View inputs() const { return input_; }

        void transformRun(Index count) {
            const typename Layout::View blockStart = owner_->input_.view();
            const Index length = owner_->length_;
            const Index filled = length - inputLeft_ + count;  // from the block's start
            Index done = 0;
            for (; filled - done >= length; done += length) {
                owner_->transform(blockStart.from(done));
            }
            if (done > 0) {
                // The block the run has begun moves to the front (fewer than a run's values).
                for (Index j = 0; j < filled - done; ++j) {
                    blockStart.set(j, blockStart.get(done + j));
                }
            }
            input_ = blockStart.from(filled - done);
            inputLeft_ = length - (filled - done);
        }

        Value output() {
            const Value tau = line_.get(0);
            line_ = line_.from(1);
            if (--lineLeft_ == 0) [[unlikely]] {
                line_ = owner_->line_.view();
                lineLeft_ = owner_->lineLength_;
            }
            return tau;
        }

        // [audio-thread] One frame: rho in, tau out.
        Value step(Value rho) {
            input_.set(0, rho);
            transformRun(1);
            return output();
        }

      private:
        friend class BlockConvolver;
        explicit Cursor(BlockConvolver& owner)
            : owner_(&owner),
              input_(owner.input_.view().from(owner.position_)),
              line_(owner.line_.view().from(owner.readIndex_)),
              inputLeft_(owner.length_ - owner.position_),
              lineLeft_(owner.lineLength_ - owner.readIndex_) {}

        BlockConvolver* owner_;
        typename Layout::View input_;
        typename Layout::View line_;
        Index inputLeft_;
        Index lineLeft_;
    };

    Cursor cursor() { return Cursor(*this); }
    void commit(const Cursor& c) {
        position_ = length_ - static_cast<int>(c.inputLeft_);
        readIndex_ = lineLength_ - static_cast<int>(c.lineLeft_);
    }

    // [audio-thread] One frame: rho in, tau out.
    Value step(Value rho) {
        Cursor c = cursor();
        const Value tau = c.step(rho);
        commit(c);
        return tau;
    }

  private:
    // The block whose N inputs `input` holds. Out of line: it runs once per block, and
    // inlined it would crowd the frame loop.
    [[gnu::noinline]] void transform(typename Layout::View input) {
        if (overlapAdd_ == nullptr) return;  // never configured: the envelope stays at zero
        const auto tail = tail_.view();
        const auto line = line_.view();
        const auto work = work_.view();
        if constexpr (Layout::kFlavour == Flavour::Paired) {
            overlapAdd_(input.pairs, kernel_, tail.pairs, line.pairs + 2 * writeIndex_, work.pairs);
        } else {
            overlapAdd_(input.left, kernel_, tail.left, line.left + writeIndex_, work.left);
            overlapAdd_(input.right, kernel_, tail.right, line.right + writeIndex_, work.right);
        }
        writeIndex_ += length_;
        if (writeIndex_ == lineLength_) writeIndex_ = 0;
    }

    typename Layout::Array input_;
    typename Layout::Array tail_;
    typename Layout::Array line_;
    typename Layout::Array work_;
    AlignedBuffer wideKernel_;  // the kernel spectrum as the AVX2 build reads it, if it must
    void (*overlapAdd_)(const double* input, const double* kernelSpectrum, double* tail,
                        double* output, double* work) = nullptr;
    const bool wide_ = wideBuildAvailable();
    const double* kernel_ = nullptr;
    int length_ = 1;
    int ringLength_ = 1;
    int lineLength_ = 2;
    int position_ = 0;
    int writeIndex_ = 0;
    int readIndex_ = 0;
};

}  // namespace tq
