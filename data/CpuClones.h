#pragma once

// VELMORA_CPU_CLONES before a function (or after a lambda's parameter list)
// compiles it once for the x86-64 baseline and once for AVX2, and picks the
// copy for the processor at load time. The arithmetic is the same in both
// (no fused multiply-adds: the build turns contraction off), so results are
// bit-identical; only the width of the vector loops changes. Clang does not
// clone lambdas, and the fuzzing build needs no speed, so it gets one copy.
// Nor do the sanitizer builds: the copy is chosen by a resolver that runs
// while the program is linked at load time, before ThreadSanitizer's runtime
// is ready, and its instrumented code crashed there.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define VELMORA_CPU_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VELMORA_CPU_CLONES
#endif

// VELMORA_AVX2 before a function compiles it for AVX2 alone: hand-written
// eight-lane loops, called only where CpuClones::hasAvx2() holds. Unlike the
// clones above it needs no resolver at load time, so every GCC and Clang
// build on x86-64 has it.
#if defined(__x86_64__) && defined(__GNUC__)
#define VELMORA_HAS_AVX2_FUNCTIONS 1
#define VELMORA_AVX2 __attribute__((target("avx2")))
namespace CpuClones {
inline bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
} // namespace CpuClones
#else
#define VELMORA_HAS_AVX2_FUNCTIONS 0
#endif
