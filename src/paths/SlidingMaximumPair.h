// The running maximum of the last n values (n a power of two) of both channels at once,
// in constant time per value (van Herk / Gil-Werman).
//
// The positions 0 .. n-1 are visited in turn, so they cut the stream into blocks of n
// values. The window ending at position p consists of positions p+1 .. n-1 of the block
// before and positions 0 .. p of the current one; its maximum is the larger of
//   suffix[p+1], the maximum of the previous block from position p+1 on, and
//   prefix,      the maximum of the current block so far.
// Whenever position 0 comes round the block just completed is in the ring, and one
// backward pass turns it into the suffix maxima. Each value thus costs two max
// operations, plus one more on average for the pass, instead of a walk up a tree.
//
// The maxima are exactly those of SlidingMaxTree (max is exact), including the zeros a
// cleared window starts from; values must not be negative (the suffix past the last
// position, and a cleared prefix, are 0). The caller advances the position by one per
// value; a clear() (also by setLength) may fall at any position.
//
// Storage is allocated once for `capacity` values; setLength and clear never allocate.
#pragma once

#include <cassert>

#include "paths/ChannelLayout.h"

namespace tq {

template <typename Layout>
class SlidingMaximumPair {
  public:
    using Value = typename Layout::Value;

    explicit SlidingMaximumPair(int capacity)
        : ring_(capacity), suffix_(capacity + 1), capacity_(capacity) {
        setLength(capacity);
    }

    // Changes the window length (a power of two up to the capacity) and clears.
    void setLength(int length) {
        assert(length >= 1 && length <= capacity_ && (length & (length - 1)) == 0);
        length_ = length;
        clear();
    }
    int length() const { return length_; }

    // Every value in the window 0.
    void clear() {
        ring_.clear();
        suffix_.clear();
        prefix_ = Value::both(0.0);
        maximum_ = Value::both(0.0);
    }

    // The window maximum after the last replace().
    Value maximum() const { return maximum_; }

    // The window as a hot loop holds it: pointers, length and running values in
    // registers. (Through the members they would be reloaded after every store.) Take one
    // with cursor(), use it for a block, hand it back with commit().
    class Cursor {
      public:
        // Puts `value` at `position` (one after the previous call's, modulo the length)
        // and returns the value it replaces, the one that leaves the window.
        Value replace(Index position, Value value) {
            if (position == 0) [[unlikely]] {
                // The ring holds the block just completed: its suffix maxima, from the end.
                // (The length is a power of two, 8 or more where the engine uses it, so
                // the unrolled loop has no remainder there.)
                Value running = Value::both(0.0);
#pragma GCC unroll 8
                for (Index j = length_ - 1; j >= 0; --j) {
                    running = max(running, ring_.get(j));
                    suffix_.set(j, running);
                }
                prefix_ = Value::both(0.0);
            }
            const Value old = ring_.get(position);
            ring_.set(position, value);
            prefix_ = max(prefix_, value);
            maximum_ = max(suffix_.get(position + 1), prefix_);
            return old;
        }
        Value maximum() const { return maximum_; }

      private:
        friend class SlidingMaximumPair;
        explicit Cursor(SlidingMaximumPair& owner)
            : ring_(owner.ring_.view()),
              suffix_(owner.suffix_.view()),
              length_(owner.length_),
              prefix_(owner.prefix_),
              maximum_(owner.maximum_) {}

        typename Layout::View ring_;
        typename Layout::View suffix_;
        Index length_;
        Value prefix_;
        Value maximum_;
    };

    Cursor cursor() { return Cursor(*this); }
    void commit(const Cursor& c) {
        prefix_ = c.prefix_;
        maximum_ = c.maximum_;
    }

    // Puts `value` at `position` and returns the value it replaces.
    Value replace(int position, Value value) {
        Cursor c = cursor();
        const Value old = c.replace(position, value);
        commit(c);
        return old;
    }

  private:
    typename Layout::Array ring_;    // the values, by position
    typename Layout::Array suffix_;  // maxima of the previous block from each position on
    int capacity_;
    int length_ = 1;
    Value prefix_;   // maximum of the current block so far
    Value maximum_;  // window maximum after the last replace
};

}  // namespace tq
