#include <gtest/gtest.h>

#include <random>

#include "dsp/SlidingMaxTree.h"
#include "paths/SlidingMaximumPair.h"

namespace tq {
namespace {

// Both lanes against two SlidingMaxTrees driven the same way: every window length,
// plateaus and falling runs (old maxima leave the window), clears at arbitrary positions,
// length changes, blocks of calls through a cursor.
template <typename Layout>
void expectTheTreesMaxima(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(1e-5, 2.0);
    SlidingMaximumPair<Layout> window(512);
    SlidingMaxTree left(512);
    SlidingMaxTree right(512);
    for (int n : {1, 2, 8, 64, 128, 512, 16}) {
        window.setLength(n);
        left.setLeafCount(n);
        right.setLeafCount(n);
        ASSERT_EQ(window.length(), n);
        int position = static_cast<int>(random() % static_cast<unsigned>(n));  // any start
        for (int step = 0; step < 5000;) {
            if (random() % 97 == 0) {
                window.clear();
                left.clear();
                right.clear();
            }
            auto cursor = window.cursor();
            const int block = 1 + static_cast<int>(random() % 300);
            for (int i = 0; i < block; ++i, ++step) {
                const double l = step % 50 < 5 ? 2.0 - 0.001 * (step % 50) : value(random);
                const double r = step % 70 < 9 ? 1.5 : value(random) * 0.5;
                const auto old = cursor.replace(position, typename Layout::Value(l, r));
                ASSERT_EQ(old.left(), left.replace(position, l)) << n << " " << step;
                ASSERT_EQ(old.right(), right.replace(position, r)) << n << " " << step;
                ASSERT_EQ(cursor.maximum().left(), left.maximum()) << n << " " << step;
                ASSERT_EQ(cursor.maximum().right(), right.maximum()) << n << " " << step;
                position = (position + 1) & (n - 1);
            }
            window.commit(cursor);
            ASSERT_EQ(window.maximum().left(), left.maximum());
        }
    }
}

TEST(SlidingMaximumPair, ScalarLayoutGivesTheTreesMaxima) { expectTheTreesMaxima<ScalarLayout>(3); }

TEST(SlidingMaximumPair, PairedLayoutGivesTheTreesMaxima) { expectTheTreesMaxima<PairedLayout>(4); }

TEST(SlidingMaximumPair, ClearedWindowHoldsZerosUntilRefilled) {
    SlidingMaximumPair<PairedLayout> window(8);
    for (int i = 0; i < 8; ++i) window.replace(i, DoublePair(3.0, 4.0));
    window.clear();
    EXPECT_EQ(window.maximum().left(), 0.0);
    // A clear mid-block: the old values must not come back when the block completes.
    EXPECT_EQ(window.replace(0, DoublePair(0.5, 0.25)).left(), 0.0);
    for (int i = 1; i < 8; ++i) window.replace(i, DoublePair(0.1, 0.1));
    EXPECT_EQ(window.maximum().left(), 0.5);
    EXPECT_EQ(window.replace(0, DoublePair(0.2, 0.2)).right(), 0.25);
    EXPECT_EQ(window.maximum().left(), 0.2);
    EXPECT_EQ(window.maximum().right(), 0.2);
}

}  // namespace
}  // namespace tq
