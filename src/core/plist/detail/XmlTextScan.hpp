#pragma once

#include <array>
#include <bit>

#include "core/text/detail/Avx2Scans.hpp"
#include "core/text/detail/Simd.hpp"

namespace plistable::detail {

/// Character-data bytes that can be copied as they are: printable ASCII other than '<', '&' and
/// ']', plus tab and line feed. Everything else (markup, references, a possible "]]>", carriage
/// returns, control characters and every byte of a multi-byte character) needs a closer look.
constexpr std::array<bool, 256> plainXmlTextTable()
{
    std::array<bool, 256> table{};
    for (int c = 0x20; c < 0x80; ++c)
        table[c] = c != '<' && c != '&' && c != ']';
    table['\t'] = true;
    table['\n'] = true;
    return table;
}
inline constexpr std::array<bool, 256> plainXmlText = plainXmlTextTable();

/// The first byte of [u, end) that is not plain character data (see plainXmlText), or `end`.
inline const unsigned char* skipPlainXmlText(const unsigned char* u, const unsigned char* end)
{
#if PLISTABLE_SSE2
    // Sixteen bytes at a time: a signed compare with 0x20 takes in the control characters and every
    // byte from 0x80 on; tab and line feed are let out again, '<', '&' and ']' added.
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i less = _mm_set1_epi8('<');
    const __m128i ampersand = _mm_set1_epi8('&');
    const __m128i bracket = _mm_set1_epi8(']');
    for ([[maybe_unused]] bool first = true; end - u >= 16; first = false) {
#if PLISTABLE_AVX2
        // Most runs end within the first sixteen bytes; a longer one goes on 32 bytes a step where
        // the processor has them, its last few bytes again as below.
        if (!first && end - u >= 32 && useAvx2()) {
            u = skipPlainXmlTextAvx2(u, end);
            if (end - u >= 32)
                return u;
            if (end - u < 16)
                break;
        }
#endif
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
        const __m128i allowedControl = _mm_or_si128(_mm_cmpeq_epi8(b, tab), _mm_cmpeq_epi8(b, lineFeed));
        const __m128i control = _mm_andnot_si128(allowedControl, _mm_cmplt_epi8(b, space));
        const __m128i markup =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, less), _mm_cmpeq_epi8(b, ampersand)), _mm_cmpeq_epi8(b, bracket));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, markup)));
        if (mask != 0)
            return u + std::countr_zero(mask);
        u += 16;
    }
#endif
    while (u < end && plainXmlText[*u])
        ++u;
    return u;
}

/// As skipPlainXmlText(), stopping also at the bytes a CSV field is quoted for that plain character
/// data may hold: a line feed, a double quote and `delimiter` (any byte). A run it passes is ASCII
/// that is written into a CSV line as it is.
inline const unsigned char* skipPlainXmlCsvText(const unsigned char* u, const unsigned char* end, char delimiter)
{
#if PLISTABLE_SSE2
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i less = _mm_set1_epi8('<');
    const __m128i ampersand = _mm_set1_epi8('&');
    const __m128i bracket = _mm_set1_epi8(']');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i separator = _mm_set1_epi8(delimiter);
    for (; end - u >= 16; u += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
        // Every control character but tab (the line feed included) and every byte from 0x80 on.
        const __m128i control = _mm_andnot_si128(_mm_cmpeq_epi8(b, tab), _mm_cmplt_epi8(b, space));
        const __m128i markup =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, less), _mm_cmpeq_epi8(b, ampersand)), _mm_cmpeq_epi8(b, bracket));
        const __m128i quoting = _mm_or_si128(_mm_cmpeq_epi8(b, quote), _mm_cmpeq_epi8(b, separator));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(control, markup), quoting)));
        if (mask != 0)
            return u + std::countr_zero(mask);
    }
#endif
    const auto separatorByte = static_cast<unsigned char>(delimiter);
    while (u < end && plainXmlText[*u] && *u != '\n' && *u != '"' && *u != separatorByte)
        ++u;
    return u;
}

/// The length of the UTF-8 sequence at `p` if it is well formed and encodes a character XML
/// allows (no surrogate, U+FFFE or U+FFFF); 0 when it is not, or when the bytes before `end` already
/// show it is not; -1 when it is cut off by `end`.
inline int xmlCharacterLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned char c = p[0];
    int length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length) {
        // Check what is there, so that a bad sequence is refused at once.
        for (std::ptrdiff_t i = 1; i < end - p; ++i)
            if ((p[i] & 0xC0) != 0x80 || (i == 1 && (p[1] < low || p[1] > high)))
                return 0;
        return -1;
    }
    if (p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    if (c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE)
        return 0;
    return length;
}

} // namespace plistable::detail
