#pragma once

namespace plistable::detail {

// The three character sets the readers and the writer share, exactly:
//   newline:    U+000A..U+000D, U+0085, U+2028, U+2029 (so a vertical tab and a form feed end lines)
//   whitespace: U+0009 and the space separators (general category Zs)
//   whitespace-and-newline: their union

constexpr bool isNewline(char16_t c) noexcept
{
    return (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

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
