#pragma once
// Where the machine has them, the engine's element-wise loops also get a build with 256-bit
// vectors, chosen at run time; element-wise arithmetic gives the same values either way.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define AEROSOL_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define AEROSOL_WIDE_VECTORS
#endif
