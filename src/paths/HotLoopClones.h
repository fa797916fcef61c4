// The hot loops are built twice, for the x86-64 baseline and for processors with AVX2,
// and the loader picks one when the library loads. AVX2 encodes the same operations in
// fewer instructions (three-operand forms, broadcasts from memory). Multiply-add
// contraction is off for the whole build and AVX2 alone brings no fused multiply-add
// instructions, so both versions compute every value with the same operations in the same
// order and give the same bits. (A level that includes FMA would not: the vectorizer fuses
// complex products into multiply-add-subtract instructions even with contraction off.)
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TQ_HOT_LOOP_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TQ_HOT_LOOP_CLONES
#endif
