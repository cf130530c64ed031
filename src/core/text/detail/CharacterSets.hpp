#pragma once

#include "core/text/detail/Simd.hpp"

namespace plistable::detail {

// The three character sets the readers and the writer share, exactly:
//   newline:    U+000A..U+000D, U+0085, U+2028, U+2029 (so a vertical tab and a form feed end lines)
//   whitespace: U+0009 and the space separators (general category Zs)
//   whitespace-and-newline: their union

constexpr bool isNewline(char16_t c) noexcept
{
    return (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

#if PLISTABLE_SSE2
// isNewline() for eight UTF-16 units at once: each lane 0xFFFF where the unit is a newline, else 0.
// U+000A..U+000D as unsigned (c - 0x0A) <= 3, U+0085, and U+2028/U+2029 as (c & ~1) == 0x2028.
inline __m128i newlineLanes(__m128i units) noexcept
{
    const __m128i breakOffset = _mm_subs_epu16(_mm_sub_epi16(units, _mm_set1_epi16(0x000A)), _mm_set1_epi16(3));
    __m128i newline = _mm_cmpeq_epi16(breakOffset, _mm_setzero_si128());
    newline = _mm_or_si128(newline, _mm_cmpeq_epi16(units, _mm_set1_epi16(0x0085)));
    return _mm_or_si128(newline, _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFFFE))),
                                                 _mm_set1_epi16(0x2028)));
}
#endif

constexpr bool isWhitespace(char16_t c) noexcept
{
    if (c < 0x00A0)
        return c == 0x0020 || c == 0x0009;
    return c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F
           || c == 0x3000;
}

constexpr bool isWhitespaceOrNewline(char16_t c) noexcept
{
    return isWhitespace(c) || isNewline(c);
}

} // namespace plistable::detail
