#pragma once
// Marks a function whose loops the compiler vectorises: on x86-64 with GCC it is
// compiled twice, for AVX2 and for the baseline instruction set, and the loader
// picks the one the processor runs.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define KELVARON_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KELVARON_VECTOR_CLONES
#endif
