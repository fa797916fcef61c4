// Hands a set of values prepared on one thread to the audio thread at the start of a
// block, without either side waiting: a triple buffer.
//
// There are three slots of Value: the reader's (front), the newest published one
// (ready) and the writer's (back). The writer fills back() and calls publish(), which
// swaps back and ready and marks ready as new. The reader calls adopt() when a block
// starts; if something new is ready, front and ready swap and front() is the newest
// publication. Between swaps each side owns its slot alone, so no slot is ever written
// while it is read, and the values the reader sees never change during its block.
// Only the newest publication counts: two publications before the reader looks are
// adopted once, as the second.
//
// Rules:
// - One writer at a time and one reader at a time; callers serialise each side
//   themselves (the effect: writers under its parameter lock, the reader under its
//   processing lock).
// - publish() and adopt() are single atomic exchanges: they never allocate, lock or
//   wait. The three slots are constructed with the object and live as long as it.
// - back() is a slot the writer had before or the reader gave up, holding whatever it
//   held then: the writer rewrites every field it publishes (or keeps fields that are a
//   pure function of others, as the smoothing kernel of a length is).
//
// Use for any per-block coefficient set, e.g. smoother coefficients read as plain
// (vector) loads:
//   struct Coefficients { alignas(32) double attack[8]; alignas(32) double release[8]; };
//   BlockHandover<Coefficients> coefficients;
//   // setter thread:   fill(coefficients.back()); coefficients.publish();
//   // audio thread:    coefficients.adopt(); const Coefficients& c = coefficients.front();
#pragma once

#include <atomic>

namespace tq {

template <typename Value>
class BlockHandover {
public:
    BlockHandover() = default;
    BlockHandover(const BlockHandover&) = delete;
    BlockHandover& operator=(const BlockHandover&) = delete;

    // [writer] The slot to fill before the next publish().
    Value& back() { return slots_[back_]; }
    // [writer] Makes back() the newest publication; back() is another slot afterwards.
    void publish() { back_ = ready_.exchange(back_ | kNew, std::memory_order_acq_rel) & kIndex; }

    // [reader] Takes the newest publication as front(), if there is one not yet taken.
    // Returns whether front() changed.
    bool adopt() {
        if ((ready_.load(std::memory_order_relaxed) & kNew) == 0) return false;
        front_ = ready_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    // [reader] The values in use; the reader may also change them in place.
    Value& front() { return slots_[front_]; }
    const Value& front() const { return slots_[front_]; }

private:
    static constexpr unsigned kIndex = 3u;
    static constexpr unsigned kNew = 4u;

    Value slots_[3]{};
    unsigned front_ = 0;
    unsigned back_ = 1;
    std::atomic<unsigned> ready_{2};
};

}  // namespace tq
