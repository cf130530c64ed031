#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plistable {

/// Text is a sequence of UTF-16 code units; a "character" is one code unit, and every index and
/// length in this library counts code units.
using Text = std::u16string;

/// A text encoding identifier in the desktop platform's numbering; 0 means no encoding is known.
using TextEncoding = std::uint64_t;

inline constexpr TextEncoding NSJapaneseEUCStringEncoding = 3;         ///< EUC-JP
inline constexpr TextEncoding NSUTF8StringEncoding = 4;                ///< UTF-8
inline constexpr TextEncoding NSISOLatin1StringEncoding = 5;           ///< ISO 8859-1
inline constexpr TextEncoding NSNonLossyASCIIStringEncoding = 7;       ///< 7-bit ASCII with backslash escapes
inline constexpr TextEncoding NSShiftJISStringEncoding = 8;            ///< Shift_JIS
inline constexpr TextEncoding NSUnicodeStringEncoding = 10;            ///< UTF-16 with byte-order mark
inline constexpr TextEncoding NSWindowsCP1251StringEncoding = 11;      ///< Windows code page 1251
inline constexpr TextEncoding NSWindowsCP1252StringEncoding = 12;      ///< Windows code page 1252
inline constexpr TextEncoding NSWindowsCP1253StringEncoding = 13;      ///< Windows code page 1253
inline constexpr TextEncoding NSWindowsCP1254StringEncoding = 14;      ///< Windows code page 1254
inline constexpr TextEncoding NSWindowsCP1250StringEncoding = 15;      ///< Windows code page 1250
inline constexpr TextEncoding NSISO2022JPStringEncoding = 21;          ///< ISO-2022-JP
inline constexpr TextEncoding NSMacOSRomanStringEncoding = 30;         ///< Mac OS Roman
inline constexpr TextEncoding NSUTF16BigEndianStringEncoding = 0x90000100;    ///< UTF-16BE, no mark
inline constexpr TextEncoding NSUTF16LittleEndianStringEncoding = 0x94000100; ///< UTF-16LE, no mark
inline constexpr TextEncoding NSUTF32BigEndianStringEncoding = 0x98000100;    ///< UTF-32BE, no mark
inline constexpr TextEncoding NSUTF32LittleEndianStringEncoding = 0x9C000100; ///< UTF-32LE, no mark
inline constexpr TextEncoding NSISO2022KRStringEncoding = 0x80000840;         ///< ISO-2022-KR

/// Short human name of an identifier ("UTF-8", "Shift_JIS", "Mac OS Roman"); empty when unknown.
std::string_view encodingName(TextEncoding encoding);

/// Decodes all of `bytes`. Gives the whole text, or nothing when any byte sequence is invalid,
/// cut off at the end, or unassigned in the encoding, or the identifier is unknown. Never substitutes.
/// UTF-16 with byte-order mark (10) takes the mark's byte order, big-endian without one, and drops
/// the mark; every other encoding keeps a leading U+FEFF as text.
std::optional<Text> decodeText(std::string_view bytes, TextEncoding encoding);

/// Encodes all of `text`. Gives every byte, or nothing when any character (a lone surrogate, a
/// character outside the repertoire) cannot be represented. For 10 the result is the mark FF FE
/// followed by little-endian UTF-16.
std::optional<std::string> encodeText(std::u16string_view text, TextEncoding encoding);

/// The canonical converter name for an encoding name or alias ("cp932", "windows-1252", "utf8"),
/// or nothing when no converter has that name.
std::optional<std::string> canonicalEncodingName(std::string_view name);

/// As decodeText, with the encoding given by a name that canonicalEncodingName() accepts.
std::optional<Text> decodeTextNamed(std::string_view bytes, std::string_view name);

/// Converts UTF-16 to UTF-8 for messages and file names: a lone surrogate becomes U+FFFD.
std::string toUtf8Lossy(std::u16string_view text);

/// Converts UTF-8 to UTF-16 for literals and arguments: an invalid sequence becomes U+FFFD.
Text fromUtf8Lossy(std::string_view bytes);

} // namespace plistable
