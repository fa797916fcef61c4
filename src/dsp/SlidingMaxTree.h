// Running maximum of the last n values (n a power of two) in O(log n) per value.
//
// The tree is an array of 2n doubles: entry 0 holds a sentinel larger than any value
// the tree may hold, entries n .. 2n-1 are the leaves, and entry j (1 <= j < n) holds
// the larger of its two children, so entry 1 is the window maximum. An update walks
// upwards only while the ancestor's value can change; the sentinel is the root's
// sibling and ends every walk. Values inserted must stay below the sentinel, otherwise
// the walk would run past the root: callers clamp them (see kLargestValue).
//
// The limiter's hot loop uses SlidingMaximumPair (paths/), which gives the same
// window maxima in constant time per value; this tree is its reference.
//
// Storage is allocated once for `capacity` leaves; setLeafCount and clear never
// allocate.
#pragma once

#include <cassert>

#include "dsp/AlignedBuffer.h"

namespace tq {

class SlidingMaxTree {
  public:
    static constexpr double kSentinel = 1e10;
    // The largest value a caller may insert; anything larger must be clamped first.
    static constexpr double kLargestValue = 1e9;

    explicit SlidingMaxTree(int capacity)
        : nodes_(2 * static_cast<std::size_t>(capacity)), capacity_(capacity) {
        setLeafCount(capacity);
    }

    // Changes the window length (a power of two up to the capacity) and clears.
    void setLeafCount(int leafCount) {
        assert(leafCount >= 1 && leafCount <= capacity_ && (leafCount & (leafCount - 1)) == 0);
        leafCount_ = leafCount;
        clear();
    }
    int leafCount() const { return leafCount_; }

    // Every entry 0, the sentinel in entry 0.
    void clear() {
        nodes_.clear();
        nodes_[0] = kSentinel;
    }

    double maximum() const { return nodes_[1]; }
    double leaf(int position) const {
        return nodes_[static_cast<std::size_t>(leafCount_ + position)];
    }
    const double* nodes() const { return nodes_.data(); }

    // Replaces the leaf at `position` (0 .. leafCount-1) by `value` (< kSentinel) and
    // returns the value it held.
    double replace(int position, double value) {
        double* const node = nodes_.data();
        int j = leafCount_ + position;
        const double old = node[j];
        node[j] = value;
        if (value > old) {
            // The new value can only raise ancestors, and only up to the first one
            // whose other child is at least as large.
            while (value > node[j ^ 1]) {
                j >>= 1;
                node[j] = value;
            }
        } else {
            // The old value may have been the maximum of some ancestors: recompute
            // them while the removed value was larger than the sibling.
            while (old > node[j ^ 1]) {
                j >>= 1;
                const double a = node[2 * j];
                const double b = node[2 * j + 1];
                node[j] = a > b ? a : b;
            }
        }
        return old;
    }

  private:
    AlignedBuffer nodes_;
    int capacity_;
    int leafCount_ = 1;
};

}  // namespace tq
