#include <gtest/gtest.h>

#include <cstdint>

#include "dsp/NoiseGenerator.h"

namespace {

using tq::NoiseGenerator;

// The three shift formulas, written out independently of the class.
struct Words {
    std::uint32_t a, b, c;
};

Words stepByHand(Words w) {
    w.a = (w.a << 13) ^ (((w.a >> 6) ^ (w.a >> 15)) & 0x1FFF);
    w.b = (w.b << 20) ^ (((w.b >> 7) ^ (w.b >> 9)) & 0xFFFFF);
    w.c = (w.c << 17) ^ (((w.c >> 8) ^ (w.c >> 14)) & 0x1FFFF);
    return w;
}

TEST(NoiseGeneratorSequence, FirstWordFromSeedsWorkedOutByHand) {
    // 592 << 13 = 4849664; (592 >> 6) ^ (592 >> 15) = 9 ^ 0 = 9.
    // 153768 << 20 wraps to 2323644416 (153768 mod 4096 = 2216); (1201 ^ 300) & 0xFFFFF = 1437.
    // 1526 << 17 = 200015872; (5 ^ 0) & 0x1FFFF = 5.
    const std::uint32_t s1 = 4849664u ^ 9u;
    const std::uint32_t s2 = 2323644416u ^ 1437u;
    const std::uint32_t s3 = 200015872u ^ 5u;
    NoiseGenerator generator;
    EXPECT_EQ(generator.nextWord(), s1 ^ s2 ^ s3);
    EXPECT_EQ(generator.word1(), s1);
    EXPECT_EQ(generator.word2(), s2);
    EXPECT_EQ(generator.word3(), s3);
}

TEST(NoiseGeneratorSequence, FollowsTheShiftFormulasForManySteps) {
    NoiseGenerator generator;
    Words words{592, 153768, 1526};
    for (int i = 0; i < 100000; ++i) {
        words = stepByHand(words);
        ASSERT_EQ(generator.nextWord(), words.a ^ words.b ^ words.c) << "step " << i;
    }
}

TEST(NoiseGeneratorSequence, UniformIsTheScaledWordAndStaysInsideUnitRange) {
    NoiseGenerator generator;
    Words words{592, 153768, 1526};
    double sum = 0.0;
    const int count = 200000;
    for (int i = 0; i < count; ++i) {
        words = stepByHand(words);
        const std::uint32_t r = words.a ^ words.b ^ words.c;
        const double u = generator.nextUniform();
        ASSERT_EQ(u, 2.0 * static_cast<double>(r) * 2.3283064365e-10 - 1.0);
        ASSERT_GE(u, -1.0);
        ASSERT_LT(u, 1.0);
        sum += u;
    }
    EXPECT_NEAR(sum / count, 0.0, 0.01);
}

TEST(NoiseGeneratorSequence, ReseedRestartsTheSameSequence) {
    NoiseGenerator generator;
    std::uint32_t first[8];
    for (auto& w : first) w = generator.nextWord();
    for (int i = 0; i < 1000; ++i) generator.nextWord();
    generator.reseed();
    EXPECT_EQ(generator.word1(), 592u);
    EXPECT_EQ(generator.word2(), 153768u);
    EXPECT_EQ(generator.word3(), 1526u);
    for (auto w : first) EXPECT_EQ(generator.nextWord(), w);
}

TEST(NoiseGeneratorSequence, LargestWordMapsBelowPlusOne) {
    EXPECT_LT(2.0 * 4294967295.0 * NoiseGenerator::kWordScale - 1.0, 1.0);
    EXPECT_EQ(2.0 * 0.0 * NoiseGenerator::kWordScale - 1.0, -1.0);
}

// 64 steps skipped at once land where 64 single steps land, from any state.
TEST(NoiseGeneratorSkip, SkippedAheadEqualsSixtyFourSteps) {
    NoiseGenerator generator;
    for (int trial = 0; trial < 200; ++trial) {
        const NoiseGenerator ahead = generator.skippedAhead();
        for (int i = 0; i < 64; ++i) generator.nextWord();
        ASSERT_EQ(ahead.word1(), generator.word1()) << trial;
        ASSERT_EQ(ahead.word2(), generator.word2()) << trial;
        ASSERT_EQ(ahead.word3(), generator.word3()) << trial;
        for (int i = 0; i < trial % 7; ++i) generator.nextWord();  // vary the phase
    }
}

// A run gives the next 256 words, word 64 j + i in lane j of step i, and leaves the
// generator where 256 single steps leave it; runs follow each other seamlessly.
TEST(NoiseGeneratorSkip, RunMakesTheSameWordsAsSingleSteps) {
    NoiseGenerator generator;
    NoiseGenerator reference;
    for (int run = 0; run < 5; ++run) {
        std::uint32_t expected[tq::NoiseRun::kWords];
        for (auto& word : expected) word = reference.nextWord();
        tq::NoiseRun noiseRun = tq::NoiseRun::startingAt(generator);
        alignas(16) std::uint32_t row[4];
        for (int i = 0; i < tq::NoiseRun::kStretch; ++i) {
            noiseRun.step(row);
            for (int j = 0; j < 4; ++j) {
                ASSERT_EQ(row[j], expected[64 * j + i]) << run << " " << i << " " << j;
            }
        }
        noiseRun.finish(generator);
        EXPECT_EQ(generator.word1(), reference.word1());
        EXPECT_EQ(generator.word2(), reference.word2());
        EXPECT_EQ(generator.word3(), reference.word3());
        reference.nextWord();  // the next run starts one word later
        generator.nextWord();
    }
}

}  // namespace
