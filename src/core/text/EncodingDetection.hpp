#pragma once

#include "core/text/TextEncoding.hpp"

#include <array>
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
TextEncoding detectEncoding(std::string_view bytes);

/// As detectEncoding(bytes), and sets `decoded` to the bytes decoded under the encoding chosen, which
/// equals decodeText(bytes, chosen): the text of the successful trial is kept, not decoded again.
/// `decoded` is left empty only when the chosen encoding cannot decode the bytes either.
TextEncoding detectEncoding(std::string_view bytes, std::optional<Text>& decoded);

} // namespace plistable
