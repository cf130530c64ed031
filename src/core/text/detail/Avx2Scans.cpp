#include "core/text/detail/Avx2Scans.hpp"

#if PLISTABLE_AVX2
#include <immintrin.h>

// Everything here is compiled for AVX2 through the target attribute, function by function; the
// helpers have internal linkage, so no copy built for AVX2 can stand in for a shared inline function.
#define PLISTABLE_AVX2_TARGET __attribute__((target("avx2")))

namespace plistable::detail {
namespace {

PLISTABLE_AVX2_TARGET inline __m256i load(const void* p)
{
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

PLISTABLE_AVX2_TARGET inline std::uint32_t bits(__m256i lanes)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes));
}

// 0xFF in each lane holding 0A..0D.
PLISTABLE_AVX2_TARGET inline __m256i breakLanes(__m256i bytes)
{
    return _mm256_cmpeq_epi8(_mm256_subs_epu8(_mm256_sub_epi8(bytes, _mm256_set1_epi8(0x0A)), _mm256_set1_epi8(3)),
                             _mm256_setzero_si256());
}

// The sum of the byte lanes.
PLISTABLE_AVX2_TARGET inline std::size_t sumLanes(__m256i lanes)
{
    const __m256i sums = _mm256_sad_epu8(lanes, _mm256_setzero_si256());
    const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    return static_cast<std::size_t>(_mm_cvtsi128_si64(half)) + static_cast<std::size_t>(_mm_extract_epi64(half, 1));
}

// Lanes that are 0 or 0xFF are counted in byte lanes (subtracting -1) for at most 255 blocks at a
// time, then summed.
constexpr std::size_t laneLimit = 255;

} // namespace

PLISTABLE_AVX2_TARGET std::uint64_t csvEndTextMaskAvx2(const char* block, char separator) noexcept
{
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i separators = _mm256_set1_epi8(separator);
    std::uint64_t mask = 0;
    for (int half = 0; half < 2; ++half) {
        const __m256i bytes = load(block + 32 * half);
        const __m256i hit = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(bytes, quote), _mm256_cmpeq_epi8(bytes, separators)), breakLanes(bytes));
        mask |= static_cast<std::uint64_t>(bits(hit)) << (32 * half);
    }
    return mask;
}

PLISTABLE_AVX2_TARGET std::size_t countByteAvx2(const char* text, std::size_t blocks, char byte) noexcept
{
    const __m256i wanted = _mm256_set1_epi8(byte);
    std::size_t count = 0;
    for (std::size_t block = 0; block < blocks;) {
        const std::size_t stop = block + (blocks - block < laneLimit ? blocks - block : laneLimit);
        __m256i lanes = _mm256_setzero_si256();
        for (; block < stop; ++block)
            lanes = _mm256_sub_epi8(lanes, _mm256_cmpeq_epi8(load(text + 32 * block), wanted));
        count += sumLanes(lanes);
    }
    return count;
}

PLISTABLE_AVX2_TARGET CsvByteCounts countCsvBytesAvx2(const char* text, std::size_t blocks) noexcept
{
    CsvByteCounts counts;
    __m256i last = _mm256_setzero_si256();
    for (std::size_t block = 0; block < blocks;) {
        const std::size_t stop = block + (blocks - block < laneLimit ? blocks - block : laneLimit);
        __m256i lines = _mm256_setzero_si256();
        __m256i continuations = _mm256_setzero_si256();
        __m256i longLeads = _mm256_setzero_si256();
        for (; block < stop; ++block) {
            const __m256i bytes = load(text + 32 * block);
            // Each byte's predecessor: the last byte of the block before, then this block's first 31.
            const __m256i previous = _mm256_alignr_epi8(bytes, _mm256_permute2x128_si256(last, bytes, 0x21), 15);
            last = bytes;
            const __m256i crlf = _mm256_and_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(0x0A)),
                                                  _mm256_cmpeq_epi8(previous, _mm256_set1_epi8(0x0D)));
            lines = _mm256_sub_epi8(lines, _mm256_andnot_si256(crlf, breakLanes(bytes)));
            // 0x80..0xBF as signed bytes are below -64; 0xF0..0xFF are those equal to their max with 0xF0.
            continuations = _mm256_sub_epi8(continuations, _mm256_cmpgt_epi8(_mm256_set1_epi8(-64), bytes));
            longLeads = _mm256_sub_epi8(
                longLeads,
                _mm256_cmpeq_epi8(_mm256_max_epu8(bytes, _mm256_set1_epi8(static_cast<char>(0xF0))), bytes));
        }
        counts.lines += sumLanes(lines);
        counts.continuations += sumLanes(continuations);
        counts.longLeads += sumLanes(longLeads);
    }
    return counts;
}

