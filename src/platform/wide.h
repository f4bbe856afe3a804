// 256-bit vector code beside the plain code. Functions marked WIDE are compiled for
// processors with AVX2 and the bit-manipulation instructions that came with it (lane masks
// are walked bit by bit: clearing the lowest set bit and counting zeros are one instruction
// each); their callers ask the processor before they run them.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSIVANE_WIDE 1
#define WIDE __attribute__((target("avx2,bmi,bmi2,lzcnt")))
// The same with 512-bit vectors and the conflict detection that came with them: sixteen lanes
// where WIDE has eight, for the few loops that gain from them.
#define WIDE16 __attribute__((target("avx2,bmi,bmi2,lzcnt,avx512f,avx512cd")))
#else
#define TESSIVANE_WIDE 0
#endif

namespace tessivane::platform {

// Whether this processor runs WIDE functions.
inline bool processorIsWide() {
#if TESSIVANE_WIDE
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("lzcnt");
#else
    return false;
#endif
}

// Whether this processor runs WIDE16 functions.
inline bool processorIsWide16() {
#if TESSIVANE_WIDE
    return processorIsWide() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512cd");
#else
    return false;
#endif
}

#if TESSIVANE_WIDE
// The lanes of a byte mask, one bit per lane, as a vector mask.
WIDE inline __m256i laneMask(unsigned bits) {
    const __m256i lanes = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), lanes),
                              lanes);
}

// One bit per lane whose 32 bits are all set.
WIDE inline unsigned laneBits(__m256i mask) {
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(mask)));
}
#endif

} // namespace tessivane::platform
