#pragma once
// The one switch for SIMD code. PLISTABLE_SSE2 is 1 where the compiler targets SSE2 (every x86-64
// processor has it) and the build has not turned SIMD off (-DPLISTABLE_SIMD=OFF, which defines
// PLISTABLE_NO_SIMD); every scanner written with it has a plain loop that gives the same results.
#if defined(__SSE2__) && defined(__x86_64__) && !defined(PLISTABLE_NO_SIMD)
#define PLISTABLE_SSE2 1
#include <emmintrin.h>
#else
#define PLISTABLE_SSE2 0
#endif
