#pragma once

#include "core/plist/OpenStepParser.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable::detail {

/// One entry of a strings file, its text in UTF-8.
struct StringsEntry {
    std::string key;
    std::string value;
    std::string comment;    ///< the entry's own comment (see stringsEntries()), without its markers
    std::uint64_t line = 0; ///< 1-based line of the key; 0 for an entry not read from a file

    /// Equal when key, value and comment are (the line does not count).
    bool sameText(const StringsEntry& other) const
    {
        return key == other.key && value == other.value && comment == other.comment;
    }
};

/// How the bytes of a strings file are encoded.
struct StringsEncoding {
    bool utf16 = false;     ///< UTF-16 (else UTF-8)
    bool bigEndian = false; ///< UTF-16 only: big-endian byte order
    bool mark = false;      ///< the file begins with a byte-order mark
};

/// What surrounds the entries of a strings file, so that a file is written back as it was laid out.
/// The default is the layout of Xcode's string extraction: no head, an empty line after every entry.
struct StringsLayout {
    std::u16string head;    ///< the lines before the first entry and its comment (a licence, a blank line)
    bool blankLines = true; ///< an empty line between two entries
    std::u16string tail = u"\n"; ///< the lines after the last entry's line

    friend bool operator==(const StringsLayout&, const StringsLayout&) = default;
};

/// A strings file read whole.
struct StringsFile {
    std::vector<StringsEntry> entries; ///< in file order, repeated keys included
    StringsLayout layout;
    StringsEncoding encoding;
};

/// The entries of a strings file from the parser's entries. An entry's comment is the last comment
/// before it, unless an empty line stands between them (a file header, a licence) or it begins on
/// the line where the previous entry ends; "//" comments on consecutive lines make one comment.
/// One space just inside the markers ("/* text */", "// text") is not part of the text. A value
/// that is no string is taken in its text form.
std::vector<StringsEntry> stringsEntries(std::vector<OpenStepEntry>&& entries);

/// Reads the bytes of a strings file (UTF-8 or UTF-16, see OpenStepParser::decode()). Nothing, with
/// `error` set (with its line), when the bytes do not decode, the grammar fails, or the text is no
/// dictionary. An empty text is a file without entries.
std::optional<StringsFile> readStringsFile(std::string_view bytes, OpenStepError& error);

/// The bytes of a strings file holding `entries` in `layout`: the head, then per entry its comment
/// as "/* comment */" on a line of its own (when it has one) and `"key" = "value";`, entries
/// separated by an empty line when the layout has them, then the tail (the head alone without entries).
std::string writeStringsFile(const std::vector<StringsEntry>& entries, const StringsLayout& layout,
                             const StringsEncoding& encoding);

} // namespace plistable::detail
