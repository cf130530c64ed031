#pragma once

#include "core/io/OutputStream.hpp"
#include "core/plist/PlistValue.hpp"
#include "core/text/TextEncoding.hpp"

#include <array>
#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plistable {

/// Writes CSV text to an output stream, piece by piece, in a text encoding and with a one-character
/// delimiter fixed when it is made. A field is quoted only when it holds a line-break character, the
/// delimiter or a double quote; line ends are a single line feed. Every field, delimiter, line end
/// and comment line is one write to the stream: the writer keeps no text of its own, unless
/// setBuffersLines() asks it to keep a line's pieces for one write.
///
/// No operation reports a status, but the writer remembers its first failure (text the encoding
/// cannot represent, whose bytes are dropped; a stream that cannot be opened, written or closed):
/// see hasFailed() and failureReason().
class CHCSVWriter {
public:
    /// A UTF-8, comma-delimited writer on a new FileOutputStream for `path`: the file is created, or
    /// emptied, at once. A file that cannot be opened gives a writer whose bytes are all lost;
    /// hasFailed() then says so.
    explicit CHCSVWriter(const std::string& path);

    /// A writer on `stream` (shared with the caller). Opens the stream only when it is not yet open;
    /// one in any other status is used as it is. When the encoding puts a byte-order mark in front
    /// of its output (10, UTF-16 with mark), the mark is written once, now. Any delimiter code unit
    /// is accepted; one the encoding cannot represent leaves nothing between fields.
    CHCSVWriter(std::shared_ptr<OutputStream> stream, TextEncoding encoding, char16_t delimiter);

    /// Closes the stream (see closeStream()).
    ~CHCSVWriter();

    /// Ends every later line with `lineEnd` (e.g. u"\r\n") instead of "\n"; one the encoding cannot
    /// represent ends lines with nothing.
    void setLineEnd(std::u16string_view lineEnd);
    /// With `on`, the pieces of a line are kept and given to the stream in one write when the line
    /// ends (or every 64 KB of a long line, or when the stream is closed), instead of one write per
    /// piece. The bytes are the same; a stream that fails then fails on the line's one write.
    void setBuffersLines(bool on);
    CHCSVWriter(const CHCSVWriter&) = delete;
    CHCSVWriter& operator=(const CHCSVWriter&) = delete;

    /// Writes a delimiter when the line already has a field, then the text, quoted if needed. Text
    /// the encoding cannot represent writes nothing but still counts as a field.
    void writeField(std::u16string_view field);
    /// As writeField() with the value's description() (a string is itself).
    template <std::same_as<PlistValue> Value> // a PlistValue only: texts and literals take the text form
    void writeField(const Value& field)
    {
        writeValue(field);
    }
    /// As writeField() with the value; nullptr stands for an absent value and writes an empty field.
    void writeField(const PlistValue* field);
    /// As writeField() with the UTF-16 form of `utf8`, which must be well-formed UTF-8 (bad bytes
    /// are written as U+FFFD). The same bytes; ASCII fields skip the UTF-16 step.
    void writeUtf8Field(std::string_view utf8);
    /// Writes every element as writeUtf8Field() does, then ends the line as finishLine() does: the
    /// same bytes, and the same writes to the stream. Fields that need no quotes go in as they are,
    /// without the steps of a field each. Bit i of `plainFields` (i < 64) says the caller already
    /// knows field i to be ASCII without a line break, a double quote or plainDelimiter(): it is
    /// not looked at again. A bit set for a field that is not plain writes it unquoted.
    void writeUtf8Line(std::span<const std::string_view> fields, std::uint64_t plainFields = 0);
    /// The delimiter byte writeUtf8Line() takes its plain fields by: the delimiter when it is ASCII,
    /// otherwise a byte no ASCII field holds.
    char plainDelimiter() const { return _delimiterByte; }

    /// Writes the line end (one line feed), also on a line without fields, and starts a new line.
    void finishLine();

    /// Ends a line left open by writeField(), writes every element as a field and ends the line;
    /// an empty collection writes an empty line.
    void writeLineOfFields(const std::vector<Text>& fields);
    /// As above, each value written by its description().
    void writeLineOfFields(const PlistValue::Array& fields);
    /// As above for the elements of an array, or the KEYS of a dictionary in their order. A value
    /// that is no collection is written as the line's only field.
    void writeLineOfFields(const PlistValue& collection);
    /// As above; a nullptr element is an absent value and writes an empty field.
    void writeLineOfFields(const std::vector<const PlistValue*>& fields);

    /// Ends an open line, then writes the comment as lines "#piece\n", one per piece between the
    /// newline characters (a carriage return and line feed give an empty piece between them).
    /// Pieces are neither quoted nor escaped. An absent comment only ends the open line.
    void writeComment(std::optional<std::u16string_view> comment);

    /// Closes the stream and lets go of it, without ending an open line. Later writes are dropped;
    /// a second call does nothing. A failure of the stream while closing is remembered.
    void closeStream();

    /// True when some bytes were lost: text that could not be encoded, a delimiter that could not
    /// be encoded but was needed, or a stream that failed to open, write or close.
    bool hasFailed() const { return !_failureReason.empty(); }

    /// A short description of the first failure with the output line it happened on, or "".
    std::string failureReason() const { return _failureReason; }

private:
    void writeValue(const PlistValue& field);
    void writeString(std::u16string_view text, std::string_view what);
    void writeQuoted(std::u16string_view text);
    void writeData(const char* bytes, std::size_t length);
    void writeRemainder(const char* bytes, std::size_t length, std::ptrdiff_t written);
    void writeData(const std::string& bytes) { writeData(bytes.data(), bytes.size()); }
    void flushOutput();
    void endPiece()
    {
        if (!_buffersLines)
            flushOutput();
    }
    void writeDelimiter();
    /// Starts a field: the delimiter before it, the count, whether it is empty. False when there is
    /// no stream to write it to.
    bool beginField(bool empty);
    void finishLineIfNecessary();
    bool needsQuotes(std::u16string_view text) const;
    void failEncoding(std::string_view what);
    void fail(std::string reason);

    std::shared_ptr<OutputStream> _stream;
    TextEncoding _streamEncoding;
    std::optional<std::string> _delimiter; ///< absent when the encoding cannot represent it
    std::string _bom;                      ///< empty when the encoding puts no mark in front
    /// The characters whose presence makes a field quoted: the newline set, the delimiter and the
    /// double quote, nothing else. Those below U+0080 are looked up, the rest are tested.
    struct IllegalCharacters {
        std::array<bool, 128> ascii{};
        char16_t delimiter = 0;
        bool contains(char16_t c) const;
    };
    IllegalCharacters _illegalCharacters;
    std::uint64_t _delimiterLanes = 0; ///< the delimiter in each 16-bit lane, for the fast scan
    char _delimiterByte = '\x80';      ///< an ASCII delimiter, else a byte no ASCII field holds
    Text _wideField;                    ///< writeUtf8Field()'s UTF-16 form of a field that is not ASCII
    std::uint64_t _currentField = 0;
    bool _lastFieldEmpty = false; ///< the last field written was empty

    bool _utf8;                       ///< the fast path: encode straight into _output
    std::optional<std::string> _lineEnd; ///< "\n" encoded, without mark
    /// The bytes not yet given to the stream: one piece, or with setBuffersLines() the line so far.
    std::string _output;
    bool _buffersLines = false;
    static constexpr std::size_t outputKept = 64 << 10;
    std::uint64_t _line = 1;          ///< 1-based output line, for failure reasons
    std::string _failureReason;
};

} // namespace plistable
