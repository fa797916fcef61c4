#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "dsp/SlidingMaxTree.h"

namespace tq {
namespace {

// Brute-force window maximum of the values currently in the leaves.
double scanLeaves(const SlidingMaxTree& tree) {
    double best = tree.leaf(0);
    for (int i = 1; i < tree.leafCount(); ++i) best = std::max(best, tree.leaf(i));
    return best;
}

// Every inner entry must be the larger of its children, entry 0 the sentinel.
void expectConsistent(const SlidingMaxTree& tree) {
    const double* node = tree.nodes();
    ASSERT_EQ(node[0], SlidingMaxTree::kSentinel);
    for (int j = 1; j < tree.leafCount(); ++j) {
        ASSERT_EQ(node[j], std::max(node[2 * j], node[2 * j + 1])) << "entry " << j;
    }
}

TEST(SlidingMaxTree, ClearLeavesZeroTreeWithSentinel) {
    SlidingMaxTree tree(16);
    EXPECT_EQ(tree.leafCount(), 16);
    EXPECT_EQ(tree.maximum(), 0.0);
    EXPECT_EQ(tree.nodes()[0], 1e10);
    tree.replace(3, 5.0);
    tree.clear();
    EXPECT_EQ(tree.maximum(), 0.0);
    EXPECT_EQ(tree.leaf(3), 0.0);
    expectConsistent(tree);
}

TEST(SlidingMaxTree, ReplaceReturnsTheValueItOverwrites) {
    SlidingMaxTree tree(8);
    EXPECT_EQ(tree.replace(5, 2.5), 0.0);
    EXPECT_EQ(tree.replace(5, 1.0), 2.5);
    EXPECT_EQ(tree.leaf(5), 1.0);
}

TEST(SlidingMaxTree, MatchesBruteForceSlidingWindowForEverySize) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<double> value(1e-5, 3.0);
    for (int n = 1; n <= 512; n *= 2) {
        SlidingMaxTree tree(512);
        tree.setLeafCount(n);
        std::deque<double> window;
        int position = 0;
        for (int step = 0; step < 4 * n + 100; ++step) {
            // Runs of falling values make the old maximum leave the window often.
            const double v = (step % 37 < 10) ? 3.0 - 0.01 * (step % 37) : value(random);
            const double root = (tree.replace(position, v), tree.maximum());
            position = (position + 1) & (n - 1);
            window.push_back(v);
            if (static_cast<int>(window.size()) > n) window.pop_front();
            // Before the window fills the cleared leaves (0) take part as well.
            const double expected = *std::max_element(window.begin(), window.end());
            ASSERT_EQ(root, std::max(expected, 0.0)) << "n " << n << " step " << step;
        }
        expectConsistent(tree);
        EXPECT_EQ(tree.maximum(), scanLeaves(tree));
    }
}

TEST(SlidingMaxTree, EqualValuesAndDecreasingReplacementKeepTheTreeConsistent) {
    SlidingMaxTree tree(64);
    for (int i = 0; i < 64; ++i) tree.replace(i, 1.0);
    EXPECT_EQ(tree.maximum(), 1.0);
    for (int i = 0; i < 64; ++i) {
        tree.replace(i, 0.5);
        expectConsistent(tree);
    }
    EXPECT_EQ(tree.maximum(), 0.5);
}

TEST(SlidingMaxTree, LargestAllowedValueEndsTheWalk) {
    SlidingMaxTree tree(256);
    tree.replace(17, SlidingMaxTree::kLargestValue);
    EXPECT_EQ(tree.maximum(), SlidingMaxTree::kLargestValue);
    EXPECT_EQ(tree.nodes()[0], SlidingMaxTree::kSentinel);
    tree.replace(17, 0.0);
    EXPECT_EQ(tree.maximum(), 0.0);
    expectConsistent(tree);
}

TEST(SlidingMaxTree, SetLeafCountClearsAndChangesTheWindow) {
    SlidingMaxTree tree(512);
    tree.replace(100, 7.0);
    tree.setLeafCount(4);
    EXPECT_EQ(tree.maximum(), 0.0);
    for (int i = 0; i < 4; ++i) tree.replace(i, 1.0 + i);
    EXPECT_EQ(tree.maximum(), 4.0);
    tree.replace(3, 0.0);
    EXPECT_EQ(tree.maximum(), 3.0);
}

}  // namespace
}  // namespace tq
