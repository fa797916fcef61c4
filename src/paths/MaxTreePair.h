// The windowed maximum of both channels at once: two SlidingMaxTree layouts (2n values
// per channel, sentinel in entry 0, leaves n .. 2n-1, entry j the larger of its
// children) stored in the flavour's layout and updated together.
//
// The update recomputes every ancestor from the leaf to the root for both lanes with
// one max per level, keeping the running value in a register; it leaves exactly the
// trees SlidingMaxTree::replace leaves, without the walks' data-dependent exits (which
// would differ per channel and mispredict on audio). It cannot run past the root
// whatever the values.
//
// Storage is allocated once for `capacity` leaves; setLeafCount and clear never
// allocate.
#pragma once

#include <cassert>

#include "dsp/SlidingMaxTree.h"
#include "paths/ChannelLayout.h"

namespace tq {

template <typename Layout>
class MaxTreePair {
  public:
    using Value = typename Layout::Value;

    explicit MaxTreePair(int capacity) : nodes_(2 * capacity), capacity_(capacity) {
        setLeafCount(capacity);
    }

    // Changes the window length (a power of two up to the capacity) and clears.
    void setLeafCount(int leafCount) {
        assert(leafCount >= 1 && leafCount <= capacity_ && (leafCount & (leafCount - 1)) == 0);
        leafCount_ = leafCount;
        clear();
    }
    int leafCount() const { return leafCount_; }

    // Every entry 0, the sentinel in entry 0 of both lanes.
    void clear() {
        nodes_.clear();
        nodes_.view().set(0, Value::both(SlidingMaxTree::kSentinel));
    }

    Value maximum() { return nodes_.view().get(1); }
    Value node(int j) { return nodes_.view().get(j); }

    // The trees as a hot loop holds them: node pointer(s) and leaf count in registers.
    // (Through the members they would be reloaded after every store of a node.)
    class Cursor {
      public:
        // Replaces the leaves at `position` of both lanes and returns the values they held.
        Value replace(int position, Value value) const {
            int j = leafCount_ + position;
            const Value old = node_.get(j);
            node_.set(j, value);
            Value v = value;
            while (j > 1) {
                const Value sibling = node_.get(j ^ 1);
                j >>= 1;
                v = max(v, sibling);
                node_.set(j, v);
            }
            return old;
        }
        Value maximum() const { return node_.get(1); }

      private:
        friend class MaxTreePair;
        Cursor(typename Layout::View node, int leafCount) : node_(node), leafCount_(leafCount) {}
        typename Layout::View node_;
        int leafCount_;
    };
    Cursor cursor() { return Cursor(nodes_.view(), leafCount_); }

    // Replaces the leaves at `position` of both lanes and returns the values they held.
    Value replace(int position, Value value) { return cursor().replace(position, value); }

  private:
    typename Layout::Array nodes_;
    int capacity_;
    int leafCount_ = 1;
};

}  // namespace tq
