#pragma once

#include "core/text/TextEncoding.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace plistable {

/// The candidates of detectEncoding(), in the order they are tried.
inline constexpr std::array<TextEncoding, 12> encodingCandidates = {
    NSUTF8StringEncoding,          NSNonLossyASCIIStringEncoding, NSShiftJISStringEncoding,
    NSJapaneseEUCStringEncoding,   NSMacOSRomanStringEncoding,    NSWindowsCP1251StringEncoding,
    NSWindowsCP1252StringEncoding, NSWindowsCP1253StringEncoding, NSWindowsCP1254StringEncoding,
    NSWindowsCP1250StringEncoding, NSISOLatin1StringEncoding,     NSUnicodeStringEncoding,
};

/// Chooses the encoding of a whole file's bytes by trial decoding: ISO-2022-JP when the bytes hold
/// an ESC (0x1B) and decode as ISO-2022-JP; else the first of encodingCandidates under which all of
/// the bytes decode; else the last candidate. In practice the answer is UTF-8, ISO-2022-JP,
/// Shift_JIS, EUC-JP or Mac OS Roman (which takes any bytes). The empty buffer gives UTF-8.
/// UTF-8 whose only fault is a character cut off by the end of the bytes counts as UTF-8 (see
/// cutOffUtf8Length()).
TextEncoding detectEncoding(std::string_view bytes);

/// The number of bytes (1 to 3) of the UTF-8 character that the end of `bytes` cuts off, when that
/// cut is the only thing keeping all of `bytes` from being well-formed UTF-8 and the bytes before it
/// hold a multi-byte character (ASCII ending in a lone lead byte may as well be Latin-1); else 0.
std::size_t cutOffUtf8Length(std::string_view bytes);

/// decodeText(bytes, encoding), except that UTF-8 whose last character is cut off decodes with that
/// character as one U+FFFD. Nothing when the bytes do not decode.
std::optional<Text> decodeDetectedText(std::string_view bytes, TextEncoding encoding);

/// As detectEncoding(bytes), and sets `decoded` to the bytes decoded under the encoding chosen, which
/// equals decodeDetectedText(bytes, chosen): the text of the successful trial is kept, not decoded again.
/// `decoded` is left empty only when the chosen encoding cannot decode the bytes either.
TextEncoding detectEncoding(std::string_view bytes, std::optional<Text>& decoded);

} // namespace plistable
