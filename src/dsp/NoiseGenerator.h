// Three-word shift-register pseudo-random generator shared by the dither and the
// calibration noise.
//
// The sequence restarts from the same three seeds at every reseed(), so the dither
// and the calibration noise are reproducible from a suspend. No allocation; every
// member is a plain word owned by the audio thread.
#pragma once

#include <cstdint>

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

  private:
    std::uint32_t s1_ = kSeed1;
    std::uint32_t s2_ = kSeed2;
    std::uint32_t s3_ = kSeed3;
};

}  // namespace tq
