#pragma once

#include "core/text/TextEncoding.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace plistable {

namespace detail {
class IcuConverter;
}

/// Encodes text into one encoding named by the caller (any converter name or alias, as
/// canonicalEncodingName() accepts), piece by piece, never substituting: it stops at the first
/// character the encoding cannot hold and tells which. Asked for by a name of Windows' Japanese code
/// page (cp932, windows-31j, ms932, windows-932), it writes the seven JIS forms U+301C, U+2016,
/// U+2212, U+2014, U+00A2, U+00A3 and U+00AC as that code page's 0x8160, 0x8161, 0x817C, 0x815C,
/// 0x8191, 0x8192 and 0x81CA, as Windows and macOS converters do, and counts them; a strict
/// Shift_JIS still refuses them. Not thread-safe.
class TextEncoder {
public:
    /// An encoder for `name`; nothing when no converter has that name.
    static std::optional<TextEncoder> open(std::string_view name);

    TextEncoder(TextEncoder&&) noexcept;
    TextEncoder& operator=(TextEncoder&&) noexcept;
    ~TextEncoder();

    /// Appends the bytes of `text` to `out`, the state of a stateful encoding carried on to the
    /// next piece; `last` ends the text. Nothing when every character was encoded; else the offset
    /// (UTF-16 units) of the first one that cannot be, with the bytes before it appended.
    std::optional<std::size_t> encode(std::u16string_view text, std::string& out, bool last = false);

    /// A name for messages: the encoding's MIME or IANA name when it has one ("ISO-8859-1",
    /// "Shift_JIS"), else the converter's own.
    const std::string& name() const { return _name; }

    /// The converter's canonical name ("UTF-8", "ISO-8859-1", "ibm-943_P15A-2003").
    const std::string& canonicalName() const { return _canonicalName; }

    /// True for the Unicode encodings that write no byte-order mark of their own (UTF-8,
    /// UTF-16LE/BE, UTF-32LE/BE), in which a caller may begin the text with one.
    bool takesByteOrderMark() const;

    /// `"日" (U+65E5) cannot be written in NAME`, NAME as the caller asked for the encoding: why
    /// `character` (a code point) stopped encoding.
    std::string describeUnencodable(char32_t character) const;

    /// How many characters were written in their Windows forms so far (see above).
    std::size_t windowsForms() const { return _windowsForms; }

    /// `3 characters written in their Windows forms (〜 → ～)`, each character met shown once, or
    /// empty when there were none.
    std::string describeWindowsForms() const;

private:
    TextEncoder(std::unique_ptr<detail::IcuConverter> converter, std::string name, std::string canonicalName);

    std::unique_ptr<detail::IcuConverter> _converter;
    std::string _name;
    std::string _canonicalName;
    std::string _askedName;        // as the caller named the encoding
    bool _windowsCodePage = false; // asked for as Windows' Japanese code page
    std::u16string _substituted;   // the piece with the Windows forms, reused
    std::size_t _windowsForms = 0;
    std::u16string _formsMet;      // each JIS form written in its Windows form, in order of first meeting
};

} // namespace plistable
