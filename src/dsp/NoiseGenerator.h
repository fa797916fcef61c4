// Three-word shift-register pseudo-random generator shared by the dither and the
// calibration noise.
//
// The sequence restarts from the same three seeds at every reseed(), so the dither
// and the calibration noise are reproducible from a suspend. No allocation; every
// member is a plain word owned by the audio thread.
#pragma once

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tq {

class NoiseGenerator {
  public:
    static constexpr std::uint32_t kSeed1 = 592;
    static constexpr std::uint32_t kSeed2 = 153768;
    static constexpr std::uint32_t kSeed3 = 1526;
    // Slightly below 2^-32, so the largest word still maps below +1.
    static constexpr double kWordScale = 2.3283064365e-10;

    // [audio-thread, lock held] Back to the three seeds.
    void reseed() {
        s1_ = kSeed1;
        s2_ = kSeed2;
        s3_ = kSeed3;
    }

    // [audio-thread, lock held] Advances all three words once and returns their XOR.
    // Each step is s <- (s << a) ^ (((s >> b) ^ (s >> c)) & mask); logical shifts
    // distribute over XOR, so (s >> b) ^ (s >> c) is computed as (s ^ (s >> (c - b))) >> b,
    // one shift fewer per word.
    std::uint32_t nextWord() {
        s1_ = (s1_ << 13) ^ (((s1_ ^ (s1_ >> 9)) >> 6) & 0x1FFFu);
        s2_ = (s2_ << 20) ^ (((s2_ ^ (s2_ >> 2)) >> 7) & 0xFFFFFu);
        s3_ = (s3_ << 17) ^ (((s3_ ^ (s3_ >> 6)) >> 8) & 0x1FFFFu);
        return s1_ ^ s2_ ^ s3_;
    }

    // [audio-thread, lock held] One step mapped to -1 .. +1.
    double nextUniform() { return 2.0 * static_cast<double>(nextWord()) * kWordScale - 1.0; }

    std::uint32_t word1() const { return s1_; }
    std::uint32_t word2() const { return s2_; }
    std::uint32_t word3() const { return s3_; }

    // The three words after 64 more steps, without taking them (NoiseRun).
    NoiseGenerator skippedAhead() const;

  private:
    friend class NoiseRun;
    std::uint32_t s1_ = kSeed1;
    std::uint32_t s2_ = kSeed2;
    std::uint32_t s3_ = kSeed3;
};

// The next 256 words of a generator, made as four stretches of 64 side by side.
//
// Each word's step is linear over its bits (shifts, masks and XOR only), so 64 steps are
// one fixed bit matrix, and the states where the stretches begin are found without
// stepping through them (NoiseGenerator::skippedAhead). Each step() then advances the four
// stretches by one word at once, one per lane of an SSE2 register: its lane j is word
// 64 j + i of the run after i earlier steps. The words are exactly those of nextWord(),
// only in a different order of making.
class NoiseRun {
  public:
    static constexpr int kStretch = 64;
    static constexpr int kWords = 4 * kStretch;

    // [audio-thread] A run starting at the generator's current state. (A value, so a hot
    // loop can keep it in registers.)
    static NoiseRun startingAt(const NoiseGenerator& generator);

    // [audio-thread] The next word of each stretch into row[0..3] (16-byte aligned).
    [[gnu::always_inline]] void step(std::uint32_t* row) {
#if defined(__SSE2__)
        lanes_[0] = stepLanes<13, 6, 15, 0x1FFFu>(lanes_[0]);
        lanes_[1] = stepLanes<20, 7, 9, 0xFFFFFu>(lanes_[1]);
        lanes_[2] = stepLanes<17, 8, 14, 0x1FFFFu>(lanes_[2]);
        _mm_store_si128(reinterpret_cast<__m128i*>(row),
                        _mm_xor_si128(_mm_xor_si128(lanes_[0], lanes_[1]), lanes_[2]));
#else
        for (int j = 0; j < 4; ++j) row[j] = stretches_[static_cast<std::size_t>(j)].nextWord();
#endif
    }

    // [audio-thread] After kStretch steps: the generator 256 words on, where the last
    // stretch ended.
    void finish(NoiseGenerator& generator) const {
#if defined(__SSE2__)
        generator.s1_ = lastLane(lanes_[0]);
        generator.s2_ = lastLane(lanes_[1]);
        generator.s3_ = lastLane(lanes_[2]);
#else
        generator = stretches_[3];
#endif
    }

  private:
#if defined(__SSE2__)
    // One step of four lanes of one word; (s >> b) ^ (s >> c) as (s ^ (s >> (c - b))) >> b.
    template <int Left, int FirstRight, int SecondRight, std::uint32_t Mask>
    [[gnu::always_inline]] static __m128i stepLanes(__m128i s) {
        __m128i t = _mm_xor_si128(s, _mm_srli_epi32(s, SecondRight - FirstRight));
        t = _mm_and_si128(_mm_srli_epi32(t, FirstRight), _mm_set1_epi32(static_cast<int>(Mask)));
        return _mm_xor_si128(_mm_slli_epi32(s, Left), t);
    }
    static std::uint32_t lastLane(__m128i v) {
        return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 3)));
    }
    __m128i lanes_[3]{};  // word 1, 2, 3 of the four stretches
#else
    std::array<NoiseGenerator, 4> stretches_;
#endif
};

}  // namespace tq
