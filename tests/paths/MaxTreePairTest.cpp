#include <gtest/gtest.h>

#include <random>

#include "paths/MaxTreePair.h"

namespace tq {
namespace {

// Both lanes must hold exactly the trees the specified walks build, entry by entry.
template <typename Layout>
void expectSameTreesAsTheWalks(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(1e-5, 2.0);
    for (int n : {1, 2, 8, 128, 512}) {
        MaxTreePair<Layout> pair(512);
        SlidingMaxTree left(512);
        SlidingMaxTree right(512);
        pair.setLeafCount(n);
        left.setLeafCount(n);
        right.setLeafCount(n);
        for (int step = 0; step < 6000; ++step) {
            const int position = step & (n - 1);
            // Plateaus and falling runs make old maxima leave the window.
            const double l = step % 50 < 5 ? 2.0 - 0.001 * (step % 50) : value(random);
            const double r = step % 70 < 9 ? 1.5 : value(random) * 0.5;
            const auto old = pair.replace(position, typename Layout::Value(l, r));
            ASSERT_EQ(old.left(), left.replace(position, l));
            ASSERT_EQ(old.right(), right.replace(position, r));
            ASSERT_EQ(pair.maximum().left(), left.maximum()) << n << " " << step;
            ASSERT_EQ(pair.maximum().right(), right.maximum()) << n << " " << step;
        }
        for (int j = 0; j < 2 * n; ++j) {
            ASSERT_EQ(pair.node(j).left(), left.nodes()[j]) << n << " " << j;
            ASSERT_EQ(pair.node(j).right(), right.nodes()[j]) << n << " " << j;
        }
    }
}

TEST(MaxTreePair, ScalarLayoutBuildsTheSameTreesAsTheWalks) {
    expectSameTreesAsTheWalks<ScalarLayout>(3);
}

TEST(MaxTreePair, PairedLayoutBuildsTheSameTreesAsTheWalks) {
    expectSameTreesAsTheWalks<PairedLayout>(4);
}

TEST(MaxTreePair, ClearKeepsTheSentinelAndHugeValuesCannotRunPastTheRoot) {
    MaxTreePair<PairedLayout> tree(64);
    tree.replace(5, DoublePair(1e300, 3.0));
    EXPECT_EQ(tree.maximum().left(), 1e300);
    EXPECT_EQ(tree.node(0).left(), SlidingMaxTree::kSentinel);
    tree.clear();
    EXPECT_EQ(tree.maximum().left(), 0.0);
    EXPECT_EQ(tree.maximum().right(), 0.0);
    EXPECT_EQ(tree.node(0).right(), SlidingMaxTree::kSentinel);
    tree.setLeafCount(4);
    EXPECT_EQ(tree.leafCount(), 4);
    tree.replace(3, DoublePair(0.5, 0.25));
    EXPECT_EQ(tree.maximum().right(), 0.25);
}

}  // namespace
}  // namespace tq
