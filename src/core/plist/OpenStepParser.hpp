#pragma once

#include "core/plist/PlistValue.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {

/// A comment of an old-style text, as written.
struct OpenStepComment {
    Text text;                    ///< the characters between "/*" and "*/", or after "//" up to the line end
    bool block = false;           ///< written as "/* ... */" (else "// ...")
    std::uint64_t firstLine = 0;  ///< 1-based line where it begins
    std::uint64_t lastLine = 0;   ///< 1-based line where it ends
};

/// One entry of a dictionary at the top of an old-style text (braced, or the strings-file form).
struct OpenStepEntry {
    Text key;
    PlistValue value;
    std::uint64_t line = 0;     ///< 1-based line where the key begins
    std::uint64_t endLine = 0;  ///< 1-based line of the ';' that ends the entry
    /// The comments between the end of the previous entry (or the start of the text, or the
    /// opening brace) and the key, in text order.
    std::vector<OpenStepComment> commentsBefore;
};

/// Why an old-style text could not be read, and where.
struct OpenStepError {
    /// English (UTF-8), without the position: "expected ';' after the value of \"name\"",
    /// "unterminated comment", "unterminated string".
    std::string message;
    /// 1-based line: where the offending value ends, or, for a string, comment, array or
    /// dictionary never closed, where it began.
    std::uint64_t line = 0;
    /// Offset of the fault in the text, in characters (UTF-16 code units).
    std::uint64_t offset = 0;
};

/// Receives what OpenStepParser reads, in text order. Every operation does nothing unless overridden.
class OpenStepParserDelegate {
public:
    virtual ~OpenStepParserDelegate() = default;

    /// The root is a dictionary: braced (`{ ... }`), or the strings-file form (`stringsForm`:
    /// `key = value;` entries with no braces, `"key";` standing for `"key" = "key";`).
    virtual void parserDidStartRootDictionary(bool stringsForm) { (void)stringsForm; }
    /// One complete entry of the root dictionary; entries come in text order, repeated keys included.
    virtual void parserDidReadEntry(OpenStepEntry&& entry) { (void)entry; }
    /// The root is an array.
    virtual void parserDidStartRootArray() {}
    /// One complete element of the root array, in order, with the 1-based line where it begins.
    virtual void parserDidReadArrayElement(PlistValue&& element, std::uint64_t line)
    {
        (void)element;
        (void)line;
    }
    /// The root is a single value (a string, data or a typed scalar).
    virtual void parserDidReadRootValue(PlistValue&& value) { (void)value; }
    /// The comments after the last entry or element, before the end of the text.
    virtual void parserDidReadTrailingComments(std::vector<OpenStepComment>&& comments) { (void)comments; }
    /// A dictionary (the root or one inside a value) names `key` a second time, at 1-based `line`.
    /// Inside a value the later value replaces the earlier one in the earlier one's place; the root's
    /// entries all come to parserDidReadEntry() as written.
    virtual void parserDidRepeatKey(std::u16string_view key, std::uint64_t line)
    {
        (void)key;
        (void)line;
    }
};

/// The old-style ("OpenStep", NeXTSTEP) property-list grammar, text in, values out; no I/O.
///
/// Dictionaries `{ key = value; ... }` (every entry ends in ';'), arrays `( value, value )` (a
/// trailing comma allowed), strings quoted with '"' (escapes \a \b \f \n \r \t \v \" \\, '\' and
/// 1-3 octal digits, \U and 1-4 hex digits) or unquoted (A-Z a-z 0-9 _ $ + / : . -), data
/// `<0fbd77 1c2735ae>`, comments `/* ... */` and `// ...` wherever white space may stand. Every
/// scalar is a string, except GNUstep's typed forms `<*I12>`, `<*R1.5>`, `<*BY>`/`<*BN>` and
/// `<*D2024-01-02 03:04:05 +0000>` (integer, real, boolean, date). A text whose top level is
/// `key = value;` entries with no braces is a dictionary (the strings-file form). Never throws on
/// bad data; nesting deeper than maxPropertyListDepth is an error.
class OpenStepParser {
public:
    /// Decodes the bytes of an old-style text: UTF-8 (with or without a byte-order mark), or
    /// UTF-16 with a mark, or UTF-16 without one when the text begins with an ASCII character and
    /// a zero byte in either order. Nothing, with `error` set (naming the byte offset), otherwise.
    static std::optional<Text> decode(std::string_view bytes, OpenStepError& error);

    /// Parses `text`, reporting the root and its entries or elements to `delegate` as each is
    /// complete. Nothing on success; the first fault otherwise (what was reported stays reported).
    static std::optional<OpenStepError> parse(std::u16string_view text, OpenStepParserDelegate& delegate);

    /// `text` as an old-style quoted string, UTF-8: '"', '\' and control characters escaped (\n \t
    /// \r \" \\ as such, other control characters as \U and four hex digits), every other character
    /// as it is.
    static std::string quoted(std::u16string_view text);
};

} // namespace plistable
