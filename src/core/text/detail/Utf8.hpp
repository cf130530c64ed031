#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plistable::detail {

/// Offset of the first byte that does not begin a well-formed UTF-8 sequence (overlong forms,
/// encoded surrogates, values above U+10FFFF, stray continuation bytes, a sequence cut off at the
/// end), or bytes.size() when all of `bytes` is well-formed. One pass; ASCII runs go a word at a time.
std::size_t validUtf8Length(std::string_view bytes) noexcept;

/// True when `bytes` (1 to 3 of them) are the start of a well-formed UTF-8 character that more
/// bytes could complete.
bool isIncompleteUtf8Sequence(std::string_view bytes) noexcept;

/// True when all of `bytes` is well-formed UTF-8.
inline bool isWellFormedUtf8(std::string_view bytes) noexcept
{
    return validUtf8Length(bytes) == bytes.size();
}

/// Appends the UTF-16 form of well-formed UTF-8 `bytes` to `out`. Returns false, with `out` as it
/// was, when `bytes` is not well-formed.
bool appendUtf8AsUtf16(std::string_view bytes, std::u16string& out);

/// Appends the UTF-16 form of the longest well-formed prefix of `bytes` to `out` and returns that
/// prefix's length in bytes (as validUtf8Length() gives it), in one pass.
std::size_t appendUtf8PrefixAsUtf16(std::string_view bytes, std::u16string& out);

/// Appends the UTF-8 form of `text` to `out`. Returns false, with `out` as it was, when `text`
/// holds a lone surrogate.
bool appendUtf16AsUtf8(std::u16string_view text, std::string& out);

} // namespace plistable::detail
