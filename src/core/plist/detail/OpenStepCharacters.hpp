#pragma once
// Character classes of property list text, by code point (a byte, a UTF-16 unit), shared by the
// old-style grammar, the straight old-style scanner and the scalar parsers so that they agree.

namespace plistable::detail {

/// A character an old-style string may hold without quotes.
constexpr bool isOpenStepUnquoted(char32_t c) noexcept
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U'_'
           || c == U'$' || c == U'+' || c == U'/' || c == U':' || c == U'.' || c == U'-';
}

/// The value of a hexadecimal digit, or -1 for any other character.
constexpr int hexDigitValue(char32_t c) noexcept
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    return -1;
}

} // namespace plistable::detail
