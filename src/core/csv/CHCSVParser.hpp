#pragma once

#include "core/csv/CHCSVError.hpp"
#include "core/csv/CHCSVParserDelegate.hpp"
#include "core/io/InputStream.hpp"
#include "core/text/TextEncoding.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace plistable {

namespace detail {
class CHCSVInput;
}

/// The streaming CSV reader: reads CSV text from a byte stream one character at a time and sends
/// documents, lines, fields, comments and errors to its delegate, holding only the current field
/// and a short look-ahead in memory. A reader parses its stream once.
///
/// Failures are events, never exceptions: parserDidFailWithError carries a CHCSVError (code 1 an
/// unexpected character after a field, 2 an unterminated quoted field, 3 undecodable bytes, 4 an
/// unreadable stream). The line in progress still ends first; parserDidEndDocument is then not sent.
/// Only bad construction arguments throw (AssertionFailure).
class CHCSVParser {
public:
    /// Whether the reader takes `delimiter`: every UTF-16 unit but 0, a line break (U+000A to U+000D,
    /// U+0085, U+2028, U+2029), the double quote and "#". The constructor asserts this.
    static bool acceptsDelimiter(char16_t delimiter);

    /// Reads `stream` (opened here, closed by the destructor) with `delimiter` between fields.
    /// `usedEncoding`: nullptr sniffs the encoding; a non-zero value is used as given (nothing is
    /// sniffed or removed); 0 sniffs and writes the result back (0 for an empty stream). Sniffing
    /// takes a byte-order mark, else UTF-8 when the first 512 bytes are UTF-8, else Mac OS Roman.
    /// Throws AssertionFailure for a missing stream or a delimiter acceptsDelimiter refuses.
    CHCSVParser(std::unique_ptr<InputStream> stream, TextEncoding* usedEncoding, char16_t delimiter);

    /// Reads the file at `csvFilePath` with a sniffed encoding and the comma delimiter. A file that
    /// cannot be opened gives a code-4 failure when parsed.
    explicit CHCSVParser(const std::string& csvFilePath);

    /// Reads `csvString` (from a copy of its bytes in UTF-16) with the comma delimiter.
    explicit CHCSVParser(const Text& csvString);

    ~CHCSVParser();
    CHCSVParser(const CHCSVParser&) = delete;
    CHCSVParser& operator=(const CHCSVParser&) = delete;

    /// The receiver of events; not owned; nullptr (the default) parses silently.
    CHCSVParserDelegate* delegate() const { return _delegate; }
    /// Replaces the receiver of events (also during a parse, from inside an event).
    void setDelegate(CHCSVParserDelegate* delegate);

    /// A backslash makes the next character literal (also a line break, quote or delimiter). Default false.
    bool recognizesBackslashesAsEscapes() const { return _recognizesBackslashesAsEscapes; }
    void setRecognizesBackslashesAsEscapes(bool value) { _recognizesBackslashesAsEscapes = value; }

    /// Fields are reported without quotes, escapes and surrounding whitespace; otherwise as the raw
    /// text between the delimiters. Default false.
    bool sanitizesFields() const { return _sanitizesFields; }
    void setSanitizesFields(bool value) { _sanitizesFields = value; }

    /// A line whose very first character is "#" is a comment. Default false.
    bool recognizesComments() const { return _recognizesComments; }
    void setRecognizesComments(bool value) { _recognizesComments = value; }

    /// Bytes taken from the stream so far, a byte-order mark and bytes not yet decoded included.
    std::uint64_t totalBytesRead() const;
    /// Replaces the count; later reads add to the new value.
    void setTotalBytesRead(std::uint64_t count);

    /// The encoding the stream is decoded with; 0 when none is known (an empty stream).
    TextEncoding streamEncoding() const;

    /// Reads the whole input and sends every event before it returns.
    void parse();

    /// Stops the parse in progress (call it from inside an event): no line, field, comment or
    /// failure event follows, and parserDidEndDocument ends the parse.
    void cancelParsing() { _cancelled = true; }

    /// The error the last parse stopped with, if any.
    const std::optional<CHCSVError>& error() const { return _error; }

private:
    void initialize(std::unique_ptr<InputStream> stream, TextEncoding* usedEncoding, char16_t delimiter);
    bool parseRecord();
    bool parseComment();
    bool parseNewline();
    bool parseField();
    void parseFieldWhitespace();
    bool parseEscapedField();
    bool parseUnescapedField();
    bool parseDelimiter();
    void beginRecord();
    void endRecord();
    void endField();
    void endComment();
    void recordError(std::int64_t code, std::string message);
    [[gnu::cold]] void recordUnexpectedCharacter(char16_t found);
    bool isValidFieldCharacter(int c) const;

    bool wants(CHCSVParserDelegate::Operation operation) const { return (_operations & operation) != 0; }

    std::unique_ptr<detail::CHCSVInput> _input;
    Text _sanitizedField;
    char16_t _delimiter = u',';
    std::optional<CHCSVError> _error;
    std::uint64_t _currentRecord = 0;
    std::int64_t _fieldIndex = 0;
    bool _cancelled = false;
    CHCSVParserDelegate* _delegate = nullptr;
    unsigned _operations = 0; // what _delegate implements
    bool _recognizesBackslashesAsEscapes = false;
    bool _sanitizesFields = false;
    bool _recognizesComments = false;
    std::uint64_t _fieldStart = 0; // input position where the current field or comment began
    bool _validAscii[128]; // the ASCII part of the valid field characters
    bool _plainAscii[128]; // the same without the backslash
};

} // namespace plistable
