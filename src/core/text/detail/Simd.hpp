#pragma once
// The one switch for SIMD code. PLISTABLE_SSE2 is 1 where the scanners' 128-bit blocks can be built
// and the build has not turned SIMD off (-DPLISTABLE_SIMD=OFF, which defines PLISTABLE_NO_SIMD):
// on x86-64 with SSE2 (every such processor has it), and on aarch64 with NEON (every such processor
// has it too), where SIMDe's header turns the same SSE2 intrinsics into NEON instructions; without
// that header an aarch64 build has the plain loops. Every scanner written with it has a plain loop
// that gives the same results. PLISTABLE_NEON says the blocks are NEON ones.
// PLISTABLE_AVX2 is 1 where, on top of that, the compiler can build AVX2 kernels (Avx2Scans) for
// an x86-64 processor that has them; whether they run is chosen once at run time (useAvx2()).
#if defined(__SSE2__) && defined(__x86_64__) && !defined(PLISTABLE_NO_SIMD)
#define PLISTABLE_SSE2 1
#define PLISTABLE_NEON 0
#include <emmintrin.h>
#elif defined(__aarch64__) && defined(__ARM_NEON) && !defined(PLISTABLE_NO_SIMD) && __has_include(<simde/x86/sse2.h>)
#define PLISTABLE_SSE2 1
#define PLISTABLE_NEON 1
#ifndef SIMDE_ENABLE_NATIVE_ALIASES
#define SIMDE_ENABLE_NATIVE_ALIASES
#endif
#include <simde/x86/sse2.h>
#else
#define PLISTABLE_SSE2 0
#define PLISTABLE_NEON 0
#endif

#if PLISTABLE_SSE2 && !PLISTABLE_NEON && (defined(__GNUC__) || defined(__clang__))
#define PLISTABLE_AVX2 1
#else
#define PLISTABLE_AVX2 0
#endif

#include <atomic>

namespace plistable::detail {

/// The widest instructions the scanners use: none (a build without SIMD), 128-bit blocks (Sse2:
/// SSE2 on x86-64, NEON on aarch64), or AVX2 (x86-64 only).
enum class SimdLevel : int { Plain = 1, Sse2, Avx2 };

/// The level the scanners use: the widest this build and the processor have, unless the
/// environment variable PLISTABLE_SIMD says `sse2` (then the 128-bit baseline; only x86-64 has a
/// wider level to leave out). Decided on the first call.
SimdLevel chooseSimdLevel() noexcept;

/// For tests and fuzz targets: use `wanted`, or the widest level below it that is there; returns
/// the level now used.
SimdLevel setSimdLevel(SimdLevel wanted) noexcept;

/// The level chosen, 0 before the first choice.
inline std::atomic<int> chosenSimdLevel{0};

inline SimdLevel simdLevel() noexcept
{
    const int level = chosenSimdLevel.load(std::memory_order_relaxed);
    return level != 0 ? static_cast<SimdLevel>(level) : chooseSimdLevel();
}

inline bool useAvx2() noexcept
{
    return PLISTABLE_AVX2 && simdLevel() == SimdLevel::Avx2;
}

} // namespace plistable::detail
