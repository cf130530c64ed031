#include "core/text/detail/Simd.hpp"

#include <cstdlib>
#include <string_view>

namespace plistable::detail {
namespace {

SimdLevel widestLevel() noexcept
{
#if PLISTABLE_AVX2
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? SimdLevel::Avx2 : SimdLevel::Sse2;
#elif PLISTABLE_SSE2
    return SimdLevel::Sse2;
#else
    return SimdLevel::Plain;
#endif
}

} // namespace

SimdLevel chooseSimdLevel() noexcept
{
    SimdLevel level = widestLevel();
    const char* asked = std::getenv("PLISTABLE_SIMD");
    if (asked != nullptr && std::string_view(asked) == "sse2" && level > SimdLevel::Sse2)
        level = SimdLevel::Sse2;
    chosenSimdLevel.store(static_cast<int>(level), std::memory_order_relaxed);
    return level;
}

SimdLevel setSimdLevel(SimdLevel wanted) noexcept
{
    const SimdLevel level = wanted < widestLevel() ? wanted : widestLevel();
    // Only the plain build runs without SSE2: its loops are compiled in, the others are not.
    const SimdLevel used = level < SimdLevel::Sse2 && PLISTABLE_SSE2 ? SimdLevel::Sse2 : level;
    chosenSimdLevel.store(static_cast<int>(used), std::memory_order_relaxed);
    return used;
}

} // namespace plistable::detail
