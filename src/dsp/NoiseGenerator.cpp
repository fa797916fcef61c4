#include "dsp/NoiseGenerator.h"

#include <array>

namespace tq {

namespace {

struct WordStep {
    int left;
    int firstRight;
    int secondRight;
    std::uint32_t mask;
};

// The steps of nextWord(), word by word.
constexpr WordStep kSteps[3] = {{13, 6, 15, 0x1FFFu}, {20, 7, 9, 0xFFFFFu}, {17, 8, 14, 0x1FFFFu}};
constexpr int kSkip = NoiseRun::kStretch;

constexpr std::uint32_t step(std::uint32_t s, const WordStep& w) {
    return (s << w.left) ^ (((s >> w.firstRight) ^ (s >> w.secondRight)) & w.mask);
}

// The 64-step bit matrix of one word as eight tables of sixteen entries, one per group of
// four state bits: the state 64 steps on is the XOR of the entries its nibbles select.
using SkipTable = std::array<std::array<std::uint32_t, 16>, 8>;

constexpr SkipTable makeSkipTable(const WordStep& w) {
    std::array<std::uint32_t, 32> columns{};
    for (int bit = 0; bit < 32; ++bit) {
        std::uint32_t s = std::uint32_t{1} << bit;
        for (int i = 0; i < kSkip; ++i) s = step(s, w);
        columns[static_cast<std::size_t>(bit)] = s;
    }
    SkipTable table{};
    for (std::size_t nibble = 0; nibble < 8; ++nibble) {
        for (std::size_t value = 0; value < 16; ++value) {
            std::uint32_t sum = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                if ((value >> i) & 1u) sum ^= columns[4 * nibble + i];
            }
            table[nibble][value] = sum;
        }
    }
    return table;
}

constexpr SkipTable kSkipTables[3] = {makeSkipTable(kSteps[0]), makeSkipTable(kSteps[1]),
                                      makeSkipTable(kSteps[2])};

std::uint32_t skip(std::uint32_t s, const SkipTable& table) {
    std::uint32_t result = 0;
    for (std::size_t nibble = 0; nibble < 8; ++nibble) {
        result ^= table[nibble][(s >> (4 * nibble)) & 15u];
    }
    return result;
}

}  // namespace

NoiseGenerator NoiseGenerator::skippedAhead() const {
    NoiseGenerator ahead;
    ahead.s1_ = skip(s1_, kSkipTables[0]);
    ahead.s2_ = skip(s2_, kSkipTables[1]);
    ahead.s3_ = skip(s3_, kSkipTables[2]);
    return ahead;
}

NoiseRun NoiseRun::startingAt(const NoiseGenerator& generator) {
    std::array<NoiseGenerator, 4> starts{generator};
    for (std::size_t j = 1; j < 4; ++j) starts[j] = starts[j - 1].skippedAhead();
    NoiseRun run;
#if defined(__SSE2__)
    const auto lanes = [&](std::uint32_t NoiseGenerator::*word) {
        return _mm_set_epi32(static_cast<int>(starts[3].*word), static_cast<int>(starts[2].*word),
                             static_cast<int>(starts[1].*word), static_cast<int>(starts[0].*word));
    };
    run.lanes_[0] = lanes(&NoiseGenerator::s1_);
    run.lanes_[1] = lanes(&NoiseGenerator::s2_);
    run.lanes_[2] = lanes(&NoiseGenerator::s3_);
#else
    run.stretches_ = starts;
#endif
    return run;
}

}  // namespace tq
