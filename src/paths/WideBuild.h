// Second builds of the hot loops for processors with AVX2.
//
// On x86-64 the frame loop and the small-block convolutions are compiled twice: for the
// baseline and with AVX2, which encodes the same operations in fewer instructions
// (three-operand forms, broadcasts from memory). Contraction is off for the whole build and
// AVX2 brings no fused multiply-add, so both builds compute every value with the same
// operations in the same order and give the same bits. (A level with FMA would not: the
// vectorizer fuses complex products into multiply-add-subtract instructions even with
// contraction off.) The choice is made when an object is built and followed by a plain
// branch, not by loader-resolved clones, which sanitizer runtimes and tables of function
// addresses do not take well.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define TQ_WIDE_BUILD 1
#else
#define TQ_WIDE_BUILD 0
#endif

namespace tq {

// Whether the AVX2 builds may run here (processor and system both support AVX2).
inline bool wideBuildAvailable() {
#if TQ_WIDE_BUILD
    __builtin_cpu_init();  // idempotent; needed before constructors have run
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace tq
