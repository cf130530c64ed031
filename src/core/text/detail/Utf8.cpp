#include "core/text/detail/Utf8.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "core/text/detail/Simd.hpp"

namespace plistable::detail {
namespace {

constexpr std::uint64_t highBits = 0x8080808080808080ULL;

inline std::uint64_t load64(const unsigned char* p) noexcept
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Length of the well-formed sequence starting with the non-ASCII byte at p[0], or 0 when it is
// not well-formed. The ranges are those of the Unicode standard's table of well-formed UTF-8.
inline std::size_t sequenceLength(const unsigned char* p, std::size_t left) noexcept
{
    const unsigned char b0 = p[0];
    auto cont = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return i < left && p[i] >= lo && p[i] <= hi;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b0 == 0xE0)
        return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF)
        return cont(1) && cont(2) ? 3 : 0;
    if (b0 == 0xED) // U+D000..U+D7FF only: no encoded surrogates
        return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (b0 == 0xF0)
        return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (b0 >= 0xF1 && b0 <= 0xF3)
        return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (b0 == 0xF4) // nothing above U+10FFFF
        return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

} // namespace

std::size_t validUtf8Length(std::string_view bytes) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            // ASCII is the common case: skip it 16 bytes at a time.
            while (i + 16 <= n && ((load64(p + i) | load64(p + i + 8)) & highBits) == 0)
                i += 16;
            continue;
        }
        const std::size_t len = sequenceLength(p + i, n - i);
        if (len == 0)
            return i;
        i += len;
    }
    return n;
}

bool appendUtf8AsUtf16(std::string_view bytes, std::u16string& out)
{
    const std::size_t start = out.size();
    if (appendUtf8PrefixAsUtf16(bytes, out) == bytes.size())
        return true;
    out.resize(start);
    return false;
}

std::size_t appendUtf8PrefixAsUtf16(std::string_view bytes, std::u16string& out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const std::size_t start = out.size();
    // UTF-16 never needs more units than UTF-8 has bytes.
    out.resize(start + n);
    char16_t* dst = out.data() + start;
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
#if PLISTABLE_SSE2
            // Sixteen ASCII bytes at a time, widened by interleaving with zero bytes: this loop
            // is most of the decoding time of a mostly-ASCII text.
            const __m128i zero = _mm_setzero_si128();
            // A chunk that holds other bytes is stored whole all the same (out has room for n
            // units) and only its ASCII start is kept.
            while (i + 16 <= n) {
                const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi8(chunk, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8), _mm_unpackhi_epi8(chunk, zero));
                const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(chunk));
                if (mask != 0) {
                    const unsigned ascii = static_cast<unsigned>(std::countr_zero(mask));
                    dst += ascii;
                    i += ascii;
                    break;
                }
                dst += 16;
                i += 16;
            }
            if (i < n && p[i] >= 0x80)
                continue;
#endif
            while (i + 8 <= n && (load64(p + i) & highBits) == 0) {
                for (int k = 0; k < 8; ++k)
                    *dst++ = p[i + k];
                i += 8;
            }
            while (i < n && p[i] < 0x80)
                *dst++ = p[i++];
            continue;
        }
        // Two- and three-byte characters outside the special ranges of the lead byte (most
        // non-ASCII text) skip the full check.
        const unsigned b0 = p[i];
        if (b0 >= 0xE1 && b0 != 0xED && b0 <= 0xEF && i + 2 < n && (p[i + 1] & 0xC0) == 0x80
            && (p[i + 2] & 0xC0) == 0x80) {
            *dst++ = static_cast<char16_t>(((b0 & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu));
            i += 3;
            continue;
        }
        if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
            *dst++ = static_cast<char16_t>(((b0 & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu));
            i += 2;
            continue;
        }
        const std::size_t len = sequenceLength(p + i, n - i);
        if (len == 0)
            break;
        std::uint32_t cp;
        if (len == 2)
            cp = ((p[i] & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu);
        else if (len == 3)
            cp = ((p[i] & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
        else
            cp = ((p[i] & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6)
                 | (p[i + 3] & 0x3Fu);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *dst++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *dst++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *dst++ = static_cast<char16_t>(cp);
        }
        i += len;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return i;
}

bool appendUtf16AsUtf8(std::u16string_view text, std::string& out)
{
    const std::size_t start = out.size();
    out.resize(start + text.size() * 3);
    char* dst = out.data() + start;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
#if PLISTABLE_SSE2
        // Eight ASCII units at a time, narrowed to bytes; a block holding any other unit is stored
        // all the same (out has room for three bytes per unit) and kept up to that unit.
        while (n - i >= 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(units, units));
            // Units above U+007F have a bit of 0xFF80 set.
            const __m128i wide = _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80))),
                                                 _mm_setzero_si128());
            const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(wide));
            if (ascii == 0xFFFF) {
                i += 8;
                dst += 8;
                continue;
            }
            const auto run = static_cast<std::size_t>(std::countr_zero(~ascii & 0xFFFF) >> 1);
            i += run;
            dst += run;
            break;
        }
        if (i == n)
            break;
#endif
        std::uint32_t c = text[i];
        if (c < 0x80) {
            *dst++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *dst++ = static_cast<char>(0xC0 | (c >> 6));
            *dst++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (c > 0xDBFF || i + 1 == n || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                out.resize(start);
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            *dst++ = static_cast<char>(0xF0 | (c >> 18));
            *dst++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *dst++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *dst++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *dst++ = static_cast<char>(0xE0 | (c >> 12));
            *dst++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *dst++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return true;
}

bool isIncompleteUtf8Sequence(std::string_view bytes) noexcept
{
    if (bytes.empty() || bytes.size() > 3)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (p[0] >= 0xC2 && p[0] <= 0xDF)
        need = 2;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF)
        need = 3, lo = p[0] == 0xE0 ? 0xA0 : 0x80, hi = p[0] == 0xED ? 0x9F : 0xBF;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4)
        need = 4, lo = p[0] == 0xF0 ? 0x90 : 0x80, hi = p[0] == 0xF4 ? 0x8F : 0xBF;
    else
        return false;
    if (bytes.size() >= need)
        return false;
    if (bytes.size() >= 2 && (p[1] < lo || p[1] > hi))
        return false;
    return bytes.size() < 3 || (p[2] >= 0x80 && p[2] <= 0xBF);
}

} // namespace plistable::detail
