#pragma once
// Scanner kernels 32 bytes a step, for processors with AVX2 (see useAvx2() in Simd.hpp). Each
// does the work of a loop in a scanner on whole blocks only and leaves the rest to that loop; each
// is tested against the plain loop. Only the bodies of these functions use AVX2 instructions, so
// the unit can be linked into builds for any x86-64 processor.
#include "core/text/detail/Simd.hpp"

#include <cstddef>
#include <cstdint>

namespace plistable::detail {

#if PLISTABLE_AVX2
/// A bit per byte of the 64 at `block` that is '"', `separator` or a line break (0A..0D).
std::uint64_t csvEndTextMaskAvx2(const char* block, char separator) noexcept;

/// How many bytes of text[0, 32 * blocks) are `byte`.
std::size_t countByteAvx2(const char* text, std::size_t blocks, char byte) noexcept;

/// In text[0, 32 * blocks), the byte before which is no CR: line breaks (0A..0D) that are not the
/// LF of a CR LF pair, continuation bytes (80..BF), and lead bytes of four-byte sequences (F0..FF).
struct CsvByteCounts {
    std::size_t lines = 0;
    std::size_t continuations = 0;
    std::size_t longLeads = 0;
};
CsvByteCounts countCsvBytesAvx2(const char* text, std::size_t blocks) noexcept;

/// skipPlainXmlText() 32 bytes a step: the first byte of [u, end) that is not plain character data,
/// or the first of the last (fewer than 32) bytes, which it does not look at.
const unsigned char* skipPlainXmlTextAvx2(const unsigned char* u, const unsigned char* end) noexcept;

/// The CSV writer's plain-field test 32 bytes a step: the first byte of [u, end) that is not ASCII,
/// is a line break (0A..0D), '"' or `delimiter`, or the first of the last (fewer than 32) bytes.
const unsigned char* skipPlainCsvAsciiAvx2(const unsigned char* u, const unsigned char* end, char delimiter) noexcept;

/// The XML escaper's test 32 bytes a step: the first byte of [u, end) that is a control character
/// (00..1F), '&', '<', '>' or EF, or the first of the last (fewer than 32) bytes.
const unsigned char* skipUnescapedXmlAvx2(const unsigned char* u, const unsigned char* end) noexcept;
#endif

} // namespace plistable::detail
