#pragma once

#include "core/plist/PlistValue.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace plistable::detail {

// Parsers for the text of the scalar elements of an XML property list. Each takes the element's
// character data as UTF-8 and ignores XML whitespace (space, tab, CR, LF) around the value;
// nothing means the text is not a valid value of that kind.

/// <integer>: optional sign, then decimal digits or 0x and hex digits. Integer kind within the
/// signed 64-bit range, Unsigned kind above it up to 2^64 - 1; nothing beyond.
std::optional<PlistValue> parseIntegerText(std::string_view text);

/// <real>: a decimal or exponent number as strtod reads it in the C locale, or inf, infinity and
/// nan in any case with an optional sign. Values beyond the double range become infinities.
std::optional<PlistValue> parseRealText(std::string_view text);

/// <date>: YYYY-MM-DDTHH:MM:SSZ (optionally with fractional seconds, the year may be longer
/// or negative), in UTC, as a date of seconds since 2001-01-01T00:00:00Z.
std::optional<PlistValue> parseDateText(std::string_view text);

/// <data>: base64 with whitespace anywhere ignored and '=' padding optional at the end.
std::optional<std::string> decodeBase64Text(std::string_view text);

/// True for the whitespace XML allows between elements: space, tab, CR, LF.
constexpr bool isXmlSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace plistable::detail