PLISTABLE_AVX2_TARGET const unsigned char* skipPlainXmlTextAvx2(const unsigned char* u,
                                                                const unsigned char* end) noexcept
{
    // As the SSE2 loop: a signed compare with 0x20 takes in the control characters and every byte
    // from 0x80 on; tab and line feed are let out again, '<', '&' and ']' added.
    const __m256i space = _mm256_set1_epi8(0x20);
    const __m256i tab = _mm256_set1_epi8('\t');
    const __m256i lineFeed = _mm256_set1_epi8('\n');
    const __m256i less = _mm256_set1_epi8('<');
    const __m256i ampersand = _mm256_set1_epi8('&');
    const __m256i bracket = _mm256_set1_epi8(']');
    while (end - u >= 32) {
        const __m256i b = load(u);
        const __m256i allowedControl = _mm256_or_si256(_mm256_cmpeq_epi8(b, tab), _mm256_cmpeq_epi8(b, lineFeed));
        const __m256i control = _mm256_andnot_si256(allowedControl, _mm256_cmpgt_epi8(space, b));
        const __m256i markup = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(b, less), _mm256_cmpeq_epi8(b, ampersand)),
                                               _mm256_cmpeq_epi8(b, bracket));
        if (const std::uint32_t mask = bits(_mm256_or_si256(control, markup)))
            return u + __builtin_ctz(mask);
        u += 32;
    }
    return u;
}

PLISTABLE_AVX2_TARGET const unsigned char* skipPlainCsvAsciiAvx2(const unsigned char* u, const unsigned char* end,
                                                                 char delimiter) noexcept
{
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i separator = _mm256_set1_epi8(delimiter);
    while (end - u >= 32) {
        const __m256i b = load(u);
        // The sign bit marks the bytes from 0x80 on.
        const __m256i special = _mm256_or_si256(
            _mm256_or_si256(breakLanes(b), _mm256_cmpeq_epi8(b, quote)), _mm256_or_si256(_mm256_cmpeq_epi8(b, separator), b));
        if (const std::uint32_t mask = bits(special))
            return u + __builtin_ctz(mask);
        u += 32;
    }
    return u;
}

PLISTABLE_AVX2_TARGET const unsigned char* skipUnescapedXmlAvx2(const unsigned char* u, const unsigned char* end) noexcept
{
    const __m256i lastControl = _mm256_set1_epi8(0x1F);
    while (end - u >= 32) {
        const __m256i b = load(u);
        const __m256i control = _mm256_cmpeq_epi8(_mm256_max_epu8(b, lastControl), lastControl);
        const __m256i markup = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(b, _mm256_set1_epi8('&')), _mm256_cmpeq_epi8(b, _mm256_set1_epi8('<'))),
            _mm256_or_si256(_mm256_cmpeq_epi8(b, _mm256_set1_epi8('>')),
                            _mm256_cmpeq_epi8(b, _mm256_set1_epi8(static_cast<char>(0xEF)))));
        if (const std::uint32_t mask = bits(_mm256_or_si256(control, markup)))
            return u + __builtin_ctz(mask);
        u += 32;
    }
    return u;
}

} // namespace plistable::detail
#endif
