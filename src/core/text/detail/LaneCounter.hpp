#pragma once
#include "core/text/detail/Simd.hpp"

#include <cstddef>

namespace plistable::detail {

#if PLISTABLE_SSE2
// Adds up byte lanes that are 0 or 0xFF (one per unit that counts), a block at a time: each lane
// counts to at most 255, then the lanes are summed into a plain count. This is without a
// population count, which a build for plain x86-64 makes a library call.
class LaneCounter {
public:
    void add(__m128i hits)
    {
        _lanes = _mm_sub_epi8(_lanes, hits);
        if (++_added == 255)
            flush();
    }
    std::size_t total()
    {
        flush();
        return _total;
    }

private:
    void flush()
    {
        // Sums of absolute differences from zero: the two halves' byte sums, one per 64-bit lane.
        const __m128i sums = _mm_sad_epu8(_lanes, _mm_setzero_si128());
        _total += static_cast<std::size_t>(_mm_cvtsi128_si32(sums))
                  + static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        _lanes = _mm_setzero_si128();
        _added = 0;
    }
    __m128i _lanes = _mm_setzero_si128();
    unsigned _added = 0;
    std::size_t _total = 0;
};
#endif

} // namespace plistable::detail
